#include <cmath>

#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "controls/SliderLookAndFeel2.h"

using tarvik::test::solidImage;

namespace
{
const juce::Colour normalColours[] { { 10, 20, 200 }, { 10, 200, 20 }, { 200, 200, 20 } };
const juce::Colour hotColours[] { { 200, 20, 200 }, { 20, 200, 200 }, { 120, 120, 120 } };

bool near (juce::Colour a, juce::Colour b)
{
    return std::abs (a.getRed() - b.getRed()) < 4 && std::abs (a.getGreen() - b.getGreen()) < 4
           && std::abs (a.getBlue() - b.getBlue()) < 4;
}

bool reddened (juce::Colour c) { return c.getRed() - c.getGreen() > 20; }

struct ThumbLook : ::testing::Test
{
    void SetUp() override
    {
        const int widths[] { 11, 22, 22 }, heights[] { 17, 33, 33 };
        for (int i = 0; i < 3; ++i)
        {
            look.normalSources[i] = look.normalBackupSources[i] = solidImage (widths[i], heights[i], normalColours[i]);
            look.hotSources[i] = solidImage (widths[i], heights[i], hotColours[i]);
        }
    }

    std::unique_ptr<juce::Slider> makeFader (juce::Slider::SliderStyle style, int w, int h)
    {
        auto fader = std::make_unique<juce::Slider> (style, juce::Slider::NoTextBox);
        auto& s = *fader;
        s.setRange (-60.0, 0.0, 0.5);
        s.setValue (-30.0);
        s.setLookAndFeel (&look);
        s.setSize (w, h);
        return fader;
    }

    VyrSliderLookAndFeel2 look;
};
} // namespace

TEST_F (ThumbLook, ResizePicksSourceBySizeAndTruncatesToTheThumbSize)
{
    struct Case { double w, h; int index; };
    for (auto c : { Case { 11, 16, 0 }, Case { 12, 18, 0 }, Case { 13, 20, 1 }, Case { 14, 21, 1 },
                    Case { 15, 22, 2 }, Case { 22, 32, 2 }, Case { 22.9, 32.7, 2 } })
    {
        look.resizeKnobImages (c.w, c.h);
        SCOPED_TRACE (juce::String (c.w) + " x " + juce::String (c.h));
        for (auto* img : { &look.thumbNormal, &look.thumbCurrent, &look.thumbHot })
        {
            ASSERT_TRUE (img->isValid());
            EXPECT_EQ (img->getBounds(), juce::Rectangle<int> (0, 0, (int) c.w, (int) c.h));
        }
        const int x = (int) c.w / 2;
        EXPECT_TRUE (near (look.thumbNormal.getPixelAt (x, 3), normalColours[c.index]));
        EXPECT_TRUE (near (look.thumbCurrent.getPixelAt (x, 3), normalColours[c.index]));
        EXPECT_TRUE (near (look.thumbHot.getPixelAt (x, 3), hotColours[c.index]));
    }

    // Sizes with no image behind them leave no thumb rather than an illegal empty image.
    for (double bad : { 0.0, -3.0, std::nan ("") })
    {
        look.resizeKnobImages (bad, 32.0);
        EXPECT_FALSE (look.thumbCurrent.isValid() || look.thumbNormal.isValid() || look.thumbHot.isValid());
    }

    // Without the large hot art every positive width counts as large.
    look.hotSources[2] = {};
    look.resizeKnobImages (5.0, 8.0);
    EXPECT_TRUE (near (look.thumbCurrent.getPixelAt (2, 2), normalColours[2]));
    EXPECT_FALSE (look.thumbHot.isValid());
}

TEST_F (ThumbLook, HotThumbCarriesRedCentreLineAndRadiusFollowsThumbHeight)
{
    juce::Slider fader;
    EXPECT_EQ (look.getSliderThumbRadius (fader), 0);

    look.resizeKnobImages (22.0, 32.0);
    EXPECT_EQ (look.getSliderThumbRadius (fader), 16);
    for (int x = 1; x <= 20; ++x)
        EXPECT_TRUE (reddened (look.thumbHot.getPixelAt (x, 16))) << "x " << x;
    EXPECT_FALSE (reddened (look.thumbHot.getPixelAt (0, 16)));
    EXPECT_FALSE (reddened (look.thumbHot.getPixelAt (21, 16)));
    EXPECT_FALSE (reddened (look.thumbHot.getPixelAt (10, 13)));
    EXPECT_FALSE (reddened (look.thumbNormal.getPixelAt (10, 16)));

    // At the art's own size the line lands at 16.5, and never on the shared source art.
    look.resizeKnobImages (22.0, 33.0);
    EXPECT_EQ (look.getSliderThumbRadius (fader), 17);
    EXPECT_TRUE (reddened (look.thumbHot.getPixelAt (10, 16)));
    EXPECT_FALSE (reddened (look.hotSources[2].getPixelAt (10, 16)));
}

TEST_F (ThumbLook, DrawsOnlyTheUnscaledThumbAtTheFaderPosition)
{
    look.resizeKnobImages (22.0, 32.0);
    auto faderOwner = makeFader (juce::Slider::LinearVertical, 22, 320);
    auto& fader = *faderOwner;
    const auto image = fader.createComponentSnapshot (fader.getLocalBounds());
    const int top = (int) (fader.getPositionOfValue (-30.0) - 16.0f);

    int painted = 0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y).getAlpha() != 0)
            {
                ++painted;
                EXPECT_TRUE (y >= top && y < top + 32) << "stray pixel at " << x << "," << y;
            }
    EXPECT_EQ (painted, 22 * 32);
    EXPECT_TRUE (near (image.getPixelAt (10, top + 2), normalColours[2]));

    auto horizontal = makeFader (juce::Slider::LinearHorizontal, 320, 22);
    const auto blank = horizontal->createComponentSnapshot (horizontal->getLocalBounds());
    for (int x = 0; x < blank.getWidth(); x += 3)
        for (int y = 0; y < blank.getHeight(); ++y)
            ASSERT_EQ (blank.getPixelAt (x, y).getAlpha(), 0);
}

TEST_F (ThumbLook, ThumbIsHotOnlyWhileEnabledFaderIsUnderTheMouse)
{
    look.resizeKnobImages (22.0, 32.0);
    juce::Component host;
    host.setSize (60, 320);
    auto faderOwner = makeFader (juce::Slider::LinearVertical, 22, 320);
    auto& fader = *faderOwner;
    host.addAndMakeVisible (fader);
    tarvik::test::DesktopMouse mouse (host);

    const int y = (int) fader.getPositionOfValue (-30.0) - 10;
    auto thumbColour = [&] { return fader.createComponentSnapshot (fader.getLocalBounds()).getPixelAt (10, y); };

    mouse.move (10, 100);
    EXPECT_TRUE (near (thumbColour(), hotColours[2]));
    fader.setEnabled (false);
    EXPECT_TRUE (near (thumbColour(), normalColours[2]));
    fader.setEnabled (true);
    mouse.move (50, 100);
    EXPECT_TRUE (near (thumbColour(), normalColours[2]));
}
