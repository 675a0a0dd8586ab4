#include "app/MainComponent.h"

#include <iostream>

#include "controls/LevelMeter2.h"
#include "controls/SliderStereoGroup2.h"
#include "app/PanelArt.h"

namespace
{
/** A control's place as fractions of the face: the design coordinate on the 452 x 580
    face divided by 452 (x, width) or 580 (y, height).
*/
struct FacePlace
{
    float x, y, w, h;
};

constexpr FacePlace muteInPlace { 0.172566f, 0.884483f, 0.170354f, 0.0758621f };
constexpr FacePlace muteOutPlace { 0.659292f, 0.884483f, 0.170354f, 0.0758621f };
constexpr FacePlace inGroupPlace { 0.196903f, 0.222414f, 0.123894f, 0.551724f };
constexpr FacePlace outGroupPlace { 0.679204f, 0.222414f, 0.123894f, 0.551724f };
constexpr FacePlace labelIn1Place { 0.0774336f, 0.794828f, 0.179204f, 0.0551724f };
constexpr FacePlace labelIn2Place { 0.261062f, 0.794828f, 0.179204f, 0.0551724f };
constexpr FacePlace labelOut1Place { 0.559735f, 0.794828f, 0.179204f, 0.0551724f };
constexpr FacePlace labelOut2Place { 0.743363f, 0.794828f, 0.179204f, 0.0551724f };
constexpr FacePlace meterIn1Place { 0.143805f, 0.25f, 0.0442478f, 0.496552f };
constexpr FacePlace meterIn2Place { 0.334071f, 0.25f, 0.0442478f, 0.496552f };
constexpr FacePlace meterOut1Place { 0.626106f, 0.25f, 0.0442478f, 0.496552f };
constexpr FacePlace meterOut2Place { 0.816372f, 0.25f, 0.0442478f, 0.496552f };

// Proportions of a stereo pair drawn 56 x 328: faders 22 wide at x 0 and 34, a 22 x 33 thumb.
constexpr float pairRightX = 17.0f / 28.0f;
constexpr float pairSliderWidth = 11.0f / 28.0f;
constexpr float pairKnobWidth = 11.0f / 28.0f;
constexpr float pairKnobHeight = 33.0f / 328.0f;
} // namespace

void MainComponent::buildControls()
{
    artWidth = (double) backgroundImage.getWidth();
    artHeight = (double) backgroundImage.getHeight();

    for (auto* button : { muteOutButton.get(), muteInButton.get() })
    {
        button->setClickingTogglesState (true);
        addAndMakeVisible (button);
        button->addListener (this);
        button->setEnabled (true);
    }

    sliderLookAndFeel.normalSources[0] = panelArt (14);
    sliderLookAndFeel.normalBackupSources[0] = panelArt (14);
    sliderLookAndFeel.hotSources[0] = panelArt (15);
    sliderLookAndFeel.normalSources[1] = panelArt (16);
    sliderLookAndFeel.normalBackupSources[1] = panelArt (16);
    sliderLookAndFeel.hotSources[1] = panelArt (17);
    sliderLookAndFeel.normalSources[2] = panelArt (18);
    sliderLookAndFeel.normalBackupSources[2] = panelArt (18);
    sliderLookAndFeel.hotSources[2] = panelArt (19);
    sliderLookAndFeel.resizeKnobImages (22.0, 33.0);

    auto setUpFader = [this] (juce::Slider& slider, const juce::String& name)
    {
        slider.setName (name);
        slider.setSliderStyle (juce::Slider::LinearVertical);
        slider.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
        slider.setRange (-60.0, 0.0, 0.5);
        addAndMakeVisible (slider);
        slider.setEnabled (true);
        slider.setLookAndFeel (&sliderLookAndFeel);
        slider.addListener (this);
        slider.setScrollWheelEnabled (true);
        slider.setSliderSnapsToMousePosition (false);
    };

    auto makePair = [this] (const juce::String& name, juce::Slider& left, juce::Slider& right)
    {
        auto pair = std::make_unique<SliderStereoGroup2> (name, &left, &right,
                                                          pairRightX, pairSliderWidth,
                                                          pairKnobWidth, pairKnobHeight,
                                                          0, &sliderLookAndFeel);
        addAndMakeVisible (*pair);
        return pair;
    };

    setUpFader (*sliderIn1, "sliderIn1");
    setUpFader (*sliderIn2, "sliderIn2");
    sliderInGroup = makePair ("sliderInGroup", *sliderIn1, *sliderIn2);
    setUpFader (*sliderOut1, "sliderOut1");
    setUpFader (*sliderOut2, "sliderOut2");
    sliderOutGroup = makePair ("sliderOutGroup", *sliderOut1, *sliderOut2);

    setBounds (getX(), getY(), (int) artWidth, (int) (menuBarHeight + artHeight));

    for (auto* label : { labelOut2.get(), labelOut1.get(), labelIn2.get(), labelIn1.get() })
        addAndMakeVisible (label);

    for (const auto& side : { std::array<juce::Label*, 2> { labelIn1.get(), labelIn2.get() },
                        std::array<juce::Label*, 2> { labelOut1.get(), labelOut2.get() } })
    {
        for (auto* label : side)
            label->setText ("", juce::dontSendNotification);
        for (auto* label : side)
            label->setLookAndFeel (&labelLookAndFeel);
        for (auto* label : side)
            label->setJustificationType (juce::Justification::centredRight);
    }

    enabledButtons (false);
}

