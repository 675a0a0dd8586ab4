#include "resources/VYRBIN.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <vector>

namespace
{
juce::Image decoded (const char* data, int size)
{
    return juce::ImageCache::getFromMemory (data, size);
}

juce::Image scaled (const char* data, int size, int w, int h)
{
    return decoded (data, size).rescaled (w, h, juce::Graphics::highResamplingQuality);
}

/** A control's place on the art: each product in single precision, truncated. */
juce::Rectangle<int> place (float cx, float cy, float cw, float ch, int w, int h)
{
    auto fw = static_cast<float> (w), fh = static_cast<float> (h);
    return { static_cast<int> (cx * fw), static_cast<int> (cy * fh), static_cast<int> (cw * fw), static_cast<int> (ch * fh) };
}

float luminance (juce::Colour c)
{
    return 0.299f * c.getRed() + 0.587f * c.getGreen() + 0.114f * c.getBlue();
}

struct Stats
{
    float red = 0, green = 0, blue = 0, meanLuma = 0, minLuma = 255, maxLuma = 0;
};

Stats statsOf (const juce::Image& image, juce::Rectangle<int> area)
{
    Stats s;
    int n = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            auto c = image.getPixelAt (x, y);
            s.red += c.getRed();
            s.green += c.getGreen();
            s.blue += c.getBlue();
            auto l = luminance (c);
            s.meanLuma += l;
            s.minLuma = std::min (s.minLuma, l);
            s.maxLuma = std::max (s.maxLuma, l);
            ++n;
        }
    if (n > 0)
    {
        s.red /= float (n);
        s.green /= float (n);
        s.blue /= float (n);
        s.meanLuma /= float (n);
    }
    return s;
}

/** Largest channel difference between two images outside the given areas. */
int largestDifferenceOutside (const juce::Image& a, const juce::Image& b, std::vector<juce::Rectangle<int>> skip)
{
    int largest = 0;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
        {
            bool skipped = false;
            for (auto& r : skip)
                skipped = skipped || r.contains (x, y);
            if (skipped)
                continue;
            auto p = a.getPixelAt (x, y), q = b.getPixelAt (x, y);
            largest = std::max ({ largest, std::abs (p.getRed() - q.getRed()), std::abs (p.getGreen() - q.getGreen()),
                                  std::abs (p.getBlue() - q.getBlue()) });
        }
    return largest;
}

struct FaceSize
{
    int width, height;
    const char *face, *lit;
    int faceSize, litSize;
};

struct Fractions
{
    float cx, cy, cw, ch;
};

// The panel's layout fractions of the face.
const Fractions muteIn { 0.172566f, 0.884483f, 0.170354f, 0.0758621f };
const Fractions muteOut { 0.659292f, 0.884483f, 0.170354f, 0.0758621f };
const Fractions pairIn { 0.196903f, 0.222414f, 0.123894f, 0.551724f };
const Fractions pairOut { 0.679204f, 0.222414f, 0.123894f, 0.551724f };
const Fractions readouts[] = { { 0.0774336f, 0.794828f, 0.179204f, 0.0551724f },
                               { 0.261062f, 0.794828f, 0.179204f, 0.0551724f },
                               { 0.559735f, 0.794828f, 0.179204f, 0.0551724f },
                               { 0.743363f, 0.794828f, 0.179204f, 0.0551724f } };
} // namespace

