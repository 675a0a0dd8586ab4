#pragma once

#include <functional>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "desktop/DesktopWindows.h"

/** One of the panel's dialog windows: owned content, Escape closes, native title bar; its
    close button hides it. Built as DialogWindow::LaunchOptions::create() builds one, with
    what the desktop needs of it as a member.
*/
class PanelDialogWindow final : public juce::DialogWindow
{
public:
    PanelDialogWindow (juce::DialogWindow::LaunchOptions& options, const juce::String& title,
                       juce::Component* content, bool resizable);

    void closeButtonPressed() override { setVisible (false); }

    /** Holds the window manager to these sizes and this aspect. */
    void keepSizeRule (desktop::ClientSizeRule rule) { keeper.keepSizeRule (rule); }

    /** Makes the native window, unshown; call once the title bar, resizability and limits
        are set. Each of those, set on a window already on the desktop, makes the native
        window afresh and brings it to the front, which on X11 maps it: an empty frame would
        flash on the screen before the dialog is first shown.
    */
    void putOnDesktop() { addToDesktop(); }

    /** Shows the dialog with its client at the given bounds and brings it up. */
    void showAt (juce::Rectangle<int> clientBounds) { keeper.showAt (clientBounds); }

    /** Puts the hidden dialog at the given bounds, then calls show (perhaps a little later). */
    void placeThenShow (juce::Rectangle<int> clientBounds, std::function<void()> show)
    {
        keeper.placeThenShow (clientBounds, std::move (show));
    }

private:
    desktop::DialogWindowKeeper keeper { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PanelDialogWindow)
};
