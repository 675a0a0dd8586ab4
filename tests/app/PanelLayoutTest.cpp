// The face artwork chosen by width and the controls placed on it.
#include "PanelTestSupport.h"

using namespace tarvik::test;

namespace
{
class PanelLayout : public PanelTest
{
};

juce::StringArray linesOf (const std::string& text)
{
    return juce::StringArray::fromLines (juce::String (text));
}

using Box = juce::Rectangle<int>;
} // namespace

TEST_F (PanelLayout, ControlsSitAtTheFacesFractionsBelowTheMenuBar)
{
    makePanel();
    auto ui = inspect();
    const int bar = ui.menuBarHeight();

    struct Expected
    {
        int faceW, faceH;
        Box muteIn, muteOut, inGroup, outGroup, in1, in2, out1, out2, m1, m2, m3, m4;
    };

    // Face-relative boxes at the three sizes the window allows as its corners and default.
    const Expected sizes[] = {
        { 452, 580, { 77, 513, 77, 44 }, { 297, 513, 77, 44 }, { 89, 129, 56, 319 }, { 307, 129, 56, 319 },
          { 34, 461, 81, 31 }, { 118, 461, 81, 31 }, { 253, 461, 81, 31 }, { 336, 461, 81, 31 },
          { 64, 145, 20, 288 }, { 151, 145, 20, 288 }, { 282, 145, 20, 288 }, { 369, 145, 20, 288 } },
        { 316, 405, { 54, 358, 53, 30 }, { 208, 358, 53, 30 }, { 62, 90, 39, 223 }, { 214, 90, 39, 223 },
          { 24, 321, 56, 22 }, { 82, 321, 56, 22 }, { 176, 321, 56, 22 }, { 234, 321, 56, 22 },
          { 45, 101, 13, 201 }, { 105, 101, 13, 201 }, { 197, 101, 13, 201 }, { 257, 101, 13, 201 } },
        { 226, 290, { 38, 256, 38, 22 }, { 148, 256, 38, 22 }, { 44, 64, 28, 159 }, { 153, 64, 28, 159 },
          { 17, 230, 40, 15 }, { 59, 230, 40, 15 }, { 126, 230, 40, 15 }, { 168, 230, 40, 15 },
          { 32, 72, 10, 144 }, { 75, 72, 10, 144 }, { 141, 72, 10, 144 }, { 184, 72, 10, 144 } },
    };

    for (const auto& e : sizes)
    {
        SCOPED_TRACE (juce::String (e.faceW) + " x " + juce::String (e.faceH));
        panel->setSize (e.faceW, e.faceH + bar);

        auto below = [bar] (Box b) { return b.translated (0, bar); };
        EXPECT_EQ (ui.muteIn().getBounds(), below (e.muteIn));
        EXPECT_EQ (ui.muteOut().getBounds(), below (e.muteOut));
        EXPECT_EQ (ui.inGroup().getBounds(), below (e.inGroup));
        EXPECT_EQ (ui.outGroup().getBounds(), below (e.outGroup));
        EXPECT_EQ (ui.labelIn1().getBounds(), below (e.in1));
        EXPECT_EQ (ui.labelIn2().getBounds(), below (e.in2));
        EXPECT_EQ (ui.labelOut1().getBounds(), below (e.out1));
        EXPECT_EQ (ui.labelOut2().getBounds(), below (e.out2));
        EXPECT_EQ (ui.meterIn1().getBounds(), below (e.m1));
        EXPECT_EQ (ui.meterIn2().getBounds(), below (e.m2));
        EXPECT_EQ (ui.meterOut1().getBounds(), below (e.m3));
        EXPECT_EQ (ui.meterOut2().getBounds(), below (e.m4));
        EXPECT_FALSE (ui.meterIn1().isShowing());
        EXPECT_EQ (ui.menuBar().getBounds(), Box (0, 0, e.faceW, bar));
        EXPECT_EQ (ui.backgroundImage().getBounds(), Box (e.faceW, e.faceH));
        EXPECT_EQ (ui.pressedImage().getBounds(), Box (e.faceW, e.faceH));
    }
}

