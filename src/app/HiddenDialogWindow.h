#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Hides the native window of a dialog window that is not shown yet.

    Switching a window that is already on the desktop to the native title bar, or changing
    its resizability, makes a new native window and brings it to the front; on X11 that
    maps it although the component is still invisible, and an empty frame stands on the
    screen. Call this once the window is set up, so that the native window matches the
    component until the dialog is shown.
*/
inline void keepNativeWindowHidden (juce::DialogWindow& window)
{
    if (! window.isVisible())
        if (auto* peer = window.getPeer())
            peer->setVisible (false);
}
