#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace tarvik::test
{
/** A left click at a point of a shown window, fed through the window's peer as the
    windowing system would feed it.
*/
inline void clickInWindow (juce::Component& window, juce::Point<int> positionInWindow)
{
    auto* peer = window.getPeer();

    if (peer == nullptr)
        return;

    const auto position = positionInWindow.toFloat();
    const auto now = juce::Time::currentTimeMillis();
    using Source = juce::MouseInputSource;

    peer->handleMouseEvent (Source::InputSourceType::mouse, position, juce::ModifierKeys(),
                            Source::defaultPressure, Source::defaultOrientation, now);
    peer->handleMouseEvent (Source::InputSourceType::mouse, position, juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier),
                            Source::defaultPressure, Source::defaultOrientation, now + 1);
    peer->handleMouseEvent (Source::InputSourceType::mouse, position, juce::ModifierKeys(),
                            Source::defaultPressure, Source::defaultOrientation, now + 2);
}

/** A key press delivered to a shown window as the windowing system would deliver it. */
inline void pressKeyInWindow (juce::Component& window, const juce::KeyPress& key)
{
    if (auto* peer = window.getPeer())
        peer->handleKeyPress (key);
}
} // namespace tarvik::test
