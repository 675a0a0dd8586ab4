#pragma once

#include <optional>

#include <juce_core/juce_core.h>

namespace desktop::x11
{
/** Whether the X display that JUCE will use answers.

    JUCE opens $DISPLAY, or ":0.0" when it is unset or empty; when no server answers there it
    goes on without one and the first window to be placed crashes the program. Ask before
    building any window.

    @returns nothing when the display opens; otherwise the one line to print, naming the display
*/
std::optional<juce::String> unopenableDisplayMessage (const juce::String& applicationName);
} // namespace desktop::x11
