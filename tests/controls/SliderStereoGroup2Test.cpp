#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "controls/SliderStereoGroup2.h"

using tarvik::test::solidImage;

namespace
{
/** Records what the faders tell their listener, in order. */
struct Log final : juce::Slider::Listener
{
    juce::StringArray lines;
    juce::Slider* left = nullptr;
    juce::String name (juce::Slider* s) const { return s == left ? "L" : "R"; }
    void sliderValueChanged (juce::Slider* s) override { lines.add (name (s) + " " + juce::String (s->getValue())); }
    void sliderDragStarted (juce::Slider* s) override { lines.add (name (s) + " start"); }
    void sliderDragEnded (juce::Slider* s) override { lines.add (name (s) + " end"); }
};

struct StereoPair : ::testing::Test
{
    StereoPair()
    {
        for (int i = 0; i < 3; ++i)
        {
            look.normalSources[i] = look.normalBackupSources[i] = solidImage (i == 0 ? 11 : 22, i == 0 ? 17 : 33, juce::Colours::green);
            look.hotSources[i] = solidImage (i == 0 ? 11 : 22, i == 0 ? 17 : 33, juce::Colours::blue);
        }
        look.resizeKnobImages (22.0, 33.0);

        for (auto* s : { &left, &right })
        {
            s->setSliderStyle (juce::Slider::LinearVertical);
            s->setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
            s->setRange (-60.0, 0.0, 0.5);
            s->setSliderSnapsToMousePosition (false);
            s->setLookAndFeel (&look);
            s->addListener (&log);
        }
        log.left = &left;
        pair = std::make_unique<SliderStereoGroup2> ("sliderInGroup", &left, &right, 0.60714287f, 0.39285713f,
                                                     0.39285713f, 0.10060976f, 0, &look);
        pair->setSize (56, 320);
        left.setValue (-20.0, juce::dontSendNotification);
        right.setValue (-30.0, juce::dontSendNotification);
    }

    bool showsHot() const { return look.thumbCurrent == look.thumbHot; }
    bool showsNormal() const { return look.thumbCurrent == look.thumbNormal; }

    VyrSliderLookAndFeel2 look;
    juce::Slider left, right;
    Log log;
    std::unique_ptr<SliderStereoGroup2> pair;
};
} // namespace

TEST_F (StereoPair, LayoutUsesSinglePrecisionFractions)
{
    EXPECT_EQ (left.getBounds(), juce::Rectangle<int> (0, 0, 22, 320));
    EXPECT_EQ (right.getBounds(), juce::Rectangle<int> (34, 0, 22, 320));
    EXPECT_EQ (pair->getGapArea(), juce::Rectangle<int> (22, 0, 12, 320));
    EXPECT_EQ (look.thumbNormal.getBounds(), juce::Rectangle<int> (0, 0, 22, 32));

    pair->setSize (28, 164);
    EXPECT_EQ (left.getBounds(), juce::Rectangle<int> (0, 0, 11, 164));
    EXPECT_EQ (right.getBounds(), juce::Rectangle<int> (17, 0, 11, 164));
    EXPECT_EQ (pair->getGapArea(), juce::Rectangle<int> (11, 0, 6, 164));
    EXPECT_EQ (look.thumbHot.getBounds(), juce::Rectangle<int> (0, 0, 11, 16));
}

TEST_F (StereoPair, HoverOnTheStripShowsHotThumbOnlyWhileEnabled)
{
    tarvik::test::DesktopMouse mouse (*pair);
    mouse.move (22, 100);
    EXPECT_TRUE (showsHot()) << "x = 22 is the strip's first column";
    mouse.move (34, 100);
    EXPECT_TRUE (showsNormal()) << "x = 34 is the right fader";
    mouse.move (33, 100);
    EXPECT_TRUE (showsHot());
    mouse.move (21, 100);
    EXPECT_TRUE (showsNormal());

    pair->setEnabled (false);
    mouse.move (27, 100);
    EXPECT_TRUE (showsNormal());

    // Linking a disabled pair still sets the values but leaves the thumbs alone.
    pair->setSlidersLinked (true);
    EXPECT_EQ (left.getValue(), -30.0);
    EXPECT_TRUE (showsNormal());
    EXPECT_TRUE (log.lines.isEmpty());
}

TEST_F (StereoPair, JointDragMovesEachFaderFromItsOwnValueThenLinksToTheLower)
{
    tarvik::test::DesktopMouse mouse (*pair);
    mouse.down (27, 200);
    mouse.drag (27, 175); // a tenth of the range: 25 of 250 pixels
    EXPECT_EQ (left.getValue(), -24.0);
    EXPECT_EQ (right.getValue(), -24.0);
    mouse.drag (27, 150);
    EXPECT_EQ (left.getValue(), -18.0);
    EXPECT_TRUE (showsHot());

    mouse.up (27, 600); // released well below the pair
    EXPECT_FALSE (pair->isGapDragging());
    EXPECT_EQ (log.lines.joinIntoString (", "), "R start, L start, L -14, R -24, L -8, R -18, L end, R end");

    // Equal values are left as they are; so is a press on a fader itself.
    log.lines.clear();
    pair->setSlidersLinked (true);
    EXPECT_EQ (right.getValue(), -18.0);
    mouse.down (10, 200);
    mouse.drag (10, 175);
    mouse.up (10, 175);
    EXPECT_EQ (left.getValue(), -12.0);
    EXPECT_EQ (right.getValue(), -18.0);
    EXPECT_EQ (log.lines.joinIntoString (", "), "L start, L -12, L end");
}

TEST_F (StereoPair, WheelOnTheStripStepsBothAndLinksWheelOnAFaderStepsOne)
{
    tarvik::test::DesktopMouse mouse (*pair);
    mouse.wheel (27, 100, 0.01f);
    EXPECT_EQ (log.lines.joinIntoString (", "), "L start, L -19.5, L end, R start, R -29.5, R end");
    EXPECT_EQ (left.getValue(), -29.5);
    EXPECT_EQ (right.getValue(), -29.5);
    EXPECT_TRUE (showsHot());

    mouse.wheel (45, 100, 0.01f);
    EXPECT_EQ (left.getValue(), -29.5);
    EXPECT_EQ (right.getValue(), -29.0);
    EXPECT_TRUE (showsNormal());
    EXPECT_FALSE (pair->isShowingLinked());

    // A fader that declines the wheel hands it back to the pair: that must not recurse.
    left.setEnabled (false);
    log.lines.clear();
    mouse.wheel (27, 100, 0.01f);
    EXPECT_EQ (log.lines.joinIntoString (", "), "R start, R -28.5, R end");
    EXPECT_EQ (right.getValue(), -29.5);
}

TEST_F (StereoPair, DestructionTakesTheLookOffButLeavesTheFaders)
{
    juce::Component host;
    host.setSize (56, 320);
    host.addAndMakeVisible (left);
    tarvik::test::DesktopMouse mouse (host);

    pair.reset();
    EXPECT_NE (&left.getLookAndFeel(), static_cast<juce::LookAndFeel*> (&look));
    EXPECT_NE (&right.getLookAndFeel(), static_cast<juce::LookAndFeel*> (&look));

    // The fader no longer reports to the pair that is gone.
    mouse.move (10, 100);
    mouse.wheel (10, 100, 0.01f);
    EXPECT_EQ (left.getValue(), -19.5);
}
