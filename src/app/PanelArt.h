#pragma once

#include <juce_graphics/juce_graphics.h>

#include "resources/VYRBIN.h"

/** The embedded artwork of the panel by item number, decoded through the image cache;
    a null image for an item the panel does not use.
*/
inline juce::Image panelArt (int item)
{
    auto load = [] (const char* data, int size) { return juce::ImageCache::getFromMemory (data, size); };

    switch (item)
    {
        case 4:  return load (VYRBIN::temp_binary_data_4, VYRBIN::temp_binary_data_4Size);
        case 6:  return load (VYRBIN::temp_binary_data_6, VYRBIN::temp_binary_data_6Size);
        case 8:  return load (VYRBIN::temp_binary_data_8, VYRBIN::temp_binary_data_8Size);
        case 9:  return load (VYRBIN::temp_binary_data_9, VYRBIN::temp_binary_data_9Size);
        case 10: return load (VYRBIN::temp_binary_data_10, VYRBIN::temp_binary_data_10Size);
        case 11: return load (VYRBIN::temp_binary_data_11, VYRBIN::temp_binary_data_11Size);
        case 12: return load (VYRBIN::temp_binary_data_12, VYRBIN::temp_binary_data_12Size);
        case 13: return load (VYRBIN::temp_binary_data_13, VYRBIN::temp_binary_data_13Size);
        case 14: return load (VYRBIN::temp_binary_data_14, VYRBIN::temp_binary_data_14Size);
        case 15: return load (VYRBIN::temp_binary_data_15, VYRBIN::temp_binary_data_15Size);
        case 16: return load (VYRBIN::temp_binary_data_16, VYRBIN::temp_binary_data_16Size);
        case 17: return load (VYRBIN::temp_binary_data_17, VYRBIN::temp_binary_data_17Size);
        case 18: return load (VYRBIN::temp_binary_data_18, VYRBIN::temp_binary_data_18Size);
        case 19: return load (VYRBIN::temp_binary_data_19, VYRBIN::temp_binary_data_19Size);
        default: return {};
    }
}
