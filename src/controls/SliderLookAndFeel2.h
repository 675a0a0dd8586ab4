#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    Draws vertical faders as a bitmap thumb and nothing else: the fader slots
    are part of the panel's background artwork.

    Holds the thumb art in three sizes (small, medium, large), each in a normal
    and a hot variant, and keeps ready-scaled thumbs for the current thumb size.
    One instance is shared by all faders of the panel; the stereo pairs switch
    thumbCurrent between thumbNormal and thumbHot.
*/
class VyrSliderLookAndFeel2 final : public juce::LookAndFeel_V4
{
public:
    VyrSliderLookAndFeel2();
    ~VyrSliderLookAndFeel2() override;

    /** Rebuilds thumbCurrent, thumbNormal and thumbHot for a thumb of the given
        size, from the source size that suits the width. */
    void resizeKnobImages (double width, double height);

    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height,
                           float sliderPos, float minSliderPos, float maxSliderPos,
                           juce::Slider::SliderStyle, juce::Slider&) override;

    void drawLinearSliderThumb (juce::Graphics&, int x, int y, int width, int height,
                                float sliderPos, float minSliderPos, float maxSliderPos,
                                juce::Slider::SliderStyle, juce::Slider&) override;

    /** Half the current thumb height, rounded up; 0 without a thumb. */
    int getSliderThumbRadius (juce::Slider&) override;

    juce::Image thumbHot;     ///< hot thumb at the current size, with its red centre line
    juce::Image thumbCurrent; ///< thumb drawn when the fader itself is not hot
    juce::Image thumbNormal;  ///< normal thumb at the current size, to restore thumbCurrent

    juce::Image normalSources[3];       ///< normal art: small, medium, large
    juce::Image normalBackupSources[3]; ///< art thumbNormal is made from
    juce::Image hotSources[3];          ///< hot art: small, medium, large

    bool drawCentreLine = true;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VyrSliderLookAndFeel2)
};
