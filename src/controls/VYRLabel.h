#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    Look for the dB readouts: paints each label with the largest whole font
    height, 20 at most, at which the sample "-63.5 dB" fits the label's width.

    Every readout of one width thus gets one size that fits its longest values,
    and the size does not jump as the value changes.
*/
class VYRdBLabelLookAndFeel final : public juce::LookAndFeel_V4
{
public:
    VYRdBLabelLookAndFeel();
    ~VYRdBLabelLookAndFeel() override;

    /** Fits the sample text to the label's width, under the message-manager lock.
        A thread that cannot get the lock gets a copy of the last fitted font. */
    juce::Font getLabelFont (juce::Label&) override;

    /** Smallest height handed out; a label too narrow for any height gets this. */
    static constexpr int minimumHeight = 1;

private:
    juce::Font sampleFont;
    juce::String sampleText;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VYRdBLabelLookAndFeel)
};
