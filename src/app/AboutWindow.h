#pragma once

#include <functional>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "app/PanelDialogWindow.h"

/** The About dialog's content: the About artwork with the version written over it,
    an invisible close spot over the pictured close button and an invisible link spot
    over the pictured web address.
*/
class AboutWindow final : public juce::Component,
                          public juce::Button::Listener
{
public:
    /** The maker's web page, as printed on the About artwork. */
    static const char* const makerWebAddress;

    /** Builds the content at the size of its artwork (514 x 212). */
    AboutWindow();
    ~AboutWindow() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    /** A click on the close spot ends the modal state of the enclosing dialog window with 0. */
    void buttonClicked (juce::Button*) override;

    /** Replaces what a click on the link spot does (by default: open the address in the
        default browser). Tests use it to see the request without starting a browser.
    */
    void setLinkOpener (std::function<void (const juce::URL&)> opener);

private:
    juce::String versionText;
    juce::Point<int> versionTextPosition;
    juce::Image backgroundImage;
    std::unique_ptr<juce::ImageButton> closeHotspot;
    std::unique_ptr<juce::HyperlinkButton> linkHotspot;
    std::function<void (const juce::URL&)> linkOpener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AboutWindow)
};

/** Makes the About dialog's window from the given launch options: "About Tarvik",
    owning the content, closed (hidden) by Escape, native title bar, not resizable;
    created hidden, sized to the content and centred on the screen. The caller keeps its
    own pointer to the content and must delete the content before the window.
*/
std::unique_ptr<PanelDialogWindow> createAboutDialogWindow (juce::DialogWindow::LaunchOptions& options,
                                                             AboutWindow* content);
