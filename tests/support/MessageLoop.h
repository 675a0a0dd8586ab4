#pragma once

#include <functional>
#include <juce_events/juce_events.h>

namespace tarvik::test
{
/** Pumps the message loop for the given time. */
void pumpFor (int milliseconds);

/** Pumps the message loop until the condition holds or the time runs out; returns the condition.
    The time is scaled by timeoutScale(). */
bool pumpUntil (const std::function<bool()>& condition, int timeoutMilliseconds = 5000);
} // namespace tarvik::test
