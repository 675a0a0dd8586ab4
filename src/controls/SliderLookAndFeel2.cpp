#include "controls/SliderLookAndFeel2.h"

#include <cmath>

namespace
{
// Largest thumb edge we rescale to; anything beyond (or NaN) is no usable size.
constexpr double maxThumbEdge = 4096.0;

bool isUsableEdge (double edge)
{
    return edge >= 1.0 && edge <= maxThumbEdge;
}

juce::Image rescaledThumb (const juce::Image& source, int width, int height)
{
    if (! source.isValid())
        return {};

    return source.rescaled (width, height, juce::Graphics::highResamplingQuality);
}
} // namespace

VyrSliderLookAndFeel2::VyrSliderLookAndFeel2() = default;

VyrSliderLookAndFeel2::~VyrSliderLookAndFeel2() = default;

void VyrSliderLookAndFeel2::resizeKnobImages (double width, double height)
{
    // The large hot art is the yardstick; without it every sane width counts as large.
    const double reference = hotSources[2].isValid() ? (double) hotSources[2].getWidth() : 0.0;

    int index = 2;

    if (0.55 * reference > width)
        index = 0;
    else if (0.65 * reference > width)
        index = 1;

    // A zero-sized image is illegal in the framework, and NaN or huge values have no
    // integer size: such a layout simply has no thumb until the next sensible one.
    if (! (isUsableEdge (width) && isUsableEdge (height)))
    {
        thumbCurrent = {};
        thumbNormal = {};
        thumbHot = {};
        return;
    }

    const auto w = (int) width;
    const auto h = (int) height;

    thumbCurrent = rescaledThumb (normalSources[index], w, h);
    thumbNormal = rescaledThumb (normalBackupSources[index], w, h);
    thumbHot = rescaledThumb (hotSources[index], w, h);

    if (! thumbHot.isValid())
        return;

    // rescaled() hands back the source itself when the size already matches; draw on a
    // private copy so the line never lands on the shared source art.
    thumbHot.duplicateIfShared();

    if (drawCentreLine)
    {
        juce::Graphics g (thumbHot);
        g.setColour (juce::Colours::red);

        const auto lineY = (float) ((double) thumbHot.getHeight() / 2.0);
        const auto lineEnd = (float) thumbHot.getWidth() - 1.0f;
        g.drawLine (1.0f, lineY, lineEnd, lineY, 0.5f);
    }
}

void VyrSliderLookAndFeel2::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height,
                                              float sliderPos, float minSliderPos, float maxSliderPos,
                                              juce::Slider::SliderStyle style, juce::Slider& slider)
{
    drawLinearSliderThumb (g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos, style, slider);
}

void VyrSliderLookAndFeel2::drawLinearSliderThumb (juce::Graphics& g, int x, int y, int width, int height,
                                                   float sliderPos, float minSliderPos, float maxSliderPos,
                                                   juce::Slider::SliderStyle style, juce::Slider& slider)
{
    if (style == juce::Slider::LinearHorizontal)
        return;

    if (style != juce::Slider::LinearVertical)
    {
        LookAndFeel_V4::drawLinearSliderThumb (g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos,
                                               style, slider);
        return;
    }

    const bool hot = slider.isEnabled() && slider.isMouseOverOrDragging();
    const auto half = thumbCurrent.isValid() ? thumbCurrent.getHeight() / 2 : 0;
    const auto top = (int) (sliderPos - (float) half);
    const auto& image = hot ? thumbHot : thumbCurrent;

    if (! image.isValid() || g.getClipBounds().isEmpty())
        return;

    g.drawImageTransformed (image, juce::AffineTransform::translation ((float) x, (float) top));
}

int VyrSliderLookAndFeel2::getSliderThumbRadius (juce::Slider&)
{
    const auto h = thumbCurrent.isValid() ? thumbCurrent.getHeight() : 0;
    return (h + h % 2) / 2;
}