TEST_F (PanelLayout, ArtIsChosenByWidthAndConstructionTracesGrossTwice)
{
    testing::internal::CaptureStderr();
    makePanel();
    const auto constructionLines = linesOf (testing::internal::GetCapturedStderr());

    int gross = 0;
    for (auto& line : constructionLines)
    {
        EXPECT_NE (line, "klein");
        EXPECT_NE (line, "mittel");
        gross += line == "gross" ? 1 : 0;
    }
    EXPECT_EQ (gross, 2);

    const int bar = inspect().menuBarHeight();
    const std::pair<int, const char*> widths[] = { { 235, "klein" }, { 236, "mittel" }, { 316, "mittel" }, { 317, "gross" } };

    for (auto [width, word] : widths)
    {
        testing::internal::CaptureStderr();
        panel->setSize (width, (int) (width * 290.0 / 226.0) + bar);
        const auto lines = linesOf (testing::internal::GetCapturedStderr());
        EXPECT_TRUE (lines.contains (word)) << width << " should choose " << word;
    }

    // A face with no room left gets no art and no trace, but the layout still runs.
    testing::internal::CaptureStderr();
    panel->setSize (300, bar);
    const auto lines = linesOf (testing::internal::GetCapturedStderr());
    EXPECT_FALSE (lines.contains ("klein") || lines.contains ("mittel") || lines.contains ("gross"));
    EXPECT_EQ (inspect().menuBar().getHeight(), bar);
}

TEST_F (PanelLayout, MuteButtonsShowTheFaceAndTheLitFaceUnderThem)
{
    sim().attachTarvik();
    makePanel();
    auto ui = inspect();
    const int bar = ui.menuBarHeight();
    panel->setSize (452, 580 + bar);

    // Where the lit face differs from the plain face inside the input mute button.
    const auto region = ui.muteIn().getBounds().translated (0, -bar);
    juce::Point<int> probe { -1, -1 };

    for (int y = region.getY(); y < region.getBottom() && probe.x < 0; ++y)
        for (int x = region.getX(); x < region.getRight(); ++x)
            if (ui.backgroundImage().getPixelAt (x, y) != ui.pressedImage().getPixelAt (x, y))
            {
                probe = { x, y };
                break;
            }

    ASSERT_GE (probe.x, 0) << "the lit face does not differ under the mute button";

    auto shownAt = [&] {
        const auto shot = panel->createComponentSnapshot (panel->getLocalBounds(), true, 1.0f);
        return shot.getPixelAt (probe.x, probe.y + bar);
    };

    ui.muteIn().setToggleState (false, juce::dontSendNotification);
    EXPECT_EQ (shownAt(), ui.backgroundImage().getPixelAt (probe.x, probe.y));

    ui.muteIn().setToggleState (true, juce::dontSendNotification);
    EXPECT_EQ (shownAt(), ui.pressedImage().getPixelAt (probe.x, probe.y));
}

TEST_F (PanelLayout, EveryControlLiesOverItsPlaceInTheFace)
{
    makePanel(); // no interface: only the face is drawn
    auto ui = inspect();
    const int bar = ui.menuBarHeight();

    for (const auto& face : { juce::Point<int> (452, 580), juce::Point<int> (226, 290) })
    {
        SCOPED_TRACE (juce::String (face.x) + " x " + juce::String (face.y));
        panel->setSize (face.x, face.y + bar);
        const auto shot = panel->createComponentSnapshot (panel->getLocalBounds(), true, 1.0f);

        auto inPanel = [this] (juce::Component& c) { return panel->getLocalArea (&c, c.getLocalBounds()); };
        auto brightness = [&shot] (juce::Point<int> p) { return shot.getPixelAt (p.x, p.y).getBrightness(); };

        // Each fader runs in a dark slot; the strip between the two faders of a pair does not.
        for (auto* pair : { &ui.inGroup(), &ui.outGroup() })
        {
            juce::Slider* faders[] = { pair == &ui.inGroup() ? &ui.sliderIn1() : &ui.sliderOut1(),
                                       pair == &ui.inGroup() ? &ui.sliderIn2() : &ui.sliderOut2() };
            for (auto* fader : faders)
            {
                const auto slot = inPanel (*fader);
                for (const float along : { 0.25f, 0.5f, 0.75f })
                    EXPECT_LT (brightness ({ slot.getCentreX(), slot.getY() + juce::roundToInt ((float) slot.getHeight() * along) }), 0.3f)
                        << "no slot under the fader at " << slot.toString();
            }

            const auto strip = inPanel (*faders[0]).getUnion (inPanel (*faders[1]));
            EXPECT_GT (brightness (strip.getCentre()), 0.5f) << "the link strip should be the light front";
        }

        // Each readout sits on a dark box, each mute button on a plain grey button.
        for (auto* label : { &ui.labelIn1(), &ui.labelIn2(), &ui.labelOut1(), &ui.labelOut2() })
            EXPECT_LT (brightness (inPanel (*label).getCentre()), 0.3f) << "no readout box under " << inPanel (*label).toString();

        for (auto* button : { &ui.muteIn(), &ui.muteOut() })
        {
            const auto colour = shot.getPixelAt (inPanel (*button).getCentreX(), inPanel (*button).getY() + 4);
            EXPECT_LT (colour.getSaturation(), 0.2f) << "the unlit button should be grey";
            EXPECT_GT (colour.getBrightness(), 0.4f);
        }
    }
}
