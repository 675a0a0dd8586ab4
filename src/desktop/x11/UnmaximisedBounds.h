#pragma once

#include <optional>

#include <juce_gui_basics/juce_gui_basics.h>

#include "desktop/x11/ServerBounds.h"

namespace desktop::x11
{
/** Where a top-level window stood while the window manager did not hold it maximised.

    JUCE 7.0.5 does not see a window manager's maximising on X11: the window state it writes
    names the maximised bounds, and the size and place from before are lost. This follows the
    window's moves and resizes and keeps its last bounds from outside the maximised state.

    A window manager may give the window its maximised bounds a moment before it marks it
    maximised; bounds that turn out to be the maximised ones are passed over then, for the
    ones before them. A member of the window's keeper.
*/
class UnmaximisedBounds final : private juce::ComponentListener
{
public:
    explicit UnmaximisedBounds (juce::Component& w) : window (w) { window.addComponentListener (this); }
    ~UnmaximisedBounds() override { window.removeComponentListener (this); }

    /** The bounds from before maximising, while the window manager has the window maximised;
        nothing while it has not, or when the window never stood anywhere else.
    */
    std::optional<juce::Rectangle<int>> whileMaximised() const
    {
        auto* peer = window.getPeer();

        if (peer == nullptr || ! isNativelyMaximised (*peer))
            return std::nullopt;

        return latest == window.getBounds() ? previous : latest;
    }

private:
    void componentMovedOrResized (juce::Component&, bool, bool) override
    {
        auto* peer = window.getPeer();

        // Not only once shown: a window restored to its stored place before it is shown may
        // never move again before it is maximised.
        if (peer == nullptr || isNativelyMaximised (*peer))
            return;

        // JUCE's idea, not the server's: a move JUCE asked for is not on the server yet, and
        // the window manager's answer changes JUCE's idea again only where it differs.
        if (const auto bounds = window.getBounds(); bounds != latest)
        {
            previous = latest;
            latest = bounds;
        }
    }

    juce::Component& window;
    std::optional<juce::Rectangle<int>> latest, previous;

    JUCE_DECLARE_NON_COPYABLE (UnmaximisedBounds)
};
} // namespace desktop::x11
