#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Gives a hidden top-level window its client bounds so that it shows there from its first
    mapping.

    On X11 JUCE asks for the client's position less the frame it knows; a window that has not
    been framed yet has no frame known, and the window manager then puts its frame, not its
    client, at the position asked for: the first showing came up one title bar lower and one
    border right. Here the window manager is asked for the frame first (as it allows for
    windows not yet mapped), so that JUCE knows it before the window goes where it belongs.
    Until the window stands framed, JUCE is kept from rewriting its size hints without the
    position (see PlacementWatch). Elsewhere, and where no window manager answers, this is
    a plain setBounds.
*/
#if JUCE_LINUX
void placeBeforeShowing (juce::ResizableWindow& window, juce::Rectangle<int> clientBounds);
#else
inline void placeBeforeShowing (juce::ResizableWindow& window, juce::Rectangle<int> clientBounds)
{
    window.setBounds (clientBounds);
}
#endif
