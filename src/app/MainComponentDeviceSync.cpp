#include "app/MainComponent.h"

#include "app/AboutWindow.h"
#include "controls/SliderStereoGroup2.h"
#include "device/DeviceProperties.h"
#include "device/RegisterDeviceCallBacksMac.h"

namespace
{
/** The readout of a fader value: the framework's default number text, then " dB". */
juce::String readoutText (double decibels)
{
    return juce::String() + juce::String (decibels) + " dB";
}

/** A side counts as muted when either of its elements reads non-zero; a failed read counts as not muted. */
bool readSideMuted (AudioObjectPropertyScope scope)
{
    UInt32 muted1 = 0;
    hw_readChannelMute (scope, 1, &muted1);
    UInt32 muted2 = 0;
    hw_readChannelMute (scope, 2, &muted2);
    return muted1 != 0 || muted2 != 0;
}

Float32 readVolume (AudioObjectPropertyScope scope, UInt32 element)
{
    Float32 decibels = 0.0f;
    hw_readChannelVolume (scope, element, &decibels);
    return decibels;
}
} // namespace

std::array<MainComponent::Channel, 4> MainComponent::channelTable() const
{
    return { { { sliderIn1.get(), labelIn1.get(), kAudioDevicePropertyScopeInput, 1, muteInButton.get() },
               { sliderIn2.get(), labelIn2.get(), kAudioDevicePropertyScopeInput, 2, muteInButton.get() },
               { sliderOut1.get(), labelOut1.get(), kAudioDevicePropertyScopeOutput, 1, muteOutButton.get() },
               { sliderOut2.get(), labelOut2.get(), kAudioDevicePropertyScopeOutput, 2, muteOutButton.get() } } };
}

//==============================================================================
void MainComponent::buttonClicked (juce::Button* button)
{
    AudioObjectPropertyScope scope;

    if (button == muteInButton.get())
        scope = kAudioDevicePropertyScopeInput;
    else if (button == muteOutButton.get())
        scope = kAudioDevicePropertyScopeOutput;
    else
        return;

    // The button already holds its new state; the device's own report follows later.
    deviceWriteInProgress = true;
    const UInt32 muted = button->getToggleState() ? 1 : 0;
    hw_writeChannelMute (scope, 1, muted);
    hw_writeChannelMute (scope, 2, muted);
    startTimer (WriteGuardTimer, 50);
}

void MainComponent::sliderValueChanged (juce::Slider* slider)
{
    const auto text = readoutText (slider->getValue());

    for (const auto& channel : channelTable())
    {
        if (channel.slider != slider)
            continue;

        hw_writeChannelVolume (channel.scope, channel.element, (Float32) slider->getValue());
        channel.label->setText (text, juce::dontSendNotification);

        // Moving a fader of a muted side un-mutes it; the button follows at the next refresh.
        if (channel.muteButton->getToggleState())
        {
            hw_writeChannelMute (channel.scope, 1, 0);
            hw_writeChannelMute (channel.scope, 2, 0);
        }

        return;
    }
}

void MainComponent::timerCallback (int timerID)
{
    if (timerID == WriteGuardTimer)
    {
        stopTimer (WriteGuardTimer);
        deviceWriteInProgress = false;
    }
    else if (timerID == RefreshFromDeviceTimer)
    {
        // Dropped, not deferred, while a mute write is under way.
        if (! deviceWriteInProgress)
            refreshFromDevice();

        stopTimer (RefreshFromDeviceTimer);
    }
}

void MainComponent::refreshFromDevice()
{
    const auto channels = channelTable();
    std::array<Float32, 4> volumes {};

    for (size_t i = 0; i < channels.size(); ++i)
        volumes[i] = readVolume (channels[i].scope, channels[i].element);

    readMuteStates();

    for (size_t i = 0; i < channels.size(); ++i)
    {
        channels[i].label->setText (readoutText (volumes[i]), juce::dontSendNotification);
        channels[i].slider->setValue (volumes[i], juce::dontSendNotification);
    }
}

void MainComponent::readMuteStates (MuteReadOrder order)
{
    // The refresh and an arrival read the input side first, the factory defaults the output side.
    const bool outputSideFirst = order == MuteReadOrder::outputFirst;

    if (outputSideFirst)
        muteOutButton->setToggleState (readSideMuted (kAudioDevicePropertyScopeOutput), juce::dontSendNotification);

    muteInButton->setToggleState (readSideMuted (kAudioDevicePropertyScopeInput), juce::dontSendNotification);

    if (! outputSideFirst)
        muteOutButton->setToggleState (readSideMuted (kAudioDevicePropertyScopeOutput), juce::dontSendNotification);
}

void MainComponent::handleDevicePlugged()
{
    if (! deviceWriteInProgress)
    {
        const auto in1 = readVolume (kAudioDevicePropertyScopeInput, 1);
        const auto in2 = readVolume (kAudioDevicePropertyScopeInput, 2);
        sliderIn1->setValue (in1, juce::dontSendNotification);
        sliderIn2->setValue (in2, juce::dontSendNotification);

        const auto out1 = readVolume (kAudioDevicePropertyScopeOutput, 1);
        const auto out2 = readVolume (kAudioDevicePropertyScopeOutput, 2);
        sliderOut1->setValue (out1, juce::dontSendNotification);
        sliderOut2->setValue (out2, juce::dontSendNotification);

        // No common rate found: a stream format at 0 Hz would be nonsense to the device.
        const auto rate = hw_getSampleRate();

        if (rate > 0.0)
            hw_writeStreamFormatAtRate (rate);
    }

    // A second arrival without a removal: the panel's values win over the device's.
    if (sliderOutGroup->isEnabled() && sliderInGroup->isEnabled())
    {
        sliderValueChanged (sliderIn1.get());
        sliderValueChanged (sliderIn2.get());
        sliderValueChanged (sliderOut1.get());
        sliderValueChanged (sliderOut2.get());
    }

    readMuteStates();
    enabledButtons (true);
    menuItemsChanged();
    startTimer (RefreshFromDeviceTimer, 200);
    repaint();
}

void MainComponent::enabledButtons (bool on)
{
    for (auto* control : std::initializer_list<juce::Component*> { muteOutButton.get(), muteInButton.get(),
                                                                  labelIn1.get(), labelIn2.get(),
                                                                  labelOut1.get(), labelOut2.get(),
                                                                  sliderInGroup.get(), sliderOutGroup.get() })
    {
        control->setEnabled (on);
        control->setVisible (on);
    }

    if (! on && aboutDialogWindow != nullptr)
        aboutDialogWindow->setVisible (false);
}

void MainComponent::OnApiCallback (void* userData, void* /*reserved*/, VYR_CallbackEvent event)
{
    if (userData == nullptr)
        return;

    const juce::MessageManagerLock lock;

    // The panel withdraws itself under this lock as it goes; an event that waited for
    // the lock meanwhile finds it gone.
    if (! lock.lockWasGained() || mydeviceStruct.userData != userData)
        return;

    auto* panel = static_cast<MainComponent*> (userData);

    switch (event)
    {
        case EventPropertyChanged:
            panel->startTimer (RefreshFromDeviceTimer, 50);
            break;

        case EventDeviceRemoved:
            panel->enabledButtons (false);
            gInAudioObjectID = 0;
            gOutAudioObjectID = 0;
            break;

        case EventDevicePlugged:
            panel->handleDevicePlugged();
            break;

        case EventSystemWillSleep:
        case EventSystemWillPowerOn:
        case EventSystemHasPoweredOn:
        default:
            break;
    }
}
