#include <gtest/gtest.h>

#include <cmath>

#include "ControlsTestSupport.h"
#include "controls/PopupMenuLookAndFeel.h"

namespace
{
struct Menus final : juce::MenuBarModel
{
    juce::StringArray getMenuBarNames() override { return { "File", "Config" }; }
    juce::PopupMenu getMenuForIndex (int, const juce::String&) override { return {}; }
    void menuItemSelected (int, int) override {}
};

struct PanelMenus final : juce::MenuBarModel
{
    juce::StringArray getMenuBarNames() override { return { "File", "Config", "PatchWEAVE", "Help" }; }
    juce::PopupMenu getMenuForIndex (int, const juce::String&) override { return {}; }
    void menuItemSelected (int, int) override {}
};

template <typename Draw>
juce::Image render (int w, int h, Draw&& draw)
{
    juce::Image image (juce::Image::ARGB, w, h, true);
    juce::Graphics g (image);
    draw (g);
    return image;
}

bool sameImage (const juce::Image& a, const juce::Image& b)
{
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                return false;
    return true;
}
} // namespace

TEST (MenuBarLook, SlotIsTextWidthRoundedUpPlusTen)
{
    // The bar font is 0.7 of a 20-pixel bar, 14 high; one glyph of 20.2 / 14 of that is 20.2 wide.
    const tarvik::test::FixedAdvanceFont fixedFace (20.2f / 14.0f);
    PopupMenuLookandFeel look;
    juce::MenuBarComponent bar;
    bar.setSize (300, 20);

    EXPECT_EQ (look.getMenuBarItemWidth (bar, 0, "x"), 31);
    EXPECT_EQ (look.getMenuBarItemWidth (bar, 0, ""), 10);
    EXPECT_EQ (look.getMenuBarItemWidth (bar, 1, "xx"), 51);

    // With the panel's four names (24 glyphs) the font keeps its 14 while the slots (526) fit
    // the bar, and shrinks as little as it must where they do not; the rule stays.
    PanelMenus menus;
    bar.setModel (&menus);
    bar.setLookAndFeel (&look);
    const auto names = menus.getMenuBarNames();

    for (const int width : { 600, 526, 525, 300, 226, 120 })
    {
        SCOPED_TRACE ("bar " + juce::String (width) + " wide");
        bar.setSize (width, 20);
        const auto font = look.getMenuBarFont (bar, 0, names[0]);
        int slots = 0, slotsOneStepLarger = 0;

        for (int i = 0; i < names.size(); ++i)
        {
            EXPECT_EQ (look.getMenuBarFont (bar, i, names[i]).getHeight(), font.getHeight()) << "one font for the whole bar";
            const auto slot = look.getMenuBarItemWidth (bar, i, names[i]);
            EXPECT_EQ (slot, (int) std::ceil (font.getStringWidthFloat (names[i])) + 10) << names[i];
            slots += slot;
            slotsOneStepLarger += (int) std::ceil (font.withHeight (font.getHeight() + 0.2f).getStringWidthFloat (names[i])) + 10;
        }

        EXPECT_LE (slots, width);
        if (width >= 526)
            EXPECT_FLOAT_EQ (font.getHeight(), 14.0f);
        else
            EXPECT_GT (slotsOneStepLarger, width) << "the font shrank more than it had to: " << font.getHeight();
    }

    bar.setModel (nullptr);
    bar.setLookAndFeel (nullptr);
}

TEST (MenuBarLook, BarIsFlatLightgreyWithBlackCentredNamesAndNoHoverChange)
{
    PopupMenuLookandFeel look;
    Menus menus;
    juce::MenuBarComponent bar (&menus);
    bar.setLookAndFeel (&look);
    bar.setSize (200, 24);
    const auto image = bar.createComponentSnapshot (bar.getLocalBounds());

    const int slot = look.getMenuBarItemWidth (bar, 0, "File");
    int darkLeft = 1000, darkRight = -1;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 200; ++x)
        {
            const auto c = image.getPixelAt (x, y);
            if (c.getBrightness() < 0.3f && x < slot)
            {
                darkLeft = juce::jmin (darkLeft, x);
                darkRight = juce::jmax (darkRight, x);
            }
        }
    EXPECT_EQ (image.getPixelAt (190, 12), juce::Colours::lightgrey);
    EXPECT_EQ (image.getPixelAt (slot / 2, 0), juce::Colours::lightgrey);
    ASSERT_GE (darkRight, 0) << "no black text in the first slot";
    EXPECT_NEAR ((darkLeft + darkRight + 1) / 2.0, slot / 2.0, 1.5);

    const auto plainBar = render (60, 24, [&] (juce::Graphics& g) { look.drawMenuBarBackground (g, 60, 24, false, bar); });
    const auto hoveredBar = render (60, 24, [&] (juce::Graphics& g) { look.drawMenuBarBackground (g, 60, 24, true, bar); });
    EXPECT_TRUE (sameImage (plainBar, hoveredBar));

    const auto plainItem = render (40, 24, [&] (juce::Graphics& g) { look.drawMenuBarItem (g, 40, 24, 0, "File", false, false, false, bar); });
    const auto openItem = render (40, 24, [&] (juce::Graphics& g) { look.drawMenuBarItem (g, 40, 24, 0, "File", true, true, true, bar); });
    EXPECT_TRUE (sameImage (plainItem, openItem));
}
