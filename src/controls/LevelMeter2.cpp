#include "controls/LevelMeter2.h"

#include <cmath>

namespace
{
juce::Image rescaledToFit (const juce::Image& source, int width, int height)
{
    // A zero-sized image is illegal in the framework; an empty meter just shows nothing.
    if (! source.isValid() || width < 1 || height < 1)
        return {};

    return source.rescaled (width, height, juce::Graphics::highResamplingQuality);
}
} // namespace

LevelMeter2::LevelMeter2()
{
    setSize (110, 110);
    startTimer (60);
}

LevelMeter2::~LevelMeter2()
{
    stopTimer();
    delete levelSource;
}

void LevelMeter2::resized()
{
    litScaled = rescaledToFit (litSource, getWidth(), getHeight());
    backScaled = rescaledToFit (backSource, getWidth(), getHeight());
}

void LevelMeter2::timerCallback()
{
    if (levelSource == nullptr)
        return;

    // One plain read: the producer may write the byte from another thread at any time.
    const int level = *levelSource;

    // The law has no value for a negative byte; such a byte shows as silence.
    const int clampedLevel = juce::jlimit (0, 123, level);
    const float target = std::log ((float) (clampedLevel + 1)) * 26.33745f;
    const auto targetLevel = (juce::int64) target;

    const auto previous = (juce::int64) (juce::int8) meterLevel;

    if (previous > targetLevel)
        meterLevel = juce::jmax (juce::int64 { 0 }, previous < 3 ? previous - 1 : previous - 2);
    else
        meterLevel = targetLevel;

    repaint();
}

void LevelMeter2::paint (juce::Graphics& g)
{
    const int height = litScaled.isValid() ? litScaled.getHeight() : 0;
    splitRow = height - ((int) meterLevel * height) / 128;

    if (backScaled.isValid())
        g.drawImageAt (backScaled, 0, 0);

    if (litScaled.isValid())
    {
        const int width = litScaled.getWidth();
        const int rows = height - splitRow;

        if (rows > 0)
            g.drawImage (litScaled, 0, splitRow, width, rows, 0, splitRow, width, rows);
    }
}
