#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

/** Hides the native window of a dialog window that is not shown yet.

    Switching a window that is already on the desktop to the native title bar, or changing
    its resizability, makes a new native window and brings it to the front; on X11 that
    maps it although the component is still invisible, and an empty frame stands on the
    screen. Call this once the window is set up, so that the native window matches the
    component until the dialog is shown. A window manager may map the frame only after
    that first unmap, so it is repeated a few times while the dialog stays unshown; the
    watch doing that belongs to the window and goes with it.
*/
inline void keepNativeWindowHidden (juce::DialogWindow& window)
{
    struct HideWatch final : public juce::ReferenceCountedObject,
                             private juce::Timer
    {
        explicit HideWatch (juce::DialogWindow& w) : dialogWindow (w)
        {
            hide();
            startTimer (100);
        }

        void hide()
        {
            if (! dialogWindow.isVisible())
                if (auto* peer = dialogWindow.getPeer())
                    peer->setVisible (false);
        }

        void timerCallback() override
        {
            hide();

            // At 100, 500 and 2000 ms after the window was made.
            const int next[] = { 400, 1500 };
            if (round < 2)
                startTimer (next[round++]);
            else
                stopTimer();
        }

        juce::DialogWindow& dialogWindow;
        int round = 0;
    };

    window.getProperties().set ("tarvikHideWatch", juce::var (new HideWatch (window)));
}

/** Makes one of the panel's dialog windows: owned content, Escape closes, native title bar. */
inline std::unique_ptr<juce::DialogWindow> createPanelDialogWindow (juce::DialogWindow::LaunchOptions& options,
                                                                    const juce::String& title,
                                                                    juce::Component* content,
                                                                    bool resizable)
{
    options.dialogTitle = title;
    options.content.setOwned (content);
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = true;
    options.resizable = resizable;
    return std::unique_ptr<juce::DialogWindow> (options.create());
}
