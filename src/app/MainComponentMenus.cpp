#include "app/MainComponent.h"

#include <cmath>
#include <iostream>

#include "app/AboutWindow.h"
#include "app/PWLoopbackDialog.h"
#include "desktop/AudioSettings.h"
#include "desktop/DesktopWindows.h"
#include "controls/PopupMenuLookAndFeel.h"
#include "controls/SliderStereoGroup2.h"
#include "device/DeviceProperties.h"
#include "device/RegisterDeviceCallBacksMac.h"

namespace
{
enum MenuIds
{
    AlwaysOnTopId = 0x2000,
    AudioSettingsId = 0x2001,
    CloseId = 0x2002,
    FactoryDefaultsId = 0x2003,
    LoopbackId = 0x2005,
    AboutId = 0x2006,
    FirstRateId = 0x2100,
    ResetLoopbackId = 0x2402
};

enum MenuIndex
{
    FileMenu = 0,
    ConfigMenu = 1,
    PatchweaveMenu = 2,
    HelpMenu = 3
};

struct RateItem
{
    const char* label;
    double rate;
};

// The labels line up in the menu: nine characters each.
constexpr RateItem rateItems[] = {
    { "44100  Hz", 44100.0 },
    { "48000  Hz", 48000.0 },
    { "88200  Hz", 88200.0 },
    { "96000  Hz", 96000.0 },
    { "176400 Hz", 176400.0 },
    { "192000 Hz", 192000.0 },
};

constexpr int numRateItems = (int) (sizeof (rateItems) / sizeof (rateItems[0]));

constexpr int factoryFaceWidth = 316;
constexpr Float64 factorySampleRate = 48000.0;

/** Selects a loopback state in the dialog as a click would; a button already on stays quiet. */
void selectLoopbackButton (PatchweaveLoopbackDialog& dialog, juce::Button& button)
{
    button.setToggleState (true, juce::sendNotificationSync);
    dialog.repaint();
}
} // namespace

//==============================================================================
juce::StringArray MainComponent::getMenuBarNames()
{
    // Runs while the members are still being built: constants only.
    return { "File", "Config", "PatchWEAVE", "Help" };
}

juce::PopupMenu MainComponent::getMenuForIndex (int topLevelMenuIndex, const juce::String& /*menuName*/)
{
    juce::PopupMenu menu;

    switch (topLevelMenuIndex)
    {
        case FileMenu:
        {
            const auto* window = getParentComponent();
            menu.addItem (AlwaysOnTopId, "Always on top", true, window != nullptr && desktop::isKeptOnTop (*window));
            menu.addSeparator();
            menu.addItem (AudioSettingsId, "macOS Audio Settings");
            menu.addSeparator();
            menu.addItem (CloseId, "Close");
            break;
        }

        case ConfigMenu:
        {
            menu.addItem (FactoryDefaultsId, "Factory Defaults");
            menu.addSeparator();

            // Read afresh at every opening, so the tick shows the device's rate of the moment.
            currentSampleRate = hw_getSampleRate();

            juce::PopupMenu rates;

            for (int i = 0; i < numRateItems; ++i)
                rates.addItem (FirstRateId + i, rateItems[i].label, true, rateItems[i].rate == currentSampleRate);

            menu.addSubMenu ("Sample rate", rates, true);
            break;
        }

        case PatchweaveMenu:
        {
            const bool loopbackOn = loopbackDialog != nullptr && loopbackDialog->getLoopbackState() > 0;
            const bool enabled = isEnabled();
            menu.addItem (LoopbackId, "Loopback", enabled, loopbackOn);
            menu.addItem (ResetLoopbackId, "Reset", enabled, false);
            break;
        }

        case HelpMenu:
            menu.addItem (AboutId, "About");
            break;

        default:
            break;
    }

    if (popupLookAndFeel != nullptr)
    {
        popupLookAndFeel->setColour (juce::PopupMenu::textColourId, popupTextColour);
        popupLookAndFeel->setColour (juce::PopupMenu::backgroundColourId, popupBackgroundColour);
    }

    return menu;
}

void MainComponent::menuBarActivated (bool /*isActive*/) {}