TEST (FaceArt, SlotsReadoutBoxesAndMuteButtonsLieUnderTheirControls)
{
    // The art the panel picks at its smallest and its natural size.
    const FaceSize sizes[] = {
        { 226, 290, VYRBIN::temp_binary_data_8, VYRBIN::temp_binary_data_9, VYRBIN::temp_binary_data_8Size, VYRBIN::temp_binary_data_9Size },
        { 452, 580, VYRBIN::temp_binary_data_12, VYRBIN::temp_binary_data_13, VYRBIN::temp_binary_data_12Size, VYRBIN::temp_binary_data_13Size },
    };

    for (auto& size : sizes)
    {
        SCOPED_TRACE (juce::String (size.width) + " x " + juce::String (size.height));
        const int w = size.width, h = size.height;
        auto face = scaled (size.face, size.faceSize, w, h);
        auto lit = scaled (size.lit, size.litSize, w, h);
        ASSERT_TRUE (face.isValid() && lit.isValid());
        auto at = [w, h] (const Fractions& f) { return place (f.cx, f.cy, f.cw, f.ch, w, h); };

        // The plain front between the two strips.
        auto front = statsOf (face, place (0.475f, 0.30f, 0.05f, 0.40f, w, h));
        EXPECT_GT (front.meanLuma, 170.0f);

        for (auto& pairFractions : { pairIn, pairOut })
        {
            // The faders sit at 0 and 17/28 of the pair's width, 11/28 of it wide.
            auto pair = at (pairFractions);
            auto faderWidth = static_cast<int> (11.0f / 28.0f * float (pair.getWidth()));
            auto rightX = static_cast<int> (17.0f / 28.0f * float (pair.getWidth()));
            for (int faderX : { 0, rightX })
            {
                auto fader = juce::Rectangle<int> (pair.getX() + faderX, pair.getY(), faderWidth, pair.getHeight()).reduced (1);
                auto slot = statsOf (face, fader);
                EXPECT_LT (slot.maxLuma, 90.0f) << "slot under the fader at x " << fader.getX();
            }
            // The strip between the two slots is the front, not a slot.
            auto gap = juce::Rectangle<int> (pair.getX() + faderWidth, pair.getY(), rightX - faderWidth, pair.getHeight()).reduced (1, 0);
            EXPECT_GT (statsOf (face, gap).meanLuma, 150.0f);
        }

        for (auto& r : readouts)
        {
            auto box = statsOf (face, at (r).reduced (2));
            EXPECT_LT (box.maxLuma, 80.0f) << "readout box at x " << at (r).getX();
        }

        for (auto& m : { muteIn, muteOut })
        {
            auto area = at (m).reduced (w / 60 + 1);
            auto plain = statsOf (face, area);
            auto pressed = statsOf (lit, area);
            // A grey button: neutral, neither the slot's black nor the bare front.
            EXPECT_LT (std::abs (plain.red - plain.blue), 20.0f);
            EXPECT_LT (std::abs (plain.red - plain.green), 20.0f);
            EXPECT_GT (plain.meanLuma, 100.0f);
            EXPECT_LT (plain.meanLuma, front.meanLuma - 10.0f);
            // Lit red in the lit face.
            EXPECT_GT (pressed.red, 150.0f);
            EXPECT_GT (pressed.red, 2.0f * pressed.green);
            EXPECT_GT (pressed.red, 2.0f * pressed.blue);
        }

        // Apart from the buttons and their glow the lit face is the face.
        auto margin = w / 50 + 2;
        EXPECT_LE (largestDifferenceOutside (face, lit, { at (muteIn).expanded (margin), at (muteOut).expanded (margin) }), 24);
    }
}

