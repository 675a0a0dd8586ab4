#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace tarvik::test
{
/** Whether the X server shows the component's native window (mapped), whatever the
    component's own visibility flag says. */
bool isNativeWindowMapped (juce::Component& topLevel);

/** The size hints (WM_NORMAL_HINTS) of the component's native window as a window manager
    would read them now; "" when there are none. Written as
    "min WxH max WxH aspect x/y..x/y base WxH", each part only when its flag is set.
*/
juce::String nativeSizeHints (juce::Component& topLevel);
} // namespace tarvik::test
