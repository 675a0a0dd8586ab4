#include <gtest/gtest.h>

#include "controls/VYRBorderBoundsConstrainer.h"

namespace
{
using Rect = juce::Rectangle<int>;

struct BorderConstrainer : ::testing::Test
{
    BorderConstrainer()
    {
        c.frameBorder = juce::BorderSize<int> (20, 1, 1, 1);
        c.setFixedAspectRatio (226.0 / 290.0);
        c.setSizeLimits (226, 290, 452, 580);
    }

    Rect check (Rect proposed, Rect previous, bool top, bool left, bool bottom, bool right)
    {
        c.checkBounds (proposed, previous, { 0, 0, 4000, 3000 }, top, left, bottom, right);
        return proposed;
    }

    BorderBoundsConstrainer c;
    const Rect before { 100, 100, 318, 426 }; // client 316 x 405
};
} // namespace

TEST_F (BorderConstrainer, WithoutEdgeFlagsKeepsPositionAndConstrainsClientSize)
{
    // Client 398 x 279 keeps its width; the height follows the aspect ratio: 398 / (226 / 290) = 510.7.
    EXPECT_EQ (check ({ 50, 60, 400, 300 }, before, false, false, false, false), Rect (50, 60, 400, 532));
}

TEST_F (BorderConstrainer, EdgeDragCentresAspectCorrectedSizeOnTheOldCentre)
{
    // Right edge 40 pixels out: client 356 wide, 457 high; outer 358 x 478 round the old centre (259, 313).
    EXPECT_EQ (check ({ 100, 100, 358, 426 }, before, false, false, false, true), Rect (80, 74, 358, 478));

    // Limits hold for the client area, the frame comes on top.
    EXPECT_EQ (check ({ 100, 100, 1000, 426 }, before, false, false, false, true), Rect (32, 13, 454, 601));
    EXPECT_EQ (check ({ 100, 100, 102, 426 }, before, false, false, false, true), Rect (145, 158, 228, 311));
}

TEST_F (BorderConstrainer, WithoutFrameTheWholeRectangleIsConstrainedAndStillCentred)
{
    c.frameBorder = {};
    // Bottom edge only: the width follows, 300 x 226 / 290 = 233.8.
    EXPECT_EQ (check ({ 10, 10, 226, 300 }, { 10, 10, 226, 290 }, false, false, true, false), Rect (6, 5, 234, 300));

    // A strip at the top is left out of the ratio and added back afterwards.
    c.extraTop = 30;
    EXPECT_EQ (check ({ 0, 0, 300, 430 }, { 0, 0, 300, 430 }, false, false, false, false), Rect (0, 0, 300, 415));

    // Asked for less than the strip: the rules make the empty client 300 x 385, and the whole
    // 30-pixel strip, not only the 20 pixels the proposal held, comes back on top of it.
    EXPECT_EQ (check ({ 0, 0, 300, 20 }, { 0, 0, 300, 430 }, false, false, false, false), Rect (0, 0, 300, 415));
}
