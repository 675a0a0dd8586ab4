#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Restores a window state stored by getWindowStateAsString. Returns false, changing nothing,
    when restoreWindowStateFromString refuses the text, and also when a number in it lies
    beyond any screen: the framework's rectangle sums would overflow on such a number.
*/
inline bool restoreStoredWindowState (juce::ResizableWindow& window, const juce::String& stored)
{
    constexpr juce::int64 limit = 1 << 20;

    for (auto p = stored.getCharPointer(); ! p.isEmpty();)
    {
        if (! juce::CharacterFunctions::isDigit (*p))
        {
            ++p;
            continue;
        }

        juce::int64 value = 0;

        for (; juce::CharacterFunctions::isDigit (*p); ++p)
            if (value <= limit)
                value = value * 10 + (*p - '0');

        if (value > limit)
            return false;
    }

    return window.restoreWindowStateFromString (stored);
}
