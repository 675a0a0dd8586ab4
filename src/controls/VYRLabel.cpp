#include "controls/VYRLabel.h"

VYRdBLabelLookAndFeel::VYRdBLabelLookAndFeel()
    : sampleText ("-63.5 dB")
{
    sampleFont.setHeight (8.0f);
}

VYRdBLabelLookAndFeel::~VYRdBLabelLookAndFeel() = default;

juce::Font VYRdBLabelLookAndFeel::getLabelFont (juce::Label& label)
{
    // sampleFont is shared by every readout, so only one fitting may run at a time.
    const juce::MessageManagerLock lock (juce::Thread::getCurrentThread());

    if (! lock.lockWasGained())
        return sampleFont;

    sampleFont.setHeight (20.0f);
    auto sampleWidth = sampleFont.getStringWidthFloat (sampleText);
    const auto labelWidth = (float) label.getWidth();

    // No height fits a label without width; stop at the floor rather than loop forever.
    int height = 20;

    while (sampleWidth > labelWidth && height > minimumHeight)
    {
        --height;
        sampleFont.setHeight ((float) height);
        sampleWidth = sampleFont.getStringWidthFloat (sampleText);
    }

    return juce::Font ((float) height);
}
