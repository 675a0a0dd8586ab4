#pragma once

#include <optional>

#include <juce_graphics/juce_graphics.h>

/** Makes JUCE read a top-level window's bounds from the X server again.

    JUCE takes a bounds request as done the moment it sends it. A window manager in the middle
    of its own move or resize may drop the request, and nothing then tells JUCE: the window stays
    where the manager left it while JUCE believes otherwise, and the size hints that JUCE's request
    replaced are not set again either. JUCE reads the real bounds, and sets the hints afresh,
    whenever a configure event reaches the window; this sends the window one, to JUCE's own
    connection only.

    nativeHandle is the window's ComponentPeer::getNativeHandle(). Returns false where there is
    no X display to ask, or no window.
*/
bool refreshNativeBounds (void* nativeHandle);

/** Where the X server has a top-level window's client area now, in screen coordinates; asked
    at once rather than waiting for JUCE to hear of it. Nothing where there is no display or
    no such window.
*/
std::optional<juce::Rectangle<int>> readNativeBounds (void* nativeHandle);

/** Whether the window manager has the window maximised (_NET_WM_STATE), in either direction. */
bool isNativelyMaximised (void* nativeHandle);
