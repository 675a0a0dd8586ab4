#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "desktop/DesktopWindows.h"

namespace desktop::x11
{
/** Keeps the size hints of a window's native window (WM_NORMAL_HINTS) at the rule.

    JUCE 7.0.5 on X11 writes the hints from the window's constrainer less the window
    manager's frame, and no aspect: the manager then holds the client a frame short of the
    largest size, shrinks a window that was at it, and lets a drag leave the aspect. So the
    peer is given limits that hold nothing back, and the full hints (limits, aspect, the
    strip as base size) are written again each time JUCE has replaced them. The window's
    own constrainer stays as it is.

    A member of the window it serves. Does nothing but the peer's limits where there is no
    X display.
*/
class SizeHints final : private juce::ComponentListener
{
public:
    SizeHints (juce::ResizableWindow& window, ClientSizeRule rule);
    ~SizeHints() override;

private:
    // ResizableWindow gives the peer its own constrainer back at every move and resize, before
    // the listeners hear of it; so take it back each time, before JUCE next writes the hints.
    void componentMovedOrResized (juce::Component&, bool, bool) override { refresh(); }
    void componentVisibilityChanged (juce::Component&) override { refresh(); }
    void componentParentHierarchyChanged (juce::Component&) override { refresh(); }

    void refresh();
    void watch (unsigned long nativeWindow);
    void writeHints();

    juce::ResizableWindow& window;
    const ClientSizeRule rule;
    juce::ComponentBoundsConstrainer peerLimits;
    unsigned long watched = 0;
    int subscription = 0;

    JUCE_DECLARE_NON_COPYABLE (SizeHints)
};
} // namespace desktop::x11
