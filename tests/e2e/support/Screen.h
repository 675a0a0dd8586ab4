#pragma once

#include <optional>
#include <vector>

#include <juce_graphics/juce_graphics.h>

namespace tarvik::e2e
{
/** A control's slot as fractions of the face (the design coordinates on the 452 x 580 face). */
struct FacePlace
{
    float x, y, w, h;
};

namespace places
{
inline constexpr FacePlace muteIn { 0.172566f, 0.884483f, 0.170354f, 0.0758621f };
inline constexpr FacePlace muteOut { 0.659292f, 0.884483f, 0.170354f, 0.0758621f };
inline constexpr FacePlace inGroup { 0.196903f, 0.222414f, 0.123894f, 0.551724f };
inline constexpr FacePlace outGroup { 0.679204f, 0.222414f, 0.123894f, 0.551724f };
inline constexpr FacePlace labelIn1 { 0.0774336f, 0.794828f, 0.179204f, 0.0551724f };
inline constexpr FacePlace labelIn2 { 0.261062f, 0.794828f, 0.179204f, 0.0551724f };
inline constexpr FacePlace labelOut1 { 0.559735f, 0.794828f, 0.179204f, 0.0551724f };
inline constexpr FacePlace labelOut2 { 0.743363f, 0.794828f, 0.179204f, 0.0551724f };
} // namespace places

/** Where things are on the screen, for a panel window whose client area is known: the
    menu bar strip on top, the face below it.
*/
struct PanelGeometry
{
    juce::Rectangle<int> client;
    int barHeight = 24;

    juce::Rectangle<int> bar() const { return client.withHeight (barHeight); }
    juce::Rectangle<int> face() const { return client.withTrimmedTop (barHeight); }

    juce::Rectangle<int> slot (const FacePlace& p) const
    {
        const auto f = face();
        const auto w = (float) f.getWidth(), h = (float) f.getHeight();
        return { f.getX() + (int) (p.x * w), f.getY() + (int) (p.y * h), (int) (p.w * w), (int) (p.h * h) };
    }

    /** One fader of a stereo pair: 11/28 of the pair wide, the right one at 17/28. */
    juce::Rectangle<int> fader (const FacePlace& group, bool right) const
    {
        const auto g = slot (group);
        const auto w = (float) g.getWidth();
        return { g.getX() + (right ? (int) (17.0f / 28.0f * w) : 0), g.getY(), (int) (11.0f / 28.0f * w), g.getHeight() };
    }

    /** The strip between the two faders of a pair. */
    juce::Rectangle<int> strip (const FacePlace& group) const
    {
        const auto left = fader (group, false), right = fader (group, true);
        return { left.getRight(), left.getY(), right.getX() - left.getRight(), left.getHeight() };
    }

    /** Where the framework's linear slider puts the thumb centre for a value of the
        -60..0 dB range: the thumb's half height in from either end of the fader.
    */
    double thumbCentreFor (const FacePlace& group, double decibels) const
    {
        const auto g = slot (group);
        const int thumb = (int) (33.0f / 328.0f * (float) g.getHeight());
        const int indent = (thumb + thumb % 2) / 2;
        const double proportion = (decibels + 60.0) / 60.0;
        return g.getY() + indent + (1.0 - proportion) * (g.getHeight() - 2 * indent);
    }
};

/** Colour distance: the largest difference of the three channels. */
int colourDistance (juce::Colour a, juce::Colour b);

/** Share (0..1) of the pixels of an area that differ between two screenshots. */
double differingShare (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area, int threshold = 40);

/** Bounding box of the pixels of an area that differ between two screenshots. */
juce::Rectangle<int> differingBounds (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area, int threshold = 40);

/** Share of the pixels of an area for which the predicate holds. */
double shareOf (const juce::Image& image, juce::Rectangle<int> area, const std::function<bool (juce::Colour)>& predicate);

bool isRed (juce::Colour c);
bool isGreen (juce::Colour c);
bool isDark (juce::Colour c);

/** The centre row of a fader's thumb: the rows of the fader's column that differ from the
    bare face in at least half their pixels, the longest such run. Empty when none differs.
*/
std::optional<double> thumbCentre (const juce::Image& shot, const juce::Image& bareFace, juce::Rectangle<int> faderArea);

/** Runs of columns (or rows) holding dark pixels, as text would; gaps narrower than
    minGap join neighbouring runs into one word.
*/
std::vector<juce::Range<int>> darkColumnRuns (const juce::Image& image, juce::Rectangle<int> area, int minGap);
std::vector<juce::Range<int>> darkRowRuns (const juce::Image& image, juce::Rectangle<int> area, int minHeight);

/** Leftmost dark column in an area, or -1. */
int leftmostDark (const juce::Image& image, juce::Rectangle<int> area);
} // namespace tarvik::e2e
