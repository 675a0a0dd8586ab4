#pragma once

/** The program's embedded pictures: each item is one opaque PNG with an 8-bit
    palette, decoded with juce::ImageCache::getFromMemory (data, byte count).
    The arrays are generated at build time from src/resources/png. */
namespace VYRBIN
{
// loopback dialog background, small, 157 x 161
extern const char temp_binary_data_4[];
extern const int temp_binary_data_4Size;
// loopback dialog background, large, 314 x 322
extern const char temp_binary_data_6[];
extern const int temp_binary_data_6Size;
// loopback dialog with both buttons lit, 314 x 322
extern const char temp_binary_data_7[];
extern const int temp_binary_data_7Size;
// panel face, small, 226 x 290
extern const char temp_binary_data_8[];
extern const int temp_binary_data_8Size;
// panel face with both mute buttons lit, small, 226 x 290
extern const char temp_binary_data_9[];
extern const int temp_binary_data_9Size;
// panel face, medium, 452 x 580; the same bytes as item 12
extern const char temp_binary_data_10[];
extern const int temp_binary_data_10Size;
// lit panel face, medium, 452 x 580; the same bytes as item 13
extern const char temp_binary_data_11[];
extern const int temp_binary_data_11Size;
// panel face, large, 452 x 580; the panel's natural size
extern const char temp_binary_data_12[];
extern const int temp_binary_data_12Size;
// lit panel face, large, 452 x 580
extern const char temp_binary_data_13[];
extern const int temp_binary_data_13Size;
// fader cap, small, 11 x 17
extern const char temp_binary_data_14[];
extern const int temp_binary_data_14Size;
// fader cap, hot, small, 11 x 17
extern const char temp_binary_data_15[];
extern const int temp_binary_data_15Size;
// fader cap, medium, 22 x 33; the same bytes as item 18
extern const char temp_binary_data_16[];
extern const int temp_binary_data_16Size;
// fader cap, hot, medium, 22 x 33; the same bytes as item 19
extern const char temp_binary_data_17[];
extern const int temp_binary_data_17Size;
// fader cap, large, 22 x 33
extern const char temp_binary_data_18[];
extern const int temp_binary_data_18Size;
// fader cap, hot, large, 22 x 33
extern const char temp_binary_data_19[];
extern const int temp_binary_data_19Size;
// About window background, 514 x 212
extern const char temp_binary_data_23[];
extern const int temp_binary_data_23Size;
} // namespace VYRBIN
