#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "controls/SliderLookAndFeel2.h"

/**
    Groups the two vertical faders of one side into a stereo pair.

    The faders sit at fixed fractions of the pair's width with a strip between
    them; a press and drag or a wheel step on the strip moves both faders, each
    from its own value, after which both are set to the lower of the two values.
    The pair does not own its faders or the look-and-feel; both must outlive it.
*/
class SliderStereoGroup2 final : public juce::Component,
                                 public juce::Slider::Listener
{
public:
    /** The int argument is not used. Both faders must be non-null. */
    SliderStereoGroup2 (const juce::String& name, juce::Slider* left, juce::Slider* right,
                        float rightXRatio, float sliderWidthRatio,
                        float knobWidthRatio, float knobHeightRatio,
                        int unused, VyrSliderLookAndFeel2* thumbLook);

    ~SliderStereoGroup2() override;

    /** Linking sets both faders, without notification, to the lower of their values. */
    void setSlidersLinked (bool link);

    void mouseMove (const juce::MouseEvent&) override;
    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void mouseDoubleClick (const juce::MouseEvent&) override;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    void paint (juce::Graphics&) override;
    void resized() override;

    void sliderValueChanged (juce::Slider*) override;
    void sliderDragStarted (juce::Slider*) override;

    /** The strip between the faders, in the pair's coordinates. */
    juce::Rectangle<int> getGapArea() const noexcept { return gapArea; }
    bool isLinked() const noexcept { return linked; }
    bool isShowingLinked() const noexcept { return showLinked; }
    bool isGapDragging() const noexcept { return gapDragging; }

private:
    bool isOnStrip (const juce::MouseEvent&) const;
    void showThumb (const juce::Image&);

    juce::Slider* leftSlider;
    juce::Slider* rightSlider;
    bool linked = true;
    bool gapDragging = false;
    bool showLinked = false;
    juce::Rectangle<int> gapArea;
    VyrSliderLookAndFeel2* sliderLookAndFeel;
    float rightXRatio;
    float sliderWidthRatio;
    float knobWidthRatio;
    float knobHeightRatio;
    bool forwardingWheel = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SliderStereoGroup2)
};
