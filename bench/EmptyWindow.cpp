// The benchmark's reference program: an empty DocumentWindow of the panel's window size,
// made and shown the way the panel program makes and shows its main window.
#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
class EmptyWindow final : public juce::DocumentWindow
{
public:
    EmptyWindow (int width, int height)
        : juce::DocumentWindow ("Tarvik Empty Window", juce::Colours::lightgrey, juce::DocumentWindow::allButtons, true)
    {
        setUsingNativeTitleBar (true);
        setResizable (true, true);
        setSize (width, height);
        centreWithSize (width, height);
        setVisible (true);
    }

    void closeButtonPressed() override { juce::JUCEApplication::getInstance()->systemRequestedQuit(); }

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EmptyWindow)
};

class EmptyWindowApplication final : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Tarvik Empty Window"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }

    /** The command line is the window's width and height; 316 x 429 when missing. */
    void initialise (const juce::String& commandLine) override
    {
        const auto sizes = juce::StringArray::fromTokens (commandLine, false);
        const int width = sizes.size() > 0 ? juce::jmax (1, sizes[0].getIntValue()) : 316;
        const int height = sizes.size() > 1 ? juce::jmax (1, sizes[1].getIntValue()) : 429;
        window = std::make_unique<EmptyWindow> (width, height);
    }

    void shutdown() override { window.reset(); }

private:
    std::unique_ptr<EmptyWindow> window;
};
} // namespace

START_JUCE_APPLICATION (EmptyWindowApplication)
