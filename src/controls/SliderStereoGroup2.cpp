#include "controls/SliderStereoGroup2.h"

namespace
{
// Layout products are formed in single precision on purpose: 11/28 of 56 must come out
// as 22, which the double product truncates to 21.
int truncatedProduct (float ratio, float length)
{
    const float product = ratio * length;
    return (int) product;
}
} // namespace

SliderStereoGroup2::SliderStereoGroup2 (const juce::String& name, juce::Slider* left, juce::Slider* right,
                                        float rightXRatioToUse, float sliderWidthRatioToUse,
                                        float knobWidthRatioToUse, float knobHeightRatioToUse,
                                        int, VyrSliderLookAndFeel2* thumbLook)
    : leftSlider (left),
      rightSlider (right),
      sliderLookAndFeel (thumbLook),
      rightXRatio (rightXRatioToUse),
      sliderWidthRatio (sliderWidthRatioToUse),
      knobWidthRatio (knobWidthRatioToUse),
      knobHeightRatio (knobHeightRatioToUse)
{
    jassert (left != nullptr && right != nullptr);

    setName (name);

    for (auto* slider : { leftSlider, rightSlider })
    {
        if (slider == nullptr)
            continue;

        slider->setVisible (true);
        addChildComponent (slider);
        slider->addMouseListener (this, false);
    }
}

SliderStereoGroup2::~SliderStereoGroup2()
{
    // The faders outlive the pair; they must neither call back into it nor keep a look
    // that is about to go with the panel.
    for (auto* slider : { leftSlider, rightSlider })
    {
        if (slider == nullptr)
            continue;

        slider->removeMouseListener (this);
        slider->setLookAndFeel (nullptr);
    }
}

bool SliderStereoGroup2::isOnStrip (const juce::MouseEvent& e) const
{
    // Events the faders pass on to us carry fader coordinates, which never reach the strip.
    return gapArea.contains (e.x, e.y);
}

void SliderStereoGroup2::showThumb (const juce::Image& thumb)
{
    if (sliderLookAndFeel == nullptr)
        return;

    sliderLookAndFeel->thumbCurrent = thumb;
    leftSlider->lookAndFeelChanged();
    rightSlider->lookAndFeelChanged();
}

void SliderStereoGroup2::setSlidersLinked (bool link)
{
    linked = link;

    if (link)
    {
        const auto leftValue = leftSlider->getValue();
        const auto rightValue = rightSlider->getValue();
        const auto lower = leftValue < rightValue ? leftValue : rightValue;

        rightSlider->setValue (lower, juce::dontSendNotification);
        leftSlider->setValue (lower, juce::dontSendNotification);
        showLinked = true;
    }
    else
    {
        showLinked = false;
    }

    if (! isEnabled() || sliderLookAndFeel == nullptr)
        return;

    showThumb (showLinked ? sliderLookAndFeel->thumbHot : sliderLookAndFeel->thumbNormal);
}

void SliderStereoGroup2::mouseMove (const juce::MouseEvent& e)
{
    if (! isEnabled() || sliderLookAndFeel == nullptr)
        return;

    showThumb (isOnStrip (e) ? sliderLookAndFeel->thumbHot : sliderLookAndFeel->thumbNormal);
}

void SliderStereoGroup2::mouseEnter (const juce::MouseEvent&) {}

void SliderStereoGroup2::mouseExit (const juce::MouseEvent&) {}

void SliderStereoGroup2::mouseDown (const juce::MouseEvent& e)
{
    if (isOnStrip (e))
    {
        gapDragging = true;
        rightSlider->mouseDown (e);
        leftSlider->mouseDown (e);
    }
    else
    {
        gapDragging = false;
    }
}

void SliderStereoGroup2::mouseDrag (const juce::MouseEvent& e)
{
    if (! gapDragging)
        return;

    leftSlider->mouseDrag (e);
    rightSlider->mouseDrag (e);
    setSlidersLinked (true);
}

void SliderStereoGroup2::mouseUp (const juce::MouseEvent& e)
{
    if (gapDragging)
    {
        leftSlider->mouseUp (e);
        rightSlider->mouseUp (e);
    }

    gapDragging = false;
}

void SliderStereoGroup2::mouseDoubleClick (const juce::MouseEvent&) {}

void SliderStereoGroup2::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    // A fader that declines the wheel (disabled, wheel off) hands it back to its parent,
    // which is us: without this guard that would recurse until the stack runs out.
    if (forwardingWheel)
        return;

    const bool onStrip = isOnStrip (e);

    if (onStrip)
    {
        const juce::ScopedValueSetter<bool> forwarding (forwardingWheel, true);
        leftSlider->mouseWheelMove (e, wheel);
        rightSlider->mouseWheelMove (e, wheel);
    }

    setSlidersLinked (onStrip);
}

void SliderStereoGroup2::paint (juce::Graphics&) {}

void SliderStereoGroup2::resized()
{
    const auto width = (float) getWidth();
    const auto height = (float) getHeight();

    if (sliderLookAndFeel != nullptr)
        sliderLookAndFeel->resizeKnobImages ((double) truncatedProduct (knobWidthRatio, width),
                                             (double) truncatedProduct (knobHeightRatio, height));

    const auto faderWidth = truncatedProduct (sliderWidthRatio, width);
    const juce::Rectangle<int> left (0, 0, faderWidth, getHeight());
    const juce::Rectangle<int> right (truncatedProduct (rightXRatio, width), 0, faderWidth, getHeight());

    leftSlider->setBounds (left);
    rightSlider->setBounds (right);

    gapArea = { left.getRight(), left.getY(), right.getX() - left.getRight(), left.getHeight() };
}

void SliderStereoGroup2::sliderValueChanged (juce::Slider*) {}

void SliderStereoGroup2::sliderDragStarted (juce::Slider*) {}
