#include "controls/VYRBorderBoundsConstrainer.h"

BorderBoundsConstrainer::BorderBoundsConstrainer() = default;

BorderBoundsConstrainer::~BorderBoundsConstrainer() = default;

void BorderBoundsConstrainer::checkBounds (juce::Rectangle<int>& bounds,
                                           const juce::Rectangle<int>& previousBounds,
                                           const juce::Rectangle<int>& limits,
                                           bool isStretchingTop, bool isStretchingLeft,
                                           bool isStretchingBottom, bool isStretchingRight)
{
    const auto proposedX = bounds.getX();
    const auto proposedY = bounds.getY();

    const auto top = frameBorder.getTop();
    const auto left = frameBorder.getLeft();
    const auto bottom = frameBorder.getBottom();
    const auto right = frameBorder.getRight();

    const auto clientHeight = bounds.getHeight() - top - bottom;
    const auto strip = juce::jmin (extraTop, clientHeight);

    juce::Rectangle<int> client (proposedX + left,
                                 proposedY + top + strip,
                                 bounds.getWidth() - left - right,
                                 clientHeight - strip);

    ComponentBoundsConstrainer::checkBounds (client, previousBounds, limits,
                                             isStretchingTop, isStretchingLeft,
                                             isStretchingBottom, isStretchingRight);

    const auto newWidth = client.getWidth() + left + right;
    const auto newHeight = client.getHeight() + extraTop + top + bottom;

    // The base's own placement is dropped: a resize keeps the window centred where it was.
    int newX = proposedX;
    int newY = proposedY;

    if (isStretchingTop || isStretchingLeft || isStretchingBottom || isStretchingRight)
    {
        newX = previousBounds.getX() + previousBounds.getWidth() / 2 - newWidth / 2;
        newY = previousBounds.getY() + previousBounds.getHeight() / 2 - newHeight / 2;
    }

    bounds = { newX, newY, newWidth, newHeight };
}

void BorderBoundsConstrainer::resizeStart() {}
