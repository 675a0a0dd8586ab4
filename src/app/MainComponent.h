#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>
#include <limits>

#include "app/SettingsFile.h"
#include "controls/SliderLookAndFeel2.h"
#include "controls/VYRLabel.h"
#include "device/DeviceCallbacks.h"

class SliderStereoGroup2;
class LevelMeter2;
class PopupMenuLookandFeel;
class PatchweaveLoopbackDialog;
class AboutWindow;
class PanelDialogWindow;

/** The control panel: the face artwork with the TARVIK's faders, mute buttons and dB
    readouts on it, the menus, both dialogs and the settings file.

    One panel exists per process, as the main window's content. It registers itself
    with the device link while it is built and withdraws from it as it goes.
*/
class MainComponent final : public juce::Component,
                            public juce::Button::Listener,
                            public juce::MenuBarModel,
                            private juce::ActionListener,
                            public juce::MultiTimer,
                            public juce::Slider::Listener
{
public:
    /** Timer ids of the panel's one-shot timers. */
    enum TimerIds
    {
        WriteGuardTimer = 4096,       ///< clears deviceWriteInProgress 50 ms after a mute click
        RefreshFromDeviceTimer = 4100 ///< reads the device into the controls
    };

    /** The settings file's storage options at its real location: the folder "Tarvik Panel"
        in the user's application-data folder.
    */
    static juce::PropertiesFile::Options defaultSettingsOptions();

    /** Builds the whole panel. The options say where the settings file lives; the
        program uses defaultSettingsOptions(), tests point them at a folder of their own.
    */
    explicit MainComponent (const juce::PropertiesFile::Options& settingsOptions = defaultSettingsOptions());
    ~MainComponent() override;

    //==============================================================================
    void visibilityChanged() override;
    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;
    void timerCallback (int timerID) override;
    juce::StringArray getMenuBarNames() override;
    juce::PopupMenu getMenuForIndex (int topLevelMenuIndex, const juce::String& menuName) override;
    void menuBarActivated (bool isActive) override;
    void sliderValueChanged (juce::Slider*) override;
    void menuItemSelected (int menuItemID, int topLevelMenuIndex) override;

private:
    void actionListenerCallback (const juce::String& message) override;

public:
    //==============================================================================
    /** Unmutes the device, sets 48 kHz, 0 dB and loopback off, and re-centres the window. */
    void setFactoryDefaults();

    /** Shows the dialog window beside the panel, on the side of the monitor with more room. */
    void showPatchWEAVEDialog (juce::DialogWindow* dialogWindow, int unused);

    /** Enables and shows, or disables and hides, the device controls. */
    void enabledButtons (bool on);

    /** The device link's event sink; userData is the panel. */
    static void OnApiCallback (void* userData, void* reserved, VYR_CallbackEvent event);

    /** Stores the main window's state string under "WindowPosition". */
    void savedWindowPosition (juce::String windowState);

    /** The user settings (the one settings file). */
    SettingsFile* getUserSettings() { return settings.get(); }

    /** Height of the strip above the face that holds the menu bar (0 where the menus
        live in the system menu bar).
    */
    int getMenuBarHeight() const noexcept { return menuBarHeight; }

private:
    /** One row of the channel table: a fader, its readout, its side and element, and
        the mute button of its side.
    */
    struct Channel
    {
        juce::Slider* slider;
        juce::Label* label;
        std::uint32_t scope;
        std::uint32_t element;
        juce::ImageButton* muteButton;
    };

    /** Input 1, input 2, output 1, output 2. */
    std::array<Channel, 4> channelTable() const;

    //==============================================================================
    void buildControls();
    void registerWithDevice();
    void readLoopbackSetting();
    void refreshFromDevice();
    void handleDevicePlugged();
    enum class MuteReadOrder
    {
        inputFirst,
        outputFirst
    };
    void readMuteStates (MuteReadOrder order = MuteReadOrder::inputFirst);

    //==============================================================================
    VYRdBLabelLookAndFeel labelLookAndFeel;
    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<juce::ImageButton> muteInButton;
    std::unique_ptr<juce::ImageButton> muteOutButton;
    std::unique_ptr<juce::Label> labelIn1;
    std::unique_ptr<juce::Label> labelIn2;
    std::unique_ptr<juce::Label> labelOut1;
    std::unique_ptr<juce::Label> labelOut2;
    std::unique_ptr<SliderStereoGroup2> sliderInGroup;
    std::unique_ptr<SliderStereoGroup2> sliderOutGroup;
    std::unique_ptr<juce::Slider> sliderIn1;
    std::unique_ptr<juce::Slider> sliderIn2;
    std::unique_ptr<juce::Slider> sliderOut1;
    std::unique_ptr<juce::Slider> sliderOut2;
    std::unique_ptr<LevelMeter2> meterIn1;
    std::unique_ptr<LevelMeter2> meterIn2;
    std::unique_ptr<LevelMeter2> meterOut1;
    std::unique_ptr<LevelMeter2> meterOut2;
    std::unique_ptr<juce::MenuBarComponent> menuBar;
    std::unique_ptr<PopupMenuLookandFeel> popupLookAndFeel;
    std::unique_ptr<PanelDialogWindow> loopbackDialogWindow;
    std::unique_ptr<PatchweaveLoopbackDialog> loopbackDialog;
    std::unique_ptr<PanelDialogWindow> aboutDialogWindow;
    std::unique_ptr<AboutWindow> aboutContent;
    int loopbackMode;
    int menuBarHeight;
    VyrSliderLookAndFeel2 sliderLookAndFeel;
    juce::Image backgroundImage;
    juce::Image pressedImage;
    juce::Point<int> imageOrigin;
    bool deviceWriteInProgress;
    double artWidth;
    double artHeight;
    double currentSampleRate;
    juce::Colour popupBackgroundColour;
    juce::Colour popupTextColour;

    // Tests reach the panel's controls through this; the program never defines it.
    friend struct MainComponentInspector;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
