#include "resources/VYRBIN.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
struct Item
{
    int number;
    const char* data;
    int size;
    int width, height;
};

// Item numbers and pixel sizes the program relies on.
const std::vector<Item>& catalogue()
{
    static const std::vector<Item> items {
        { 4, VYRBIN::temp_binary_data_4, VYRBIN::temp_binary_data_4Size, 157, 161 },
        { 6, VYRBIN::temp_binary_data_6, VYRBIN::temp_binary_data_6Size, 314, 322 },
        { 7, VYRBIN::temp_binary_data_7, VYRBIN::temp_binary_data_7Size, 314, 322 },
        { 8, VYRBIN::temp_binary_data_8, VYRBIN::temp_binary_data_8Size, 226, 290 },
        { 9, VYRBIN::temp_binary_data_9, VYRBIN::temp_binary_data_9Size, 226, 290 },
        { 10, VYRBIN::temp_binary_data_10, VYRBIN::temp_binary_data_10Size, 452, 580 },
        { 11, VYRBIN::temp_binary_data_11, VYRBIN::temp_binary_data_11Size, 452, 580 },
        { 12, VYRBIN::temp_binary_data_12, VYRBIN::temp_binary_data_12Size, 452, 580 },
        { 13, VYRBIN::temp_binary_data_13, VYRBIN::temp_binary_data_13Size, 452, 580 },
        { 14, VYRBIN::temp_binary_data_14, VYRBIN::temp_binary_data_14Size, 11, 17 },
        { 15, VYRBIN::temp_binary_data_15, VYRBIN::temp_binary_data_15Size, 11, 17 },
        { 16, VYRBIN::temp_binary_data_16, VYRBIN::temp_binary_data_16Size, 22, 33 },
        { 17, VYRBIN::temp_binary_data_17, VYRBIN::temp_binary_data_17Size, 22, 33 },
        { 18, VYRBIN::temp_binary_data_18, VYRBIN::temp_binary_data_18Size, 22, 33 },
        { 19, VYRBIN::temp_binary_data_19, VYRBIN::temp_binary_data_19Size, 22, 33 },
        { 23, VYRBIN::temp_binary_data_23, VYRBIN::temp_binary_data_23Size, 514, 212 },
    };
    return items;
}

const Item& item (int number)
{
    for (auto& i : catalogue())
        if (i.number == number)
            return i;
    throw std::out_of_range ("no item " + std::to_string (number));
}

uint32_t readBigEndian (const unsigned char* p)
{
    return (uint32_t (p[0]) << 24) | (uint32_t (p[1]) << 16) | (uint32_t (p[2]) << 8) | uint32_t (p[3]);
}

struct PngChunk
{
    std::string type;
    const unsigned char* data;
    uint32_t length;
};

/** Splits a PNG file into its chunks; fails the test if the file does not end with IEND. */
std::vector<PngChunk> chunksOf (const Item& it)
{
    static const unsigned char signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    auto* bytes = reinterpret_cast<const unsigned char*> (it.data);
    auto size = static_cast<size_t> (it.size);
    std::vector<PngChunk> chunks;

    EXPECT_GE (size, sizeof (signature)) << "item " << it.number;
    if (size < sizeof (signature) || std::memcmp (bytes, signature, sizeof (signature)) != 0)
    {
        ADD_FAILURE() << "item " << it.number << " has no PNG signature";
        return chunks;
    }

    size_t pos = sizeof (signature);
    while (pos + 12 <= size)
    {
        auto length = readBigEndian (bytes + pos);
        if (pos + 12 + length > size)
            break;
        chunks.push_back ({ std::string (reinterpret_cast<const char*> (bytes + pos + 4), 4), bytes + pos + 8, length });
        pos += 12 + length;
    }
    EXPECT_EQ (pos, size) << "item " << it.number << ": chunks do not fill the embedded byte count";
    EXPECT_TRUE (! chunks.empty() && chunks.back().type == "IEND") << "item " << it.number << " does not end with IEND";
    return chunks;
}
} // namespace

TEST (EmbeddedArt, EveryItemDecodesOpaqueAtItsSize)
{
    for (auto& it : catalogue())
    {
        ASSERT_NE (it.data, nullptr);
        auto image = juce::ImageCache::getFromMemory (it.data, it.size);
        ASSERT_TRUE (image.isValid()) << "item " << it.number << " does not decode";
        EXPECT_EQ (image.getWidth(), it.width) << "item " << it.number;
        EXPECT_EQ (image.getHeight(), it.height) << "item " << it.number;
        // The decoder only makes an RGB image when the file has no transparency at all.
        EXPECT_EQ (image.getFormat(), juce::Image::RGB) << "item " << it.number;
    }
}

TEST (EmbeddedArt, EveryItemIsAnEightBitPalettePngWithoutTransparencyOrInterlace)
{
    for (auto& it : catalogue())
    {
        auto chunks = chunksOf (it);
        ASSERT_FALSE (chunks.empty()) << "item " << it.number;
        ASSERT_EQ (chunks.front().type, "IHDR") << "item " << it.number;
        ASSERT_EQ (chunks.front().length, 13u);

        auto* ihdr = chunks.front().data;
        EXPECT_EQ (readBigEndian (ihdr), uint32_t (it.width)) << "item " << it.number;
        EXPECT_EQ (readBigEndian (ihdr + 4), uint32_t (it.height)) << "item " << it.number;
        EXPECT_EQ (ihdr[8], 8) << "item " << it.number << ": bit depth";
        EXPECT_EQ (ihdr[9], 3) << "item " << it.number << ": colour type (3 = palette)";
        EXPECT_EQ (ihdr[12], 0) << "item " << it.number << ": interlace method";

        bool paletteSeen = false;
        for (auto& c : chunks)
        {
            EXPECT_NE (c.type, "tRNS") << "item " << it.number << " carries transparency";
            if (c.type == "PLTE")
                paletteSeen = true;
            if (c.type == "IDAT")
            {
                EXPECT_TRUE (paletteSeen) << "item " << it.number << ": no palette before the image data";
            }
        }
    }
}

TEST (EmbeddedArt, MediumItemsAreTheLargeItemsAndDistinctItemsDiffer)
{
    auto same = [] (int a, int b)
    {
        auto& x = item (a);
        auto& y = item (b);
        return x.size == y.size && std::memcmp (x.data, y.data, static_cast<size_t> (x.size)) == 0;
    };

    EXPECT_TRUE (same (10, 12));
    EXPECT_TRUE (same (11, 13));
    EXPECT_TRUE (same (16, 18));
    EXPECT_TRUE (same (17, 19));

    // Each picture and its lit or hot variant are pictures of their own.
    EXPECT_FALSE (same (6, 7));
    EXPECT_FALSE (same (8, 9));
    EXPECT_FALSE (same (12, 13));
    EXPECT_FALSE (same (14, 15));
    EXPECT_FALSE (same (18, 19));
    EXPECT_FALSE (same (8, 12));
}