void MainComponent::paint (juce::Graphics& g)
{
    if (backgroundImage.isValid())
        g.drawImageAt (backgroundImage, 0, menuBarHeight);
}

void MainComponent::resized()
{
    const int width = getWidth();
    const int height = getHeight();
    const int barHeight = juce::jmin (menuBarHeight, height);
    const int faceHeight = height - barHeight;

    // The bar's strip is no part of the face; a face with no height gets no art.
    if (width > 0 && faceHeight > 0)
    {
        const auto [backgroundItem, pressedItem, word] = width <= 235 ? std::make_tuple (8, 9, "klein")
                                                       : width <= 316 ? std::make_tuple (10, 11, "mittel")
                                                                      : std::make_tuple (12, 13, "gross");

        backgroundImage = panelArt (backgroundItem).createCopy().rescaled (width, faceHeight, juce::Graphics::highResamplingQuality);
        pressedImage = panelArt (pressedItem).createCopy().rescaled (width, faceHeight, juce::Graphics::highResamplingQuality);

        std::cerr << word << "\n" << std::flush;
    }

    if (menuBar != nullptr)
        menuBar->setBounds (0, 0, width, barHeight);

    const auto faceWidthF = (float) width;
    const auto faceHeightF = (float) faceHeight;

    auto place = [&] (juce::Component* component, const FacePlace& at)
    {
        if (component == nullptr)
            return;

        component->setBounds ((int) (at.x * faceWidthF),
                              (int) (at.y * faceHeightF) + menuBarHeight,
                              (int) (at.w * faceWidthF),
                              (int) (at.h * faceHeightF));
    };

    place (muteInButton.get(), muteInPlace);
    place (muteOutButton.get(), muteOutPlace);
    place (sliderInGroup.get(), inGroupPlace);
    place (sliderOutGroup.get(), outGroupPlace);
    place (labelIn1.get(), labelIn1Place);
    place (labelIn2.get(), labelIn2Place);
    place (labelOut1.get(), labelOut1Place);
    place (labelOut2.get(), labelOut2Place);
    place (meterIn1.get(), meterIn1Place);
    place (meterIn2.get(), meterIn2Place);
    place (meterOut1.get(), meterOut1Place);
    place (meterOut2.get(), meterOut2Place);

    // Each mute button shows the face under it, and the lit face while it is on.
    for (auto* button : { muteInButton.get(), muteOutButton.get() })
    {
        if (button == nullptr)
            continue;

        const auto region = button->getBounds() - imageOrigin;
        const auto normal = backgroundImage.getClippedImage (region);
        const auto over = backgroundImage.getClippedImage (region);
        const auto down = pressedImage.getClippedImage (region);

        button->setImages (false, true, true,
                           normal, 1.0f, juce::Colour(),
                           over, 1.0f, juce::Colour(),
                           down, 1.0f, juce::Colour(),
                           0.0f);
    }
}
