#include "app/AboutWindow.h"

#include "app/PanelDialogWindow.h"
#include "resources/VYRBIN.h"

const char* const AboutWindow::makerWebAddress = "http://www.vyr-zelvatek.example";

namespace
{
juce::String applicationVersion()
{
    if (auto* app = juce::JUCEApplication::getInstance())
        return app->getApplicationVersion();

    // Hosted outside the application object (tools, tests): the version this build carries.
    return TARVIK_PANEL_VERSION;
}

/** The link spot: a hyperlink button whose launch can be replaced. */
class LinkSpot final : public juce::HyperlinkButton
{
public:
    // The address is given here rather than through setURL: JUCE 7.0.5's URL
    // copy-assignment copies an empty memory block from a null pointer, which the
    // undefined-behaviour sanitizer rightly stops on. The button is the same either way.
    LinkSpot (const juce::URL& target, const std::function<void (const juce::URL&)>& openerToUse)
        : juce::HyperlinkButton ({}, target),
          opener (openerToUse)
    {
    }

    void clicked() override
    {
        if (opener)
            opener (getURL());
        else
            juce::HyperlinkButton::clicked();
    }

private:
    const std::function<void (const juce::URL&)>& opener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LinkSpot)
};
} // namespace

AboutWindow::AboutWindow()
{
    versionText = "Tarvik";
    versionText << " v" << applicationVersion();

    closeHotspot = std::make_unique<juce::ImageButton> ("");
    linkHotspot = std::make_unique<LinkSpot> (juce::URL (makerWebAddress), linkOpener);

    versionTextPosition = { 275, 186 };

    backgroundImage = juce::ImageCache::getFromMemory (VYRBIN::temp_binary_data_23, VYRBIN::temp_binary_data_23Size);
    setSize (backgroundImage.getWidth(), backgroundImage.getHeight());

    // Fully transparent images with a zero alpha threshold: nothing shows, yet the whole
    // rectangle takes clicks.
    juce::Image normalImage (juce::Image::ARGB, 41, 23, true);
    juce::Image overImage (juce::Image::ARGB, 41, 23, true);
    closeHotspot->setImages (true, true, true,
                             normalImage, 1.0f, juce::Colours::transparentWhite,
                             overImage, 1.0f, juce::Colours::transparentWhite,
                             overImage, 1.0f, juce::Colours::transparentBlack,
                             0.0f);
    closeHotspot->setSize (normalImage.getWidth(), normalImage.getHeight());
    closeHotspot->setTopLeftPosition (109, 166);
    closeHotspot->addListener (this);
    addAndMakeVisible (closeHotspot.get());

    linkHotspot->setSize (138, 20);
    linkHotspot->setTopLeftPosition (59, 140);
    addAndMakeVisible (linkHotspot.get());
}

AboutWindow::~AboutWindow()
{
    closeHotspot->removeListener (this);
    closeHotspot.reset();
    linkHotspot.reset();
}

void AboutWindow::paint (juce::Graphics& g)
{
    g.setColour (juce::Colours::grey);

    if (backgroundImage.isValid())
        g.drawImageAt (backgroundImage, 0, 0);

    g.drawFittedText (versionText, versionTextPosition.x, versionTextPosition.y, 200, 20,
                      juce::Justification::left, 1);
}

void AboutWindow::resized()
{
}

void AboutWindow::buttonClicked (juce::Button* button)
{
    if (button != closeHotspot.get())
        return;

    if (auto* dialog = findParentComponentOfClass<juce::DialogWindow>())
        dialog->exitModalState (0);
}

void AboutWindow::setLinkOpener (std::function<void (const juce::URL&)> opener)
{
    linkOpener = std::move (opener);
}

//==============================================================================
std::unique_ptr<PanelDialogWindow> createAboutDialogWindow (juce::DialogWindow::LaunchOptions& options,
                                                             AboutWindow* content)
{
    const auto contentWidth = content->getWidth();
    const auto contentHeight = content->getHeight();

    auto window = std::make_unique<PanelDialogWindow> (options, "About Tarvik", content, false);

    // The framework fits the window to the content while the window still has its own
    // title bar and border, and only then switches to the native title bar, which
    // stretches the content over the frame's space. Fit it to the art again.
    window->setContentComponentSize (contentWidth, contentHeight);
    window->centreAroundComponent (options.componentToCentreAround, window->getWidth(), window->getHeight());

    window->putOnDesktop();
    return window;
}
