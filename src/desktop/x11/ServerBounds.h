#pragma once

#include <optional>

#include <juce_gui_basics/juce_gui_basics.h>

namespace desktop::x11
{
/** Makes JUCE read a top-level window's bounds from the X server again.

    JUCE takes a bounds request as done the moment it sends it. A window manager in the middle
    of its own move or resize may drop the request, and nothing then tells JUCE: the window stays
    where the manager left it while JUCE believes otherwise, and the size hints that JUCE's request
    replaced are not set again either. JUCE reads the real bounds, and sets the hints afresh,
    whenever a configure event reaches the window; this sends the window one, to JUCE's own
    connection only.

    Returns false where there is no X display to ask, or no window.
*/
bool refreshNativeBounds (const juce::ComponentPeer& peer);

/** Where the X server has a top-level window's client area now, in screen coordinates; asked
    at once rather than waiting for JUCE to hear of it. Nothing where there is no display or
    no such window.
*/
std::optional<juce::Rectangle<int>> readNativeBounds (const juce::ComponentPeer& peer);

/** Whether the X server shows the window now. A window manager maps a window once it has
    placed it, while JUCE takes a window as showing the moment it asks for it to be mapped.
*/
bool isViewable (const juce::ComponentPeer& peer);

/** Whether the window manager has the window maximised (_NET_WM_STATE), in either direction. */
bool isNativelyMaximised (const juce::ComponentPeer& peer);
} // namespace desktop::x11
