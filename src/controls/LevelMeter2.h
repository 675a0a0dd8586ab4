#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    Bar-graph level meter drawn from an unlit background picture and a fully lit
    one of the same size.

    Every 60 ms it reads the signed byte at levelSource, maps it logarithmically
    onto 0 to 126 display units, rises at once and falls back by 2 units a tick
    (1 below 3), and paints the lit picture from the bottom up to that level.
    The owner assigns the pictures and the level byte directly; the meter owns the
    byte and deletes it when it goes.
*/
class LevelMeter2 final : public juce::Component,
                          public juce::Timer
{
public:
    LevelMeter2();
    ~LevelMeter2() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    /** One 60 ms tick: follows the level byte, if there is one, and repaints. */
    void timerCallback() override;

    juce::Image litScaled;               ///< litSource at the meter's size; its height is the scale
    juce::Image backScaled;              ///< backSource at the meter's size
    juce::Image litSource;               ///< fully lit bar picture, set by the owner
    juce::Image backSource;              ///< unlit background picture, set by the owner
    juce::int8* levelSource = nullptr;   ///< level byte kept up to date by a producer; owned
    juce::int64 meterLevel = 0;          ///< shown level in display units, 0 to 126
    int splitRow = 0;                    ///< first lit row of litScaled, worked out by paint

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LevelMeter2)
};
