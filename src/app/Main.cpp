#include <iostream>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "app/MainComponent.h"
#include "controls/VYRBorderBoundsConstrainer.h"

#if ! JUCE_MAC
 #include "app/InstanceHandover.h"
 #include "platform/TarvikSimulation.h"
#endif

namespace
{
constexpr int defaultFaceWidth = 316;
constexpr int defaultFaceHeight = 405;

bool isResetOption (const juce::String& commandLine)
{
    return commandLine.equalsIgnoreCase ("/default") || commandLine.equalsIgnoreCase ("/defaults");
}

bool isShutdownOption (const juce::String& commandLine)
{
    return commandLine.equalsIgnoreCase ("/shutdown");
}
} // namespace

//==============================================================================
class TarvikApplication final : public juce::JUCEApplication
{
public:
    /** The one main window, holding the panel; closing it ends the application. */
    class MainWindow final : public juce::DocumentWindow
    {
    public:
        explicit MainWindow (const juce::String& title)
            : juce::DocumentWindow (title, juce::Colours::lightgrey, juce::DocumentWindow::allButtons, true)
        {
            setUsingNativeTitleBar (true);
            setContentOwned (new MainComponent(), true);

            borderConstrainer = std::make_unique<BorderBoundsConstrainer>();
            setConstrainer (borderConstrainer.get());

            // The menu bar's strip above the face is left out of the aspect and the limits.
            borderConstrainer->extraTop = getPanel() != nullptr ? getPanel()->getMenuBarHeight() : 0;

            if (auto* peer = getPeer())
                if (const auto frame = peer->getFrameSizeIfPresent())
                    borderConstrainer->frameBorder = *frame;

            getConstrainer()->setFixedAspectRatio (226.0 / 290.0);
            getConstrainer()->setSizeLimits (226, 290, 452, 580);
        }

        ~MainWindow() override
        {
            setConstrainer (nullptr);
            borderConstrainer.reset();
        }

        MainComponent* getPanel() const { return dynamic_cast<MainComponent*> (getContentComponent()); }

        void closeButtonPressed() override
        {
            if (auto* panel = getPanel())
                panel->savedWindowPosition (getWindowStateAsString());

            juce::JUCEApplication::getInstance()->systemRequestedQuit();
        }

    private:
        std::unique_ptr<BorderBoundsConstrainer> borderConstrainer;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

    TarvikApplication() = default;
    ~TarvikApplication() override { mainDocumentWindow.reset(); }

    const juce::String getApplicationName() override { return "Tarvik Panel"; }
    const juce::String getApplicationVersion() override { return "1.2.0.0"; }

    bool moreThanOneInstanceAllowed() override
    {
       #if JUCE_MAC
        return false;
       #else
        // JUCE's own check here takes one lock for all users and never hands the later
        // launch's command line over; InstanceHandover does both, per user.
        return true;
       #endif
    }

    void initialise (const juce::String& commandLine) override
    {
       #if ! JUCE_MAC
        handover = std::make_unique<InstanceHandover>();

        if (handover->isAnotherInstanceRunning())
        {
            handover->sendToRunningInstance (commandLine);
            handover.reset();
            juce::MessageManager::getInstance()->stopDispatchLoop();
            return;
        }
       #endif

        if (isShutdownOption (commandLine))
        {
            juce::MessageManager::getInstance()->stopDispatchLoop();
            return;
        }

       #if ! JUCE_MAC
        tarvik::sim::Simulation::get().startFromEnvironment();
       #endif

        const bool reset = isResetOption (commandLine);

        auto window = std::make_unique<MainWindow> (getApplicationName() + " v" + getApplicationVersion());
        auto* panel = window->getPanel();
        const int barHeight = panel != nullptr ? panel->getMenuBarHeight() : 0;

        if (reset && panel != nullptr)
            panel->savedWindowPosition ({});

        const auto stored = panel != nullptr ? panel->getUserSettings()->getValue ("WindowPosition", {}) : juce::String();

        window->setResizable (true, true);
        const bool restored = window->restoreWindowStateFromString (stored);

        if (reset || ! restored)
        {
            window->setSize (defaultFaceWidth, defaultFaceHeight + barHeight);
            window->centreWithSize (defaultFaceWidth, defaultFaceHeight + barHeight);
        }

        window->setVisible (true);
        mainDocumentWindow = std::move (window);

        if (panel != nullptr)
        {
            if (reset)
            {
                panel->setFactoryDefaults();
                panel->savedWindowPosition ({});
            }
            else
            {
                const auto position = panel->getScreenPosition();
                std::cerr << "POS: " << position.x << " " << position.y << "\n" << std::flush;
                std::cerr << "POS: Korr: " << (position.x >= 0 ? position.x : 0) << " "
                          << (position.y > 0 ? position.y : 30) << "\n" << std::flush;
            }
        }

       #if ! JUCE_MAC
        handover->startServing ([this] (const juce::String& parameters) { anotherInstanceStarted (parameters); });
       #endif
    }

    void shutdown() override
    {
       #if ! JUCE_MAC
        handover.reset();
       #endif

        if (mainDocumentWindow != nullptr)
        {
            const auto state = mainDocumentWindow->getWindowStateAsString();

            if (auto* panel = mainDocumentWindow->getPanel())
                panel->savedWindowPosition (state);
        }

        mainDocumentWindow.reset();
    }

    void anotherInstanceStarted (const juce::String& commandLine) override
    {
        if (mainDocumentWindow != nullptr)
        {
            if (auto* panel = mainDocumentWindow->getPanel())
            {
                if (isResetOption (commandLine))
                {
                    panel->setFactoryDefaults();
                    panel->savedWindowPosition ({});
                }

                panel->setVisible (true);
                mainDocumentWindow->setVisible (true);
                bringForward();
            }
        }

        if (isShutdownOption (commandLine))
            juce::MessageManager::getInstance()->stopDispatchLoop();
    }

    void systemRequestedQuit() override
    {
        juce::MessageManager::getInstance()->stopDispatchLoop();
    }

private:
    void bringForward()
    {
       #if JUCE_MAC
        if (! juce::SystemStats::isRunningInAppExtensionSandbox())
            juce::Process::makeForegroundProcess();
       #else
        // Coming forward must not change the window's always-on-top state.
        const bool wasOnTop = mainDocumentWindow->isAlwaysOnTop();
        mainDocumentWindow->toFront (true);

        if (mainDocumentWindow->isAlwaysOnTop() != wasOnTop)
            mainDocumentWindow->setAlwaysOnTop (wasOnTop);
       #endif
    }

    std::unique_ptr<MainWindow> mainDocumentWindow;

   #if ! JUCE_MAC
    std::unique_ptr<InstanceHandover> handover;
   #endif
};

START_JUCE_APPLICATION (TarvikApplication)
