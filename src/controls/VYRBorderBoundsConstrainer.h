#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    Applies size limits and a fixed aspect ratio to a window's client area
    rather than to its outer frame, and keeps a resized window centred where
    it was.

    The owner sets frameBorder (read once from the window's peer) and extraTop
    directly, and the base class's limits and aspect ratio as usual.
*/
class BorderBoundsConstrainer final : public juce::ComponentBoundsConstrainer
{
public:
    BorderBoundsConstrainer();
    ~BorderBoundsConstrainer() override;

    void checkBounds (juce::Rectangle<int>& bounds,
                      const juce::Rectangle<int>& previousBounds,
                      const juce::Rectangle<int>& limits,
                      bool isStretchingTop, bool isStretchingLeft,
                      bool isStretchingBottom, bool isStretchingRight) override;

    /** Deliberately does nothing. */
    void resizeStart() override;

    juce::BorderSize<int> frameBorder; ///< window frame thickness on each side
    int extraTop = 0;                  ///< strip at the top of the client area left out of the rules

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BorderBoundsConstrainer)
};
