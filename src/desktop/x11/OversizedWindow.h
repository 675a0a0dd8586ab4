#pragma once

#include <optional>

#include <juce_gui_basics/juce_gui_basics.h>

namespace desktop::x11
{
/** Where the panel goes in a window that a window manager made larger than the largest panel
    (openbox maximises past the size hints): the largest face that fits, in the constrainer's
    aspect, with the strip above it, centred; the window's background fills the rest. Nothing
    while the window is within the limits, where the panel fills it.

    window is the window's local area; limits holds the face's limits and aspect; strip is the
    height above the face (the menu bar) that the limits leave out.
*/
inline std::optional<juce::Rectangle<int>> panelAreaInOversizedWindow (juce::Rectangle<int> window,
                                                                        const juce::ComponentBoundsConstrainer& limits,
                                                                        int strip)
{
    const auto aspect = limits.getFixedAspectRatio();
    const int roomWidth = window.getWidth();
    const int roomHeight = window.getHeight() - strip;

    if (aspect <= 0.0 || (roomWidth <= limits.getMaximumWidth() && roomHeight <= limits.getMaximumHeight()))
        return std::nullopt;

    int width = juce::jmin (roomWidth, limits.getMaximumWidth());
    int height = juce::roundToInt (width / aspect);

    if (height > juce::jmin (roomHeight, limits.getMaximumHeight()))
    {
        height = juce::jmin (roomHeight, limits.getMaximumHeight());
        width = juce::roundToInt (height * aspect);
    }

    return window.withSizeKeepingCentre (width, height + strip);
}
} // namespace desktop::x11