TEST (LoopbackArt, ButtonsLightUpAndConnectionPointsSitOnTheAnchors)
{
    auto background = decoded (VYRBIN::temp_binary_data_6, VYRBIN::temp_binary_data_6Size);
    auto pressed = decoded (VYRBIN::temp_binary_data_7, VYRBIN::temp_binary_data_7Size);
    auto small = decoded (VYRBIN::temp_binary_data_4, VYRBIN::temp_binary_data_4Size);
    ASSERT_TRUE (background.isValid() && pressed.isValid() && small.isValid());

    // The dialog's button places at its design size and at its smallest.
    for (auto [w, h] : { std::pair { 314, 322 }, std::pair { 157, 161 } })
    {
        SCOPED_TRACE (juce::String (w) + " x " + juce::String (h));
        auto plainArt = w == 314 ? background : small;
        auto litArt = pressed.rescaled (w, h, juce::Graphics::highResamplingQuality);
        std::vector<juce::Rectangle<int>> buttons;
        for (float fy : { 0.298137f, 0.63354f })
            buttons.push_back (place (0.0414013f, fy, 0.146497f, 0.142857f, w, h));

        for (auto& b : buttons)
        {
            auto plain = statsOf (plainArt, b.reduced (2));
            auto lit = statsOf (litArt, b.reduced (2));
            EXPECT_LT (std::abs (plain.red - plain.green), 20.0f) << "grey button at y " << b.getY();
            EXPECT_GT (plain.meanLuma, 100.0f);
            EXPECT_GT (lit.green, lit.red + 20.0f) << "lit button at y " << b.getY();
        }
    }

    // Outside the buttons the pressed art is the background.
    std::vector<juce::Rectangle<int>> buttonsAtDesign { { 9, 92, 54, 53 }, { 9, 199, 54, 53 } };
    EXPECT_LE (largestDifferenceOutside (background, pressed, buttonsAtDesign), 24);

    // A connection point (a dark socket centre in a light ring) at every curve end.
    const juce::Point<int> anchors[] = { { 98, 96 }, { 98, 140 }, { 98, 205 }, { 98, 249 }, { 266, 203 }, { 266, 249 } };
    for (auto a : anchors)
    {
        EXPECT_LT (luminance (background.getPixelAt (a.x, a.y)), 60.0f) << a.toString();
        EXPECT_GT (luminance (background.getPixelAt (a.x + 4, a.y)), 180.0f) << a.toString();
    }
}

TEST (AboutArt, CloseButtonLinkAndVersionBoxAreWhereTheWindowPutsThem)
{
    auto about = decoded (VYRBIN::temp_binary_data_23, VYRBIN::temp_binary_data_23Size);
    ASSERT_TRUE (about.isValid());

    // The version is drawn in grey: its box must be plain and light.
    auto versionBox = statsOf (about, { 275, 186, 200, 20 });
    EXPECT_GT (versionBox.minLuma, 200.0f);

    // The close button is drawn across the whole close spot, light on the dark panel.
    auto closeSpot = juce::Rectangle<int> (109, 166, 41, 23);
    EXPECT_GT (statsOf (about, closeSpot.reduced (3)).meanLuma, 150.0f);
    EXPECT_LT (statsOf (about, { 100, 190, 60, 6 }).meanLuma, 80.0f);

    // The address is drawn in link blue, and only inside the link spot.
    auto linkSpot = juce::Rectangle<int> (59, 140, 138, 20);
    int inside = 0, outside = 0;
    for (int y = 0; y < about.getHeight(); ++y)
        for (int x = 0; x < 256; ++x)
        {
            auto c = about.getPixelAt (x, y);
            if (c.getBlue() > c.getRed() + 60)
                (linkSpot.contains (x, y) ? inside : outside)++;
        }
    EXPECT_GT (inside, 100);
    EXPECT_EQ (outside, 0);
}

TEST (ThumbArt, HotCapsAreBrighterThanNormalCaps)
{
    auto meanOf = [] (const char* data, int size)
    {
        auto image = decoded (data, size);
        return statsOf (image, image.getBounds()).meanLuma;
    };
    EXPECT_GT (meanOf (VYRBIN::temp_binary_data_19, VYRBIN::temp_binary_data_19Size),
               meanOf (VYRBIN::temp_binary_data_18, VYRBIN::temp_binary_data_18Size) + 15.0f);
    EXPECT_GT (meanOf (VYRBIN::temp_binary_data_15, VYRBIN::temp_binary_data_15Size),
               meanOf (VYRBIN::temp_binary_data_14, VYRBIN::temp_binary_data_14Size) + 15.0f);
}
