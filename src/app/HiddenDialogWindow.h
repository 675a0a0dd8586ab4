#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Hides the native window of a dialog window that is not shown yet.

    Switching a window that is already on the desktop to the native title bar, or changing
    its resizability, makes a new native window and brings it to the front; on X11 that
    maps it although the component is still invisible, and an empty frame stands on the
    screen. Call this once the window is set up, so that the native window matches the
    component until the dialog is shown. A window manager may map the frame only after
    that first unmap, so it is repeated a few times while the dialog stays unshown.
*/
inline void keepNativeWindowHidden (juce::DialogWindow& window)
{
    const auto hide = [safe = juce::Component::SafePointer<juce::DialogWindow> (&window)]
    {
        if (safe != nullptr && ! safe->isVisible())
            if (auto* peer = safe->getPeer())
                peer->setVisible (false);
    };

    hide();

    for (const int delay : { 100, 500, 2000 })
        juce::Timer::callAfterDelay (delay, hide);
}
