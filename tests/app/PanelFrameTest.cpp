// The panel as a whole: settings file, construction with and without the interface,
// the Linux menu bar, and a teardown that no device event can outrun.
#include <atomic>
#include <thread>

#include "PanelTestSupport.h"
#include "device/DeviceCallbacks.h"
#include "device/DeviceProperties.h"

using namespace tarvik::test;
using tarvik::sim::Side;

namespace
{
class PanelFrame : public PanelTest
{
};

juce::String fileText (const juce::File& f) { return f.loadFileAsString(); }
} // namespace

TEST_F (PanelFrame, LoopbackSettingIsReadRepairedOrLeftAlone)
{
    struct Case
    {
        const char* key;
        const char* stored;
        int expectedMode;
        const char* expectedOnDisk; // nullptr: the file must not change
    };

    const Case cases[] = {
        { "loopback", "1", 1, nullptr },
        { "loopback", "0", 0, nullptr },
        { "loopback", "2", 0, "0" },
        { "loopback", "-1", 0, "0" },
        { "loopback", "4294967297", 0, "0" }, // must not wrap round to 1
        { "loopback", "abc", 0, nullptr },
        { "Loopback", "1", 0, nullptr },      // another key: ignored
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.key) + " = " + c.stored);
        settingsFile().deleteFile();
        juce::StringPairArray values;
        values.set (c.key, c.stored);
        storeSettings (values);
        const auto before = fileText (settingsFile());

        makePanel();
        EXPECT_EQ (inspect().loopbackMode(), c.expectedMode);
        panel.reset();

        if (c.expectedOnDisk == nullptr)
            EXPECT_EQ (fileText (settingsFile()), before) << "the settings file was rewritten";
        else
            EXPECT_EQ (storedValue ("loopback").value_or ("<missing>"), juce::String (c.expectedOnDisk));
    }

    EXPECT_TRUE (sim().usbTransfers().empty()) << "the stored loopback state reached the device at start";
}

TEST_F (PanelFrame, FirstRunWritesNothingAChangeIsSavedAfterTheDelayAndQuittingSoonAfterOneKeepsIt)
{
    makePanel();
    EXPECT_EQ (inspect().loopbackMode(), 0);
    EXPECT_FALSE (settingsFile().exists()) << "a first run wrote the settings file at start";

    // Written 3000 ms after the change. The framework's timer thread may count up to a few
    // hundred milliseconds from before a timer was started, hence the margin below.
    const auto changedAt = juce::Time::getMillisecondCounter();
    panel->savedWindowPosition ("100 70 316 429");
    ASSERT_TRUE (pumpUntil ([this] { return settingsFile().existsAsFile(); }, 10000)) << "the change was never saved";
    EXPECT_GE (juce::Time::getMillisecondCounter() - changedAt, 2500u) << "saved before the 3000 ms delay";
    EXPECT_EQ (storedValue ("WindowPosition").value_or ("<missing>"), "100 70 316 429");

    panel->savedWindowPosition ("120 80 316 429");
    panel.reset(); // well within the 3000 ms save delay

    ASSERT_TRUE (settingsFile().existsAsFile());
    EXPECT_EQ (storedValue ("WindowPosition").value_or ("<missing>"), "120 80 316 429");
}

TEST_F (PanelFrame, BrokenSettingsFilesGiveDefaultsAndTheNextSaveIsValid)
{
    const char* broken[] = { "", "<PROPERTIES><VALUE name=\"loopback\" val=", "\x01\x02 not xml at all",
                             "<PROPERTIES><VALUE name=\"loopback\" val=\"yes\"/><VALUE name=\"WindowPosition\" val=\"-- --\"/></PROPERTIES>" };

    for (auto* content : broken)
    {
        SCOPED_TRACE (juce::String ("content: ") + content);
        ASSERT_TRUE (settingsFile().replaceWithText (content));

        makePanel();
        EXPECT_EQ (inspect().loopbackMode(), 0);
        panel->savedWindowPosition ("10 20 316 429");
        panel.reset();

        auto xml = juce::parseXML (settingsFile());
        ASSERT_NE (xml, nullptr) << "the next save did not write valid XML";
        EXPECT_TRUE (xml->hasTagName ("PROPERTIES"));
        EXPECT_EQ (storedValue ("WindowPosition").value_or ("<missing>"), "10 20 316 429");
    }

    // A folder where the file should be: defaults, and nothing is destroyed.
    settingsFile().deleteFile();
    ASSERT_TRUE (settingsFile().createDirectory().wasOk());
    makePanel();
    EXPECT_EQ (inspect().loopbackMode(), 0);
    panel->savedWindowPosition ("10 20 316 429");
    panel.reset();
    EXPECT_TRUE (settingsFile().isDirectory());
}

