#include "Screen.h"

#include <algorithm>
#include <cstdlib>

namespace tarvik::e2e
{
namespace
{
juce::Rectangle<int> within (const juce::Image& image, juce::Rectangle<int> area)
{
    return area.getIntersection (image.getBounds());
}

// One view of an image's pixels for a whole check: Image::getPixelAt opens one for every pixel,
// which made these checks most of an e2e test's time in the sanitizer builds. Only for a valid
// image (callers return early on an empty area first).
class Pixels
{
public:
    explicit Pixels (const juce::Image& image) : data (image, juce::Image::BitmapData::readOnly) {}
    juce::Colour at (int x, int y) const { return data.getPixelColour (x, y); }

private:
    const juce::Image::BitmapData data;
};
} // namespace

int colourDistance (juce::Colour a, juce::Colour b)
{
    return std::max ({ std::abs (a.getRed() - b.getRed()),
                       std::abs (a.getGreen() - b.getGreen()),
                       std::abs (a.getBlue() - b.getBlue()) });
}

double differingShare (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area, int threshold)
{
    area = within (a, within (b, area));
    if (area.isEmpty())
        return 0.0;

    const Pixels pa (a), pb (b);
    int differing = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (colourDistance (pa.at (x, y), pb.at (x, y)) > threshold)
                ++differing;

    return differing / (double) (area.getWidth() * area.getHeight());
}

juce::Rectangle<int> differingBounds (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area, int threshold)
{
    area = within (a, within (b, area));
    if (area.isEmpty())
        return {};

    const Pixels pa (a), pb (b);
    int left = area.getRight(), top = area.getBottom(), right = area.getX() - 1, bottom = area.getY() - 1;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (colourDistance (pa.at (x, y), pb.at (x, y)) > threshold)
            {
                left = std::min (left, x);
                right = std::max (right, x);
                top = std::min (top, y);
                bottom = std::max (bottom, y);
            }

    if (right < left)
        return {};
    return { left, top, right - left + 1, bottom - top + 1 };
}

double shareOf (const juce::Image& image, juce::Rectangle<int> area, const std::function<bool (juce::Colour)>& predicate)
{
    area = within (image, area);
    if (area.isEmpty())
        return 0.0;

    const Pixels pixels (image);
    int count = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (predicate (pixels.at (x, y)))
                ++count;

    return count / (double) (area.getWidth() * area.getHeight());
}

bool isRed (juce::Colour c) { return c.getRed() > 150 && c.getGreen() < 100 && c.getBlue() < 100; }
bool isGreen (juce::Colour c) { return c.getGreen() > 90 && c.getRed() < 70 && c.getBlue() < 70; }
bool isDark (juce::Colour c) { return c.getRed() < 90 && c.getGreen() < 90 && c.getBlue() < 90; }

std::optional<double> thumbCentre (const juce::Image& shot, const juce::Image& bareFace, juce::Rectangle<int> faderArea)
{
    faderArea = within (shot, within (bareFace, faderArea));
    if (faderArea.isEmpty())
        return std::nullopt;

    const Pixels pShot (shot), pFace (bareFace);
    int bestStart = -1, bestLength = 0, runStart = -1;

    for (int y = faderArea.getY(); y <= faderArea.getBottom(); ++y)
    {
        bool thumbRow = false;

        if (y < faderArea.getBottom())
        {
            int differing = 0;
            for (int x = faderArea.getX(); x < faderArea.getRight(); ++x)
                if (colourDistance (pShot.at (x, y), pFace.at (x, y)) > 40)
                    ++differing;
            thumbRow = differing * 2 >= faderArea.getWidth();
        }

        if (thumbRow && runStart < 0)
            runStart = y;

        if (! thumbRow && runStart >= 0)
        {
            if (y - runStart > bestLength)
            {
                bestLength = y - runStart;
                bestStart = runStart;
            }
            runStart = -1;
        }
    }

    if (bestStart < 0)
        return std::nullopt;
    return bestStart + (bestLength - 1) / 2.0;
}

std::vector<juce::Range<int>> darkColumnRuns (const juce::Image& image, juce::Rectangle<int> area, int minGap)
{
    area = within (image, area);
    std::vector<juce::Range<int>> runs;
    if (area.isEmpty())
        return runs;

    const Pixels pixels (image);
    for (int x = area.getX(); x < area.getRight(); ++x)
    {
        bool dark = false;
        for (int y = area.getY(); y < area.getBottom() && ! dark; ++y)
            dark = isDark (pixels.at (x, y));

        if (! dark)
            continue;

        if (! runs.empty() && x - runs.back().getEnd() < minGap)
            runs.back().setEnd (x + 1);
        else
            runs.emplace_back (x, x + 1);
    }
    return runs;
}

std::vector<juce::Range<int>> darkRowRuns (const juce::Image& image, juce::Rectangle<int> area, int minHeight)
{
    area = within (image, area);
    std::vector<juce::Range<int>> runs;
    if (area.isEmpty())
        return runs;

    const Pixels pixels (image);
    int start = -1;

    for (int y = area.getY(); y <= area.getBottom(); ++y)
    {
        int dark = 0;
        if (y < area.getBottom())
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (isDark (pixels.at (x, y)))
                    ++dark;

        // Text has some dark pixels in a row, a highlighted item or a rule has them all.
        const bool text = dark > 0 && dark * 2 < area.getWidth();

        if (text && start < 0)
            start = y;
        if (! text && start >= 0)
        {
            if (y - start >= minHeight)
                runs.emplace_back (start, y);
            start = -1;
        }
    }
    return runs;
}

int leftmostDark (const juce::Image& image, juce::Rectangle<int> area)
{
    area = within (image, area);
    if (area.isEmpty())
        return -1;

    const Pixels pixels (image);
    for (int x = area.getX(); x < area.getRight(); ++x)
        for (int y = area.getY(); y < area.getBottom(); ++y)
            if (isDark (pixels.at (x, y)))
                return x;
    return -1;
}
} // namespace tarvik::e2e