void MainComponent::menuItemSelected (int menuItemID, int /*topLevelMenuIndex*/)
{
    switch (menuItemID)
    {
        case AlwaysOnTopId:
            if (auto* window = getParentComponent())
                desktop::setKeptOnTop (*window, ! desktop::isKeptOnTop (*window));
            break;

        case AudioSettingsId:
        {
            const bool started = desktop::launchAudioSettings();
            std::cerr << "Call Audio MIDI Setup: " << (started ? "OK" : "not OK") << "\n" << std::flush;
            break;
        }

        case CloseId:
            if (auto* application = juce::JUCEApplication::getInstance())
                application->systemRequestedQuit();
            break;

        case FactoryDefaultsId:
            setFactoryDefaults();
            break;

        case LoopbackId:
            if (loopbackDialog != nullptr)
            {
                // Re-selecting the stored state sends it once more whenever the dialog
                // did not show it yet, as at the first opening after start.
                if (loopbackMode == 1)
                    selectLoopbackButton (*loopbackDialog, loopbackDialog->loopbackOnButton);
                else if (loopbackMode == 0)
                    selectLoopbackButton (*loopbackDialog, loopbackDialog->loopbackOffButton);

                showPatchWEAVEDialog (loopbackDialogWindow.get(), 0);
            }
            break;

        case AboutId:
            if (aboutDialogWindow != nullptr)
            {
                const auto position = getScreenPosition();
                auto* about = aboutDialogWindow.get();
                about->placeThenShow ({ position.x, position.y + 50, about->getWidth(), about->getHeight() },
                                      [about] {
                                          about->setResizable (false, false);
                                          about->runModalLoop();
                                          about->setVisible (false);
                                      });
            }
            break;

        case ResetLoopbackId:
            if (loopbackDialog != nullptr)
                selectLoopbackButton (*loopbackDialog, loopbackDialog->loopbackOffButton);
            break;

        default:
            if (menuItemID >= FirstRateId && menuItemID < FirstRateId + numRateItems)
                hw_writeStreamFormatAtRate (rateItems[menuItemID - FirstRateId].rate);
            break;
    }

    menuItemsChanged();
}

//==============================================================================
void MainComponent::setFactoryDefaults()
{
    hw_writeChannelMute (kAudioDevicePropertyScopeOutput, 1, 0);
    hw_writeChannelMute (kAudioDevicePropertyScopeOutput, 2, 0);
    hw_writeChannelMute (kAudioDevicePropertyScopeInput, 1, 0);
    hw_writeChannelMute (kAudioDevicePropertyScopeInput, 2, 0);

    hw_writeStreamFormatAtRate (factorySampleRate);

    hw_writeChannelVolume (kAudioDevicePropertyScopeOutput, 1, 0.0f);
    hw_writeChannelVolume (kAudioDevicePropertyScopeOutput, 2, 0.0f);
    hw_writeChannelVolume (kAudioDevicePropertyScopeInput, 1, 0.0f);
    hw_writeChannelVolume (kAudioDevicePropertyScopeInput, 2, 0.0f);

    // The device's loopback follows when the dialog's message arrives.
    if (loopbackDialog != nullptr)
        selectLoopbackButton (*loopbackDialog, loopbackDialog->loopbackOffButton);

    readMuteStates (MuteReadOrder::outputFirst);

    for (auto* slider : { sliderIn1.get(), sliderIn2.get(), sliderOut1.get(), sliderOut2.get() })
        slider->setValue (0.0, juce::dontSendNotification);

    // With the device absent the groups are disabled and the readouts keep their text.
    if (sliderOutGroup->isEnabled() && sliderInGroup->isEnabled())
    {
        sliderValueChanged (sliderIn1.get());
        sliderValueChanged (sliderIn2.get());
        sliderValueChanged (sliderOut1.get());
        sliderValueChanged (sliderOut2.get());
    }

    auto* window = getParentComponent();

    if (window == nullptr)
        return;

    // The face below the menu strip keeps its aspect; an empty panel takes the art's.
    auto faceWidth = (double) getWidth();
    auto faceHeight = (double) (getHeight() - menuBarHeight);

    if (faceWidth <= 0.0 || faceHeight <= 0.0)
    {
        faceWidth = artWidth;
        faceHeight = artHeight;
    }

    if (faceWidth <= 0.0 || faceHeight <= 0.0)
        return;

    const auto height = (int) (factoryFaceWidth / (faceWidth / faceHeight));
    window->centreWithSize (factoryFaceWidth, height + menuBarHeight);
}
