#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The client sizes a resizable window allows, as the window manager is to see them: from
    smallestClient to largestClient, and below a top strip of topStrip pixels (left out of
    the aspect) the aspect of the smallest size.
*/
struct ClientSizeRule
{
    juce::Point<int> smallestClient, largestClient;
    int topStrip = 0;
};

/** Keeps the size hints of a window's native window (WM_NORMAL_HINTS) at the rule.

    JUCE 7.0.5 on X11 writes the hints from the window's constrainer less the window
    manager's frame, and no aspect: the manager then holds the client a frame short of the
    largest size, shrinks a window that was at it, and lets a drag leave the aspect. So the
    peer is given limits that hold nothing back, and the full hints (limits, aspect, the
    strip as base size) are written again on a connection of our own each time JUCE has
    replaced them. The window's own constrainer stays as it is.

    The keeper belongs to the window and goes with it. Does nothing but the peer's limits
    where there is no X display.
*/
void keepNativeSizeHints (juce::ResizableWindow& window, ClientSizeRule rule);
