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

    int differing = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (colourDistance (a.getPixelAt (x, y), b.getPixelAt (x, y)) > threshold)
                ++differing;

    return differing / (double) (area.getWidth() * area.getHeight());
}

juce::Rectangle<int> differingBounds (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area, int threshold)
{
    area = within (a, within (b, area));
    int left = area.getRight(), top = area.getBottom(), right = area.getX() - 1, bottom = area.getY() - 1;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (colourDistance (a.getPixelAt (x, y), b.getPixelAt (x, y)) > threshold)
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

    int count = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (predicate (image.getPixelAt (x, y)))
                ++count;

    return count / (double) (area.getWidth() * area.getHeight());
}

bool isRed (juce::Colour c) { return c.getRed() > 150 && c.getGreen() < 100 && c.getBlue() < 100; }
bool isGreen (juce::Colour c) { return c.getGreen() > 90 && c.getRed() < 70 && c.getBlue() < 70; }
bool isDark (juce::Colour c) { return c.getRed() < 90 && c.getGreen() < 90 && c.getBlue() < 90; }

std::optional<double> thumbCentre (const juce::Image& shot, const juce::Image& bareFace, juce::Rectangle<int> faderArea)
{
    faderArea = within (shot, within (bareFace, faderArea));
    int bestStart = -1, bestLength = 0, runStart = -1;

    for (int y = faderArea.getY(); y <= faderArea.getBottom(); ++y)
    {
        bool thumbRow = false;

        if (y < faderArea.getBottom())
        {
            int differing = 0;
            for (int x = faderArea.getX(); x < faderArea.getRight(); ++x)
                if (colourDistance (shot.getPixelAt (x, y), bareFace.getPixelAt (x, y)) > 40)
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

    for (int x = area.getX(); x < area.getRight(); ++x)
    {
        bool dark = false;
        for (int y = area.getY(); y < area.getBottom() && ! dark; ++y)
            dark = isDark (image.getPixelAt (x, y));

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
    int start = -1;

    for (int y = area.getY(); y <= area.getBottom(); ++y)
    {
        int dark = 0;
        if (y < area.getBottom())
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (isDark (image.getPixelAt (x, y)))
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
    for (int x = area.getX(); x < area.getRight(); ++x)
        for (int y = area.getY(); y < area.getBottom(); ++y)
            if (isDark (image.getPixelAt (x, y)))
                return x;
    return -1;
}
} // namespace tarvik::e2e