TEST_F (PanelFrame, WithoutTheInterfaceOnlyTheArtworkShowsAndTheMenuBarSitsAboveIt)
{
    makePanel();
    auto ui = inspect();

    for (auto* control : ui.deviceControls())
    {
        EXPECT_FALSE (control->isVisible()) << control->getName();
        EXPECT_FALSE (control->isEnabled()) << control->getName();
    }

    for (auto* meter : { &ui.meterIn1(), &ui.meterIn2(), &ui.meterOut1(), &ui.meterOut2() })
        EXPECT_EQ (meter->getParentComponent(), nullptr);

    EXPECT_EQ (gInAudioObjectID.load(), 0u);

    // Linux: the menus live in the window, in a bar above the face.
    EXPECT_EQ (ui.menuBar().getModel(), panel.get());
    EXPECT_EQ (&ui.menuBar().getLookAndFeel(), ui.popupLookAndFeel());
    EXPECT_GT (ui.menuBarHeight(), 0);
    EXPECT_EQ (ui.menuBar().getBounds(), juce::Rectangle<int> (0, 0, 452, ui.menuBarHeight()));
    EXPECT_EQ (panel->getWidth(), 452);
    EXPECT_EQ (panel->getHeight(), 580 + ui.menuBarHeight());
    EXPECT_EQ (ui.backgroundImage().getBounds(), juce::Rectangle<int> (452, 580));

    // The face is drawn below the bar.
    const auto snapshot = panel->createComponentSnapshot (panel->getLocalBounds(), true, 1.0f);
    const auto artPixel = ui.backgroundImage().getPixelAt (200, 10);
    EXPECT_EQ (snapshot.getPixelAt (200, 10 + ui.menuBarHeight()), artPixel);
}

TEST_F (PanelFrame, WithTheInterfacePresentTheControlsAreFilledWhenTheConstructorReturns)
{
    sim().attachTarvik();
    sim().setVolumeDb (Side::input, 1, -20.0f);
    sim().setVolumeDb (Side::output, 2, -6.5f);
    sim().setMute (Side::output, 1, true);

    makePanel();
    auto ui = inspect();

    for (auto* control : ui.deviceControls())
    {
        EXPECT_TRUE (control->isVisible());
        EXPECT_TRUE (control->isEnabled());
    }

    EXPECT_EQ (ui.sliderIn1().getValue(), -20.0);
    EXPECT_EQ (ui.sliderOut2().getValue(), -6.5);
    EXPECT_TRUE (ui.muteOut().getToggleState());
    EXPECT_FALSE (ui.muteIn().getToggleState());
    EXPECT_NE (gInAudioObjectID.load(), 0u);
    EXPECT_NE (gOutAudioObjectID.load(), 0u);
}

TEST_F (PanelFrame, TeardownWithdrawsThePanelFromTheDeviceLink)
{
    sim().attachTarvik();
    makePanel();
    EXPECT_EQ (mydeviceStruct.userData, panel.get());

    panel.reset();
    EXPECT_EQ (mydeviceStruct.userData, nullptr);

    // Events after the panel has gone reach nobody: a probe in the sink's place counts any that would.
    static std::atomic<int> reached { 0 };
    reached = 0;
    ASSERT_EQ (mydeviceStruct.eventCallback, &MainComponent::OnApiCallback);
    mydeviceStruct.eventCallback = [] (void*, void*, VYR_CallbackEvent) { ++reached; };

    sim().setVolumeDb (Side::input, 1, -3.0f);
    sim().setMute (Side::output, 2, true);
    sim().sendPowerMessage (kIOMessageSystemWillSleep);
    sim().detachTarvik();
    sim().attachTarvik();
    EXPECT_TRUE (settleNotificationThread());
    pumpFor (100);

    mydeviceStruct.eventCallback = &MainComponent::OnApiCallback;
    EXPECT_EQ (reached.load(), 0) << "the sink was reached after the panel withdrew";
}

TEST_F (PanelFrame, DeviceNotificationsDuringTeardownNeverReachADestroyedPanel)
{
    for (int round = 0; round < 25; ++round)
    {
        sim().reset();
        sim().attachTarvik();
        makePanel();

        std::atomic<bool> stop { false };
        std::thread otherProgram ([&stop] {
            for (int i = 0; ! stop; ++i)
                sim().setVolumeDb (Side::output, 1 + (i % 2), (float) -(i % 60));
        });

        pumpFor (5 + round % 7);
        panel.reset(); // while the notifications keep coming
        pumpFor (5);

        stop = true;
        otherProgram.join();
        pumpFor (5);
    }

    EXPECT_EQ (mydeviceStruct.userData, nullptr);
}
