#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace desktop::x11
{
/** Hides the native window of a dialog window that is not shown yet.

    Switching a window that is already on the desktop to the native title bar, or changing
    its resizability, makes a new native window and brings it to the front; on X11 that
    maps it although the component is still invisible, and an empty frame stands on the
    screen. Made once the window is set up, it makes the native window match the component
    until the dialog is shown. A window manager may map the frame only after that first
    unmap, so it is repeated at 100, 500 and 2000 ms while the dialog stays unshown.
    A member of the window it serves.
*/
class HiddenWindow final : private juce::Timer
{
public:
    explicit HiddenWindow (juce::Component& w) : window (w)
    {
        hide();
        startTimer (100);
    }

    ~HiddenWindow() override { stopTimer(); }

private:
    void hide()
    {
        if (! window.isVisible())
            if (auto* peer = window.getPeer())
                peer->setVisible (false);
    }

    void timerCallback() override
    {
        hide();

        const int next[] = { 400, 1500 };

        if (round < 2)
            startTimer (next[round++]);
        else
            stopTimer();
    }

    juce::Component& window;
    int round = 0;

    JUCE_DECLARE_NON_COPYABLE (HiddenWindow)
};
} // namespace desktop::x11
