// The panel's menus and commands against the simulated TARVIK: ticks and enabled states
// at build time, the rate, loopback, window and About commands, and the factory defaults.
#include <cstdlib>
#include <cstring>

#include "DialogInput.h"
#include "MenuTestSupport.h"
#include "desktop/AudioSettings.h"
#include "desktop/DesktopWindows.h"

using namespace tarvik::test;
using tarvik::sim::Side;

namespace
{
constexpr int alwaysOnTopId = 8192, audioSettingsId = 8193, factoryDefaultsId = 8195,
              loopbackId = 8197, aboutId = 8198, resetId = 9218;
constexpr int rate48000Id = 8449, rate96000Id = 8451, rate192000Id = 8453;

/** The 40 bytes of the standard stream format at a rate, laid out field by field. */
std::vector<UInt8> standardFormatBytes (double rate)
{
    std::vector<UInt8> bytes (40, 0);
    const UInt32 words[] = { 0x6C70636D /* 'lpcm' */, 0x0C, 12, 1, 12, 4, 24, 0 };
    std::memcpy (bytes.data(), &rate, sizeof (rate));
    std::memcpy (bytes.data() + 8, words, sizeof (words));
    return bytes;
}

const juce::PopupMenu& rateMenuOf (const juce::PopupMenu& config)
{
    static const juce::PopupMenu none;

    for (const auto& entry : entriesOf (config))
        if (entry.subMenu != nullptr)
            return *entry.subMenu;

    ADD_FAILURE() << "the Config menu has no submenu";
    return none;
}

std::vector<int> tickedRates (MainComponent& panel)
{
    return tickedIds (rateMenuOf (panel.getMenuForIndex (1, "Config")));
}

juce::String stderrOf (const std::function<void()>& action)
{
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

bool isCentredOnMainDisplay (const juce::Component& window)
{
    const auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    const auto centre = window.getBounds().getCentre();
    return std::abs (centre.x - area.getCentreX()) <= 1 && std::abs (centre.y - area.getCentreY()) <= 1;
}

class MenuCommands : public MenuPanelTest
{
protected:
    void TearDown() override
    {
        desktop::setAudioSettingsLauncher ({});
        MenuPanelTest::TearDown();
    }

    void waitForReadouts()
    {
        ASSERT_TRUE (pumpUntil ([this] { return inspect().labelOut2().getText().isNotEmpty(); })) << "no refresh after arrival";
    }
};
} // namespace

TEST_F (MenuCommands, MenusHoldTheirItemsInOrderAndAnyOtherIndexIsEmpty)
{
    auto& mainPanel = makePanel();
    EXPECT_EQ (mainPanel.getMenuBarNames(), juce::StringArray ({ "File", "Config", "PatchWEAVE", "Help" }));

    // "-" is a separator, ">" a submenu.
    auto layoutOf = [] (const juce::PopupMenu& menu) {
        juce::StringArray layout;

        for (const auto& entry : entriesOf (menu))
            layout.add (entry.separator ? juce::String ("-")
                                        : (entry.subMenu != nullptr ? ">" : juce::String (entry.id) + " ") + entry.text);

        return layout;
    };

    EXPECT_EQ (layoutOf (mainPanel.getMenuForIndex (0, "File")),
               juce::StringArray ({ "8192 Always on top", "-", "8193 macOS Audio Settings", "-", "8194 Close" }));
    const auto config = mainPanel.getMenuForIndex (1, "Config");
    EXPECT_EQ (layoutOf (config), juce::StringArray ({ "8195 Factory Defaults", "-", ">Sample rate" }));
    EXPECT_EQ (layoutOf (rateMenuOf (config)),
               juce::StringArray ({ "8448 44100  Hz", "8449 48000  Hz", "8450 88200  Hz",
                                    "8451 96000  Hz", "8452 176400 Hz", "8453 192000 Hz" }));
    EXPECT_EQ (layoutOf (mainPanel.getMenuForIndex (2, "PatchWEAVE")), juce::StringArray ({ "8197 Loopback", "9218 Reset" }));
    EXPECT_EQ (layoutOf (mainPanel.getMenuForIndex (3, "Help")), juce::StringArray ({ "8198 About" }));

    for (const auto& entry : entriesOf (config))
        EXPECT_TRUE (entry.separator || entry.enabled) << entry.text;

    EXPECT_TRUE (entriesOf (mainPanel.getMenuForIndex (4, "")).empty());
    EXPECT_TRUE (entriesOf (mainPanel.getMenuForIndex (-1, "")).empty());

    // Every build writes the popup colours onto the menu look, also for an empty menu.
    auto* look = inspect().popupLookAndFeel();
    look->setColour (juce::PopupMenu::textColourId, juce::Colours::red);
    look->setColour (juce::PopupMenu::backgroundColourId, juce::Colours::blue);
    mainPanel.getMenuForIndex (7, "");
    EXPECT_EQ (look->findColour (juce::PopupMenu::textColourId), juce::Colours::black);
    EXPECT_EQ (look->findColour (juce::PopupMenu::backgroundColourId), juce::Colour (0xffd3d3d3));
}

TEST_F (MenuCommands, ConfigTicksTheDeviceRateReadAtEveryOpening)
{
    sim().attachTarvik ({ tarvik::sim::Arrangement::oneDevice, true, true, 0, 48000.0 });
    auto& mainPanel = makePanel();
    EXPECT_EQ (tickedRates (mainPanel), std::vector<int> { rate48000Id });

    // A rate outside the table ticks nothing.
    sim().setNominalRate (Side::input, 32000.0);
    sim().setNominalRate (Side::output, 32000.0);
    EXPECT_EQ (sim().state().outRate, 32000.0);
    EXPECT_TRUE (tickedRates (mainPanel).empty());

    sim().setNominalRate (Side::input, 192000.0);
    sim().setNominalRate (Side::output, 192000.0);
    EXPECT_EQ (tickedRates (mainPanel), std::vector<int> { rate192000Id });

    sim().detachTarvik();
    ASSERT_TRUE (pumpUntil ([this] { return ! inspect().inGroup().isVisible(); }));
    EXPECT_TRUE (tickedRates (mainPanel).empty());

    // Still all enabled without a device.
    for (const auto& entry : entriesOf (rateMenuOf (mainPanel.getMenuForIndex (1, "Config"))))
        EXPECT_TRUE (entry.enabled) << entry.text;
}

TEST_F (MenuCommands, ChoosingARateWritesTheStreamFormatToInputThenOutput)
{
    sim().attachTarvik();
    auto& mainPanel = makePanel();
    const auto first = sim().propertyWrites().size();

    mainPanel.menuItemSelected (rate96000Id, 1);

    const auto writes = sim().propertyWrites();
    ASSERT_EQ (writes.size() - first, 2u);

    const auto& input = writes[first];
    const auto& output = writes[first + 1];
    EXPECT_TRUE (isWriteOf (input, "pft ", "inpt", 0));
    EXPECT_EQ (input.object, sim().tarvikAudioObject (Side::input));
    EXPECT_EQ (input.data, standardFormatBytes (96000.0));
    EXPECT_TRUE (isWriteOf (output, "pft ", "outp", 0));
    EXPECT_EQ (output.object, sim().tarvikAudioObject (Side::output));
    EXPECT_EQ (output.data, standardFormatBytes (96000.0));

    EXPECT_TRUE (pumpUntil ([&] { return tickedRates (mainPanel) == std::vector<int> { rate96000Id }; }));
    EXPECT_EQ (sim().state().inRate, 96000.0);
    EXPECT_EQ (sim().state().outRate, 96000.0);
}

TEST_F (MenuCommands, AlwaysOnTopTogglesTheMainWindowAndTheTickFollows)
{
    auto& mainPanel = makePanel();

    // Without a window the command has nothing to change.
    mainPanel.menuItemSelected (alwaysOnTopId, 0);
    EXPECT_TRUE (tickedIds (mainPanel.getMenuForIndex (0, "File")).empty());

    PanelWindow main (mainPanel);
    EXPECT_FALSE (desktop::isKeptOnTop (main.window));
    const auto* peer = main.window.getPeer();

    // The switch keeps the native window: making it afresh would have it placed again.
    mainPanel.menuItemSelected (alwaysOnTopId, 0);
    EXPECT_TRUE (desktop::isKeptOnTop (main.window));
    EXPECT_EQ (tickedIds (mainPanel.getMenuForIndex (0, "File")), std::vector<int> { alwaysOnTopId });
    EXPECT_EQ (main.window.getPeer(), peer);

    mainPanel.menuItemSelected (alwaysOnTopId, 0);
    EXPECT_FALSE (desktop::isKeptOnTop (main.window));
    EXPECT_TRUE (tickedIds (mainPanel.getMenuForIndex (0, "File")).empty());
    EXPECT_TRUE (main.window.isOnDesktop());
    EXPECT_EQ (main.window.getPeer(), peer);
}

TEST_F (MenuCommands, LoopbackSendsTheStoredStateOnlyWhenTheDialogDoesNotShowItYet)
{
    storeLoopback ("1");
    sim().attachTarvik();
    auto& mainPanel = makePanel();
    auto* dialog = loopbackDialog();
    ASSERT_NE (dialog, nullptr);
    UpdateCounter updates (*dialog);

    // At start the dialog shows neither state and the device has not been told.
    EXPECT_EQ (dialog->getLoopbackState(), -1);
    EXPECT_EQ (sim().loopback(), -1);
    EXPECT_FALSE (loopbackWindow()->isVisible());

    auto sent = sim().usbTransfers().size();
    mainPanel.menuItemSelected (loopbackId, 2);
    EXPECT_TRUE (loopbackWindow()->isVisible());
    EXPECT_EQ (dialog->getLoopbackState(), 1);
    ASSERT_TRUE (pumpUntil ([&] { return updates.count == 1; }));
    EXPECT_EQ (transferDataFrom (sent), (std::vector<std::vector<UInt8>> { { 0x55 }, { 0xAA }, { 0x03 } }));
    EXPECT_EQ (sim().loopback(), 1);
    EXPECT_EQ (tickedIds (mainPanel.getMenuForIndex (2, "PatchWEAVE")), std::vector<int> { loopbackId });

    // Already showing on: nothing goes to the device, the dialog is only shown again.
    loopbackWindow()->setVisible (false);
    sent = sim().usbTransfers().size();
    mainPanel.menuItemSelected (loopbackId, 2);
    pumpFor (200);
    EXPECT_EQ (updates.count, 1);
    EXPECT_TRUE (transferDataFrom (sent).empty());
    EXPECT_TRUE (loopbackWindow()->isVisible());

    // Reset selects off without showing the dialog; a second Reset sends nothing.
    loopbackWindow()->setVisible (false);
    mainPanel.menuItemSelected (resetId, 2);
    ASSERT_TRUE (pumpUntil ([&] { return updates.count == 2; }));
    EXPECT_EQ (transferDataFrom (sent), (std::vector<std::vector<UInt8>> { { 0x55 }, { 0xAA }, { 0x02 } }));
    EXPECT_EQ (inspect().loopbackMode(), 0);
    EXPECT_FALSE (loopbackWindow()->isVisible());

    sent = sim().usbTransfers().size();
    mainPanel.menuItemSelected (resetId, 2);
    pumpFor (200);
    EXPECT_EQ (updates.count, 2);
    EXPECT_TRUE (transferDataFrom (sent).empty());
    EXPECT_TRUE (tickedIds (mainPanel.getMenuForIndex (2, "PatchWEAVE")).empty());
}

TEST_F (MenuCommands, LoopbackAndResetAreDisabledWhileThePanelIsDisabled)
{
    sim().attachTarvik();
    auto& mainPanel = makePanel();
    PanelWindow main (mainPanel);

    auto patchweaveEnabled = [&] {
        const auto entries = entriesOf (mainPanel.getMenuForIndex (2, "PatchWEAVE"));
        EXPECT_EQ (entries.size(), 2u);
        return std::make_pair (entries.at (0).enabled, entries.at (1).enabled);
    };

    EXPECT_EQ (patchweaveEnabled(), std::make_pair (true, true));

    mainPanel.setEnabled (false);
    EXPECT_EQ (patchweaveEnabled(), std::make_pair (false, false));

    // A disabled window disables the panel too.
    mainPanel.setEnabled (true);
    main.window.setEnabled (false);
    EXPECT_EQ (patchweaveEnabled(), std::make_pair (false, false));

    main.window.setEnabled (true);
    EXPECT_EQ (patchweaveEnabled(), std::make_pair (true, true));

    // The other menus stay enabled throughout.
    mainPanel.setEnabled (false);

    for (int index : { 0, 1, 3 })
    {
        for (const auto& entry : entriesOf (mainPanel.getMenuForIndex (index, "")))
        {
            EXPECT_TRUE (entry.separator || entry.enabled) << entry.text;
        }
    }
}

TEST_F (MenuCommands, FactoryDefaultsResetTheDeviceThePanelAndTheWindow)
{
    storeLoopback ("1");
    sim().attachTarvik ({ tarvik::sim::Arrangement::oneDevice, true, true, 0, 96000.0 });
    sim().setVolumeDb (Side::input, 1, -20.0f);
    sim().setVolumeDb (Side::input, 2, -21.0f);
    sim().setVolumeDb (Side::output, 1, -22.0f);
    sim().setVolumeDb (Side::output, 2, -23.5f);
    sim().setMute (Side::input, 2, true);
    sim().setMute (Side::output, 1, true);

    auto& mainPanel = makePanel();
    PanelWindow main (mainPanel);
    auto ui = inspect();
    auto* dialog = loopbackDialog();
    ASSERT_NE (dialog, nullptr);
    UpdateCounter updates (*dialog);

    mainPanel.menuItemSelected (loopbackId, 2);
    ASSERT_TRUE (pumpUntil ([&] { return updates.count == 1 && sim().loopback() == 1; }));
    waitForReadouts();
    ASSERT_EQ (ui.labelOut2().getText(), "-23.5 dB");
    ASSERT_TRUE (ui.muteIn().getToggleState());
    ASSERT_EQ (main.window.getWidth(), 452);

    const auto first = sim().propertyWrites().size();
    mainPanel.menuItemSelected (factoryDefaultsId, 1);
    const auto writes = sim().propertyWrites();

    // Unmute output then input, 48 kHz to input then output, 0 dB output then input,
    // then each fader's 0 dB once more in channel order.
    struct Expected
    {
        const char selector[5];
        const char scope[5];
        UInt32 element;
    };

    const Expected order[] = { { "mute", "outp", 1 }, { "mute", "outp", 2 }, { "mute", "inpt", 1 }, { "mute", "inpt", 2 },
                               { "pft ", "inpt", 0 }, { "pft ", "outp", 0 },
                               { "vold", "outp", 1 }, { "vold", "outp", 2 }, { "vold", "inpt", 1 }, { "vold", "inpt", 2 },
                               { "vold", "inpt", 1 }, { "vold", "inpt", 2 }, { "vold", "outp", 1 }, { "vold", "outp", 2 } };

    ASSERT_EQ (writes.size() - first, std::size (order));

    for (size_t i = 0; i < std::size (order); ++i)
    {
        const auto& w = writes[first + i];
        SCOPED_TRACE (i);
        EXPECT_TRUE (isWriteOf (w, order[i].selector, order[i].scope, order[i].element));
        EXPECT_EQ (w.status, 0);

        if (order[i].selector[0] == 'm')
        {
            EXPECT_EQ (writtenUInt (w), 0u);
        }
        else if (order[i].selector[0] == 'v')
        {
            EXPECT_EQ (writtenFloat (w), 0.0f);
        }
        else
        {
            EXPECT_EQ (w.data, standardFormatBytes (48000.0));
        }
    }

    // Loopback off follows through the dialog's message.
    ASSERT_TRUE (pumpUntil ([&] { return updates.count == 2; }));

    const auto device = sim().state();
    EXPECT_EQ (device.loopback, 0);
    EXPECT_EQ (inspect().loopbackMode(), 0);
    EXPECT_EQ (device.inRate, 48000.0);
    EXPECT_EQ (device.outRate, 48000.0);

    for (const auto& channel : { device.in[0], device.in[1], device.out[0], device.out[1] })
    {
        EXPECT_EQ (channel.volumeDb, 0.0f);
        EXPECT_FALSE (channel.muted);
    }

    for (auto* label : { &ui.labelIn1(), &ui.labelIn2(), &ui.labelOut1(), &ui.labelOut2() })
        EXPECT_EQ (label->getText(), "0 dB");

    for (auto* slider : { &ui.sliderIn1(), &ui.sliderIn2(), &ui.sliderOut1(), &ui.sliderOut2() })
        EXPECT_EQ (slider->getValue(), 0.0);

    EXPECT_FALSE (ui.muteIn().getToggleState());
    EXPECT_FALSE (ui.muteOut().getToggleState());

    // The face is 316 wide at its own aspect (580 / 452 of it), below the menu strip.
    EXPECT_EQ (mainPanel.getWidth(), 316);
    EXPECT_EQ (mainPanel.getHeight(), 405 + ui.menuBarHeight());
    EXPECT_EQ (main.window.getWidth(), 316);
    EXPECT_TRUE (isCentredOnMainDisplay (main.window)) << main.window.getBounds().toString();
}

TEST_F (MenuCommands, FactoryDefaultsReadTheOutputMutesBeforeTheInputMutes)
{
    sim().attachTarvik();
    sim().setMute (Side::input, 1, true);
    sim().setMute (Side::output, 1, true);
    auto& mainPanel = makePanel();
    auto ui = inspect();
    waitForReadouts();

    // The device keeps its mutes, and only the first mute read fails, reading as not muted:
    // whichever side is read first shows off.
    sim().failProperty ({ TarvikFourCC ("mute"), kAudioObjectPropertyScopeWildcard, kAudioObjectPropertyElementWildcard },
                        -1, tarvik::sim::Call::AudioObjectSetPropertyData);
    tarvik::sim::Fault firstRead;
    firstRead.call = tarvik::sim::Call::AudioObjectGetPropertyData;
    firstRead.address = { TarvikFourCC ("mute"), kAudioObjectPropertyScopeWildcard, kAudioObjectPropertyElementWildcard };
    firstRead.times = 1;
    sim().injectFault (firstRead);

    mainPanel.menuItemSelected (factoryDefaultsId, 1);

    EXPECT_FALSE (ui.muteOut().getToggleState()) << "output element 1 is read first";
    EXPECT_TRUE (ui.muteIn().getToggleState());
}

TEST_F (MenuCommands, FactoryDefaultsWithoutDeviceResetTheFadersAndRecentreTheWindow)
{
    auto& mainPanel = makePanel();
    PanelWindow main (mainPanel);
    main.window.setTopLeftPosition (10, 10);
    auto ui = inspect();

    for (auto* slider : { &ui.sliderIn1(), &ui.sliderIn2(), &ui.sliderOut1(), &ui.sliderOut2() })
        slider->setValue (-10.0, juce::dontSendNotification);

    ui.labelIn1().setText ("-10 dB", juce::dontSendNotification);

    const auto first = sim().propertyWrites().size();
    mainPanel.menuItemSelected (factoryDefaultsId, 1);
    pumpFor (100);

    const auto writes = sim().propertyWrites();

    for (size_t i = first; i < writes.size(); ++i)
        EXPECT_NE (writes[i].status, 0) << "a write reached a device that is not there";

    for (auto* slider : { &ui.sliderIn1(), &ui.sliderIn2(), &ui.sliderOut1(), &ui.sliderOut2() })
        EXPECT_EQ (slider->getValue(), 0.0);

    EXPECT_EQ (ui.labelIn1().getText(), "-10 dB");

    for (auto* control : ui.deviceControls())
    {
        EXPECT_FALSE (control->isVisible());
        EXPECT_FALSE (control->isEnabled());
    }

    EXPECT_EQ (main.window.getWidth(), 316);
    EXPECT_EQ (mainPanel.getHeight(), 405 + ui.menuBarHeight());
    EXPECT_TRUE (isCentredOnMainDisplay (main.window)) << main.window.getBounds().toString();
}

TEST_F (MenuCommands, AboutShowsModallyBelowThePanelAndHidesAfterwards)
{
    auto& mainPanel = makePanel();
    PanelWindow main (mainPanel);
    main.window.setTopLeftPosition (120, 70);
    const auto panelTopLeft = mainPanel.getScreenPosition();

    auto* about = findDialogWindow ("About Tarvik");
    ASSERT_NE (about, nullptr);
    const auto aboutSize = std::make_pair (about->getWidth(), about->getHeight());

    struct Seen
    {
        bool modal = false, visible = false, resizable = true;
        juce::Rectangle<int> bounds;
    } seen;

    // Runs inside the About command's modal loop, then ends it.
    std::function<void()> watch = [&] {
        if (! about->isCurrentlyModal())
        {
            juce::MessageManager::callAsync (watch);
            return;
        }

        seen = { true, about->isVisible(), about->isResizable(), about->getBounds() };
        about->exitModalState (0);
    };

    juce::MessageManager::callAsync (watch);
    mainPanel.menuItemSelected (aboutId, 3);

    EXPECT_TRUE (seen.modal);
    EXPECT_TRUE (seen.visible);
    EXPECT_FALSE (seen.resizable);
    EXPECT_EQ (seen.bounds.getPosition(), panelTopLeft.translated (0, 50));
    EXPECT_EQ (std::make_pair (seen.bounds.getWidth(), seen.bounds.getHeight()), aboutSize);
    EXPECT_FALSE (about->isVisible());
    EXPECT_FALSE (about->isCurrentlyModal());
}

TEST_F (MenuCommands, AudioSettingsCommandReportsTheLaunchOnStderr)
{
    auto& mainPanel = makePanel();
    int launches = 0;
    bool result = false;
    desktop::setAudioSettingsLauncher ([&] { ++launches; return result; });

    EXPECT_EQ (stderrOf ([&] { mainPanel.menuItemSelected (audioSettingsId, 0); }), "Call Audio MIDI Setup: not OK\n");
    result = true;
    EXPECT_EQ (stderrOf ([&] { mainPanel.menuItemSelected (audioSettingsId, 0); }), "Call Audio MIDI Setup: OK\n");
    EXPECT_EQ (launches, 2);

    // The real launcher with no tool anywhere on the path: "not OK", and the panel goes on.
    desktop::setAudioSettingsLauncher ({});
    const auto previousPath = juce::SystemStats::getEnvironmentVariable ("PATH", {});
    ::setenv ("PATH", folder.getFullPathName().toRawUTF8(), 1);
    const auto line = stderrOf ([&] { mainPanel.menuItemSelected (audioSettingsId, 0); });
    ::setenv ("PATH", previousPath.toRawUTF8(), 1);
    EXPECT_EQ (line, "Call Audio MIDI Setup: not OK\n");

    bool delivered = false;
    juce::MessageManager::callAsync ([&] { delivered = true; });
    EXPECT_TRUE (pumpUntil ([&] { return delivered; }));
}

TEST_F (MenuCommands, TheBarInTheWindowOpensThePanelsMenus)
{
    sim().attachTarvik();
    auto& mainPanel = makePanel();
    PanelWindow main (mainPanel);
    auto ui = inspect();
    auto& bar = ui.menuBar();
    ASSERT_GT (bar.getHeight(), 0);

    // Marks the menu look, which every build of a menu paints over with the popup colours.
    auto* look = ui.popupLookAndFeel();
    look->setColour (juce::PopupMenu::textColourId, juce::Colours::red);

    const auto fileWidth = bar.getLookAndFeel().getMenuBarItemWidth (bar, 0, "File");
    clickInWindow (main.window, main.window.getLocalPoint (&bar, juce::Point<int> (fileWidth + 5, bar.getHeight() / 2)));

    EXPECT_TRUE (pumpUntil ([&] { return look->findColour (juce::PopupMenu::textColourId) == juce::Colours::black; }))
        << "opening a menu from the bar built none";
    EXPECT_TRUE (juce::PopupMenu::dismissAllActiveMenus());
}
