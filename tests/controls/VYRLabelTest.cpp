#include <atomic>

#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "controls/VYRLabel.h"

namespace
{
float heightFor (VYRdBLabelLookAndFeel& look, int width, const juce::String& text = "-12.5 dB")
{
    juce::Label label ({}, text);
    label.setSize (width, 20);
    return look.getLabelFont (label).getHeight();
}

/** Asks for a font from a framework thread while the message thread is not pumping,
    then asks that thread to stop: the lock is never gained. The label is made and sized
    here, on the message thread; the asking thread only hands it over. */
float heightWithoutTheLock (VYRdBLabelLookAndFeel& look)
{
    juce::Label label;
    label.setSize (500, 20);

    struct Asker final : juce::Thread
    {
        Asker (VYRdBLabelLookAndFeel& l, juce::Label& toFit) : Thread ("asker"), lookToAsk (l), label (toFit) {}
        void run() override { height = lookToAsk.getLabelFont (label).getHeight(); }
        VYRdBLabelLookAndFeel& lookToAsk;
        juce::Label& label;
        std::atomic<float> height { -1.0f };
    } asker (look, label);

    asker.startThread();
    juce::Thread::sleep (100);
    asker.stopThread (5000);
    return asker.height;
}
} // namespace

TEST (DbReadoutLook, FitsTheSampleByWidthAloneNeverAbove20)
{
    VYRdBLabelLookAndFeel look;
    EXPECT_EQ (heightWithoutTheLock (look), 8.0f) << "no fitting has run yet";

    const auto sample20 = juce::Font (20.0f).getStringWidthFloat ("-63.5 dB");
    EXPECT_EQ (heightFor (look, 400), 20.0f);
    EXPECT_EQ (heightFor (look, (int) std::ceil (sample20)), 20.0f);
    EXPECT_LT (heightFor (look, (int) sample20), 20.0f);
    EXPECT_EQ (heightFor (look, 50, "0 dB"), heightFor (look, 50, "-59.5 dB"));

    const auto fitted = juce::Font (heightFor (look, 40));
    EXPECT_LE (fitted.getStringWidthFloat ("-63.5 dB"), 40.0f);
    EXPECT_GT (juce::Font (fitted.getHeight() + 1.0f).getStringWidthFloat ("-63.5 dB"), 40.0f);

    // A label without width fits nothing: the search stops at its floor.
    EXPECT_EQ (heightFor (look, 0), (float) VYRdBLabelLookAndFeel::minimumHeight);
}

TEST (DbReadoutLook, ExactFitCountsAsFittingAndLastFittingIsKept)
{
    // Every glyph advances half the height: the sample's 8 characters are exactly 4 x height wide.
    const tarvik::test::FixedAdvanceFont fixedFace (0.5f);
    VYRdBLabelLookAndFeel look;

    EXPECT_EQ (heightFor (look, 60), 15.0f);
    EXPECT_EQ (heightFor (look, 59), 14.0f);
    EXPECT_EQ (heightFor (look, 80), 20.0f);
    EXPECT_EQ (heightFor (look, 44), 11.0f);

    const auto font = look.getLabelFont (*std::make_unique<juce::Label>());
    EXPECT_EQ (font.getTypefaceName(), juce::Font::getDefaultSansSerifFontName());
    EXPECT_EQ (font.getStyleFlags(), juce::Font::plain);

    EXPECT_EQ (heightFor (look, 40), 10.0f);
    EXPECT_EQ (heightWithoutTheLock (look), 10.0f) << "a thread without the lock gets the last fitting's height";
}
