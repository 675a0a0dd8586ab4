#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace tarvik::test
{
/** Whether the X server shows the component's native window (mapped), whatever the
    component's own visibility flag says. */
bool isNativeWindowMapped (juce::Component& topLevel);
} // namespace tarvik::test
