#pragma once

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/MainComponent.h"
#include "controls/LevelMeter2.h"
#include "controls/PopupMenuLookAndFeel.h"
#include "controls/SliderStereoGroup2.h"
#include "device/DeviceProperties.h"
#include "simulation/TarvikSimulation.h"
#include "support/MessageLoop.h"
#include "support/Simulation.h"
#include "support/SimulationSettle.h"

/** The panel's private controls, for tests only. */
struct MainComponentInspector
{
    explicit MainComponentInspector (MainComponent& p) : panel (p) {}

    juce::ImageButton& muteIn() const { return *panel.muteInButton; }
    juce::ImageButton& muteOut() const { return *panel.muteOutButton; }
    juce::Slider& sliderIn1() const { return *panel.sliderIn1; }
    juce::Slider& sliderIn2() const { return *panel.sliderIn2; }
    juce::Slider& sliderOut1() const { return *panel.sliderOut1; }
    juce::Slider& sliderOut2() const { return *panel.sliderOut2; }
    juce::Label& labelIn1() const { return *panel.labelIn1; }
    juce::Label& labelIn2() const { return *panel.labelIn2; }
    juce::Label& labelOut1() const { return *panel.labelOut1; }
    juce::Label& labelOut2() const { return *panel.labelOut2; }
    SliderStereoGroup2& inGroup() const { return *panel.sliderInGroup; }
    SliderStereoGroup2& outGroup() const { return *panel.sliderOutGroup; }
    LevelMeter2& meterIn1() const { return *panel.meterIn1; }
    LevelMeter2& meterIn2() const { return *panel.meterIn2; }
    LevelMeter2& meterOut1() const { return *panel.meterOut1; }
    LevelMeter2& meterOut2() const { return *panel.meterOut2; }
    juce::MenuBarComponent& menuBar() const { return *panel.menuBar; }
    juce::LookAndFeel* popupLookAndFeel() const { return panel.popupLookAndFeel.get(); }
    int loopbackMode() const { return panel.loopbackMode; }
    int menuBarHeight() const { return panel.menuBarHeight; }
    bool writeInProgress() const { return panel.deviceWriteInProgress; }
    bool refreshPending() const { return panel.isTimerRunning (MainComponent::RefreshFromDeviceTimer); }
    /** The period the one-shot timer was last started with; 0 while it is not running. */
    int runningTimerPeriod (int timerId) const { return panel.isTimerRunning (timerId) ? panel.getTimerInterval (timerId) : 0; }
    juce::Image& backgroundImage() const { return panel.backgroundImage; }
    juce::Image& pressedImage() const { return panel.pressedImage; }

    /** The four device controls that enabledButtons shows and hides, and the two pairs. */
    std::vector<juce::Component*> deviceControls() const
    {
        return { panel.muteOutButton.get(), panel.muteInButton.get(),
                 panel.labelIn1.get(), panel.labelIn2.get(), panel.labelOut1.get(), panel.labelOut2.get(),
                 panel.sliderInGroup.get(), panel.sliderOutGroup.get() };
    }

    MainComponent& panel;
};

namespace tarvik::test
{
/** A fresh simulation and a settings folder of the test's own. */
class PanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim().reset();
        forgetTheDevice();
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                     .getChildFile ("tarvik-panel-test-" + juce::Uuid().toString());
        ASSERT_TRUE (folder.createDirectory().wasOk());
    }

    void TearDown() override
    {
        panel.reset();
        closeLeftoverWindows();
        sim().reset();
        EXPECT_TRUE (settleNotificationThread());
        forgetTheDevice();
        folder.deleteRecursively();
    }

    /** The device link's process-wide state as a fresh start has it: a test that withdrew
        its panel before detaching leaves the bound sides behind. */
    static void forgetTheDevice()
    {
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
    }

    /** A popup menu left open goes, and with it its always-on-top window: while any such
        window exists, the framework makes every new dialog window always-on-top as well. */
    static void closeLeftoverWindows()
    {
        juce::PopupMenu::dismissAllActiveMenus();
        EXPECT_TRUE (pumpUntil ([] {
            auto& desktop = juce::Desktop::getInstance();

            for (int i = 0; i < desktop.getNumComponents(); ++i)
                if (desktop.getComponent (i)->isAlwaysOnTop())
                    return false;

            return true;
        }, 2000)) << "an always-on-top window outlived its test";
    }

    juce::PropertiesFile::Options settingsOptions() const
    {
        auto options = MainComponent::defaultSettingsOptions();
        options.folderName = folder.getFullPathName();
        return options;
    }

    juce::File settingsFile() const { return folder.getChildFile ("Tarvik Panel.settings"); }

    /** Writes the settings file as another run of the program would have left it. */
    void storeSettings (const juce::StringPairArray& values) const
    {
        juce::PropertiesFile file (settingsOptions());

        for (auto& key : values.getAllKeys())
            file.setValue (key, values[key]);

        ASSERT_TRUE (file.save());
    }

    /** The value under the key in the settings file on disk, or nullopt when it is missing. */
    std::optional<juce::String> storedValue (const juce::String& key) const
    {
        juce::PropertiesFile file (settingsOptions());

        if (! file.containsKey (key))
            return std::nullopt;

        return file.getValue (key);
    }

    MainComponent& makePanel()
    {
        panel = std::make_unique<MainComponent> (settingsOptions());
        return *panel;
    }

    MainComponentInspector inspect() const { return MainComponentInspector (*panel); }

    juce::File folder;
    std::unique_ptr<MainComponent> panel;
};

/** The 32-bit float a property write carried. */
inline float writtenFloat (const tarvik::sim::PropertyWrite& w)
{
    float value = 0.0f;
    EXPECT_EQ (w.data.size(), sizeof (value));
    std::memcpy (&value, w.data.data(), std::min (w.data.size(), sizeof (value)));
    return value;
}

/** The 32-bit unsigned value a property write carried. */
inline UInt32 writtenUInt (const tarvik::sim::PropertyWrite& w)
{
    UInt32 value = 0;
    EXPECT_EQ (w.data.size(), sizeof (value));
    std::memcpy (&value, w.data.data(), std::min (w.data.size(), sizeof (value)));
    return value;
}

inline bool isWriteOf (const tarvik::sim::PropertyWrite& w, const char (&selector)[5], const char (&scope)[5], UInt32 element)
{
    return w.address.mSelector == TarvikFourCC (selector) && w.address.mScope == TarvikFourCC (scope)
        && w.address.mElement == element;
}
} // namespace tarvik::test
