#pragma once

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
