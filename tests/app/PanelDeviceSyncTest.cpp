// The panel's controls against the simulated TARVIK: writes on user input, refreshes on
// the device's reports, arrival, removal and power events. Timers run by pumping the loop.
#include <functional>

#include "PanelTestSupport.h"
#include "device/DeviceProperties.h"
#include "device/RawUSBDevice.h"

using namespace tarvik::test;
using tarvik::sim::Side;

namespace
{
class PanelDeviceSync : public PanelTest
{
protected:
    /** Drags the fader vertically by dy pixels (negative: upwards) as the mouse would. */
    static void drag (juce::Slider& slider, float dy)
    {
        auto source = juce::Desktop::getInstance().getMainMouseSource();
        const auto start = slider.getLocalBounds().getCentre().toFloat();
        const auto downTime = juce::Time::getCurrentTime();

        auto event = [&] (juce::Point<float> at, juce::ModifierKeys mods) {
            return juce::MouseEvent (source, at, mods, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &slider, &slider,
                                     juce::Time::getCurrentTime(), start, downTime, 1, false);
        };

        const juce::ModifierKeys left (juce::ModifierKeys::leftButtonModifier);
        slider.mouseDown (event (start, left));

        for (int step = 1; step <= 5; ++step)
            slider.mouseDrag (event (start.translated (0.0f, dy * (float) step / 5.0f), left));

        slider.mouseUp (event (start.translated (0.0f, dy), juce::ModifierKeys()));
    }

    /** Waits for the refresh that a device report starts, and for it to run. On a loaded
        machine one slice of the loop can outlast the refresh's 50 ms, so a refresh may come
        and go unseen; where the test can tell that it ran, `shown` says so.
    */
    void waitForRefresh (const std::function<bool()>& shown = {})
    {
        const auto ranUnseen = [&] { return shown != nullptr && shown(); };
        ASSERT_TRUE (pumpUntil ([&] { return inspect().refreshPending() || ranUnseen(); }, 3000)) << "no refresh was started";

        if (inspect().refreshPending())
        {
            EXPECT_EQ (inspect().runningTimerPeriod (MainComponent::RefreshFromDeviceTimer), 50) << "a report's refresh is due 50 ms later";
        }

        ASSERT_TRUE (pumpUntil ([this] { return ! inspect().refreshPending(); }, 3000)) << "the refresh never ran";
    }

    /** Waits until the refresh that the interface's arrival starts has run. Until then a
        device report joins that refresh instead of starting its own. */
    void waitForArrivalRefresh()
    {
        ASSERT_TRUE (pumpUntil ([this] { return ! inspect().refreshPending(); }, 5000)) << "the arrival's refresh never ran";
    }
};
} // namespace

TEST_F (PanelDeviceSync, ReadoutsShowTheDeviceValueWhileFadersKeepToTheirGrid)
{
    sim().attachTarvik();
    sim().setVolumeDb (Side::input, 1, -12.3f);
    sim().setVolumeDb (Side::input, 2, 0.0f);
    sim().setVolumeDb (Side::output, 1, -60.0f);
    sim().setVolumeDb (Side::output, 2, -0.5f);
    makePanel();
    auto ui = inspect();

    // The readouts are filled by the first refresh, 200 ms after arrival.
    EXPECT_EQ (ui.labelIn1().getText(), "");
    EXPECT_EQ (ui.runningTimerPeriod (MainComponent::RefreshFromDeviceTimer), 200);
    ASSERT_TRUE (pumpUntil ([&] { return ui.labelIn1().getText().isNotEmpty(); }));

    EXPECT_EQ (ui.labelIn1().getText(), "-12.3 dB");
    EXPECT_EQ (ui.sliderIn1().getValue(), -12.5);
    EXPECT_EQ (ui.labelIn2().getText(), "0 dB");
    EXPECT_EQ (ui.labelOut1().getText(), "-60 dB");
    EXPECT_EQ (ui.labelOut2().getText(), "-0.5 dB");
    EXPECT_EQ (ui.sliderOut2().getValue(), -0.5);

    // Outside the fader's range: the readout tells the truth, the fader stops at its end.
    sim().setVolumeDb (Side::output, 1, -70.0f);
    waitForRefresh ([&] { return ui.labelOut1().getText() == "-70 dB"; });
    EXPECT_EQ (ui.labelOut1().getText(), "-70 dB");
    EXPECT_EQ (ui.sliderOut1().getValue(), -60.0);
}

TEST_F (PanelDeviceSync, DraggingAFaderWritesItsChannelAndUnmutesAMutedSide)
{
    sim().attachTarvik();
    sim().setVolumeDb (Side::output, 2, -30.0f);
    sim().setMute (Side::output, 1, true);
    makePanel();
    auto ui = inspect();
    ASSERT_TRUE (ui.muteOut().getToggleState());
    waitForArrivalRefresh();

    const auto writesBefore = ownWrites().size();
    drag (ui.sliderOut2(), -50.0f);
    const auto value = ui.sliderOut2().getValue();
    ASSERT_GT (value, -30.0) << "the drag did not move the fader";

    const auto allWrites = ownWrites();
    const std::vector<tarvik::sim::PropertyWrite> writes (allWrites.begin() + (long) writesBefore, allWrites.end());
    ASSERT_FALSE (writes.empty());

    // Every step of the drag writes the fader's value of that moment; the last one is final.
    auto volume = writes.front();
    for (auto& w : writes)
    {
        if (w.address.mSelector == TarvikFourCC ("vold"))
            volume = w;
    }
    EXPECT_TRUE (isWriteOf (volume, "vold", "outp", 2));
    EXPECT_EQ (volume.object, gOutAudioObjectID.load());
    EXPECT_EQ (writtenFloat (volume), (float) value);
    EXPECT_EQ (ui.labelOut2().getText(), juce::String (value) + " dB");

    bool unmuted1 = false, unmuted2 = false;
    for (auto& w : writes)
    {
        unmuted1 |= isWriteOf (w, "mute", "outp", 1) && writtenUInt (w) == 0;
        unmuted2 |= isWriteOf (w, "mute", "outp", 2) && writtenUInt (w) == 0;
        EXPECT_FALSE (isWriteOf (w, "vold", "inpt", 1) || isWriteOf (w, "vold", "inpt", 2)) << "the other side was written";
    }
    EXPECT_TRUE (unmuted1 && unmuted2);

    // The button turns off only with the refresh that the device's report brings.
    EXPECT_TRUE (ui.muteOut().getToggleState());
    waitForRefresh ([&] { return ! ui.muteOut().getToggleState(); });
    EXPECT_FALSE (ui.muteOut().getToggleState());
    EXPECT_FALSE (sim().state().out[0].muted);
}

TEST_F (PanelDeviceSync, MuteClicksWriteBothElementsAndHoldBackARefreshThatFallsDue)
{
    sim().attachTarvik();
    sim().setMute (Side::input, 1, true); // element 2 stays unmuted
    makePanel();
    auto ui = inspect();
    EXPECT_TRUE (ui.muteIn().getToggleState()) << "one muted element shows the side muted";
    waitForArrivalRefresh();

    // A click through the message loop, as the mouse gives it.
    auto before = ownWrites().size();
    ui.muteIn().triggerClick();
    ASSERT_TRUE (pumpUntil ([&] { return ownWrites().size() >= before + 2; }));
    auto writes = ownWrites();
    EXPECT_TRUE (isWriteOf (writes[before], "mute", "inpt", 1));
    EXPECT_TRUE (isWriteOf (writes[before + 1], "mute", "inpt", 2));
    EXPECT_EQ (writtenUInt (writes[before]), 0u);
    EXPECT_EQ (writtenUInt (writes[before + 1]), 0u);
    EXPECT_FALSE (ui.muteIn().getToggleState());
    ASSERT_TRUE (pumpUntil ([&] { return ! ui.writeInProgress(); }));
    pumpFor (200);

    // A report from another program starts a refresh; a click lands before it falls due.
    // Its writes fail here, so the click brings no report of its own that would refresh later.
    sim().failProperty ({ TarvikFourCC ("mute"), kAudioObjectPropertyScopeWildcard, kAudioObjectPropertyElementWildcard },
                        -1, tarvik::sim::Call::AudioObjectSetPropertyData);
    sim().setVolumeDb (Side::input, 2, -42.0f);
    ASSERT_TRUE (pumpUntil ([&] { return ui.refreshPending(); }));
    const auto faderBefore = ui.sliderIn2().getValue();

    ui.muteOut().setToggleState (true, juce::sendNotificationSync);
    EXPECT_TRUE (ui.writeInProgress());
    EXPECT_EQ (ui.runningTimerPeriod (MainComponent::WriteGuardTimer), 50) << "the guard lasts 50 ms";
    writes = ownWrites();
    EXPECT_TRUE (isWriteOf (writes[writes.size() - 2], "mute", "outp", 1));
    EXPECT_TRUE (isWriteOf (writes.back(), "mute", "outp", 2));
    EXPECT_EQ (writtenUInt (writes.back()), 1u);

    // The refresh falls due first and is dropped, and not run later either.
    ASSERT_TRUE (pumpUntil ([&] { return ! ui.refreshPending(); }));
    ASSERT_TRUE (pumpUntil ([&] { return ! ui.writeInProgress(); }));
    pumpFor (150);
    EXPECT_EQ (ui.sliderIn2().getValue(), faderBefore);
    EXPECT_NE (ui.sliderIn2().getValue(), -42.0);
}

TEST_F (PanelDeviceSync, ABurstOfReportsGivesOneRefreshThatWritesNothingBack)
{
    sim().attachTarvik();
    makePanel();
    auto ui = inspect();
    waitForArrivalRefresh();
    const auto writesBefore = ownWrites().size();

    // Only the first four volume reads succeed from here on: a second refresh would show 0 dB.
    tarvik::sim::Fault fault;
    fault.call = tarvik::sim::Call::AudioObjectGetPropertyData;
    fault.address = { TarvikFourCC ("vold"), kAudioObjectPropertyScopeWildcard, kAudioObjectPropertyElementWildcard };
    fault.skip = 4;
    sim().injectFault (fault);

    sim().setVolumeDb (Side::input, 1, -10.0f);
    sim().setVolumeDb (Side::input, 2, -11.0f);
    sim().setVolumeDb (Side::output, 1, -12.0f);
    sim().setVolumeDb (Side::output, 2, -13.0f);
    sim().setMute (Side::output, 2, true);

    waitForRefresh ([&] { return ui.labelOut2().getText() == "-13 dB"; });
    pumpFor (300);

    EXPECT_EQ (ui.labelIn1().getText(), "-10 dB");
    EXPECT_EQ (ui.labelIn2().getText(), "-11 dB");
    EXPECT_EQ (ui.labelOut1().getText(), "-12 dB");
    EXPECT_EQ (ui.labelOut2().getText(), "-13 dB");
    EXPECT_EQ (ui.sliderOut2().getValue(), -13.0);
    EXPECT_TRUE (ui.muteOut().getToggleState());
    EXPECT_FALSE (ui.muteIn().getToggleState());
    EXPECT_EQ (ownWrites().size(), writesBefore) << "a refresh wrote to the device";
}

TEST_F (PanelDeviceSync, ArrivalRemovalAndPowerEvents)
{
    makePanel();
    auto ui = inspect();
    EXPECT_FALSE (ui.inGroup().isVisible());

    // Arrival after start: controls shown with the device's values, readouts by the refresh.
    sim().attachTarvik();
    sim().setVolumeDb (Side::input, 1, -24.0f);
    sim().setMute (Side::input, 2, true);
    ASSERT_TRUE (pumpUntil ([&] { return ui.inGroup().isVisible(); }));
    for (auto* control : ui.deviceControls())
        EXPECT_TRUE (control->isVisible() && control->isEnabled());
    ASSERT_TRUE (pumpUntil ([&] { return ui.labelIn1().getText() == "-24 dB"; }));
    EXPECT_EQ (ui.sliderIn1().getValue(), -24.0);
    EXPECT_TRUE (ui.muteIn().getToggleState());

    bool formatWritten = false;
    for (auto& w : ownWrites())
        formatWritten |= w.address.mSelector == TarvikFourCC ("pft ");
    EXPECT_TRUE (formatWritten) << "no stream format at the device's rate";

    // A second arrival without a removal: the faders' values go back to the device.
    const auto before = ownWrites().size();
    const int other = sim().attachUsbDevice ({}); // a second service with the TARVIK's identity
    ASSERT_TRUE (pumpUntil ([&] { return ownWrites().size() > before + 4; }));
    pumpFor (300);
    bool in1Written = false, out2Written = false, in1Unmuted = false, in2Unmuted = false;
    const auto secondArrival = ownWrites();
    for (size_t i = before; i < secondArrival.size(); ++i)
    {
        const auto& w = secondArrival[i];
        in1Written |= isWriteOf (w, "vold", "inpt", 1) && writtenFloat (w) == -24.0f;
        out2Written |= isWriteOf (w, "vold", "outp", 2) && writtenFloat (w) == 0.0f;
        in1Unmuted |= isWriteOf (w, "mute", "inpt", 1) && writtenUInt (w) == 0;
        in2Unmuted |= isWriteOf (w, "mute", "inpt", 2) && writtenUInt (w) == 0;
    }
    EXPECT_TRUE (in1Written && out2Written);
    EXPECT_TRUE (in1Unmuted && in2Unmuted);
    sim().detachUsbDevice (other);
    pumpFor (100);

    // Power events change nothing.
    const auto writesBeforePower = ownWrites().size();
    const auto shownBeforePower = ui.inGroup().isVisible();
    for (natural_t message : { kIOMessageCanSystemSleep, kIOMessageSystemWillSleep,
                               kIOMessageSystemWillPowerOn, kIOMessageSystemHasPoweredOn })
        sim().sendPowerMessage (message);
    pumpFor (300);
    EXPECT_EQ (ownWrites().size(), writesBeforePower);
    EXPECT_EQ (ui.inGroup().isVisible(), shownBeforePower);

    // Removal hides the controls and forgets both sides.
    sim().detachTarvik();
    ASSERT_TRUE (pumpUntil ([&] { return ! ui.inGroup().isVisible(); }));
    for (auto* control : ui.deviceControls())
        EXPECT_FALSE (control->isVisible() || control->isEnabled());
    EXPECT_EQ (gInAudioObjectID.load(), 0u);
    EXPECT_EQ (gOutAudioObjectID.load(), 0u);
}

TEST_F (PanelDeviceSync, ArrivalWithNoCommonRateWritesNoStreamFormat)
{
    makePanel();

    // The output side cannot be read: hw_getSampleRate finds no rate.
    sim().failProperty ({ TarvikFourCC ("nsrt"), kAudioObjectPropertyScopeWildcard, kAudioObjectPropertyElementMain },
                        -1, tarvik::sim::Call::AnyPropertyAccess);
    sim().attachTarvik();
    ASSERT_TRUE (pumpUntil ([&] { return inspect().inGroup().isVisible(); }));

    for (auto& w : ownWrites())
        EXPECT_NE (w.address.mSelector, TarvikFourCC ("pft ")) << "a stream format was written with no rate";
}

TEST_F (PanelDeviceSync, OneRequestEndToEnd)
{
    sim().attachTarvik();
    makePanel();
    auto ui = inspect();
    waitForArrivalRefresh();

    drag (ui.sliderIn1(), 25.0f);
    const auto dragged = ui.sliderIn1().getValue();
    ASSERT_NE (dragged, 0.0);

    // The write reached the device ...
    ASSERT_TRUE (pumpUntil ([&] { return sim().state().in[0].volumeDb == (float) dragged; }));
    auto writes = ownWrites();
    EXPECT_TRUE (isWriteOf (writes.back(), "vold", "inpt", 1));

    // ... the device reported the change, the refresh read it back, and nothing more was written.
    waitForRefresh();
    EXPECT_EQ (ui.sliderIn1().getValue(), dragged);
    EXPECT_EQ (ui.labelIn1().getText(), juce::String (dragged) + " dB");
    EXPECT_EQ (ownWrites().size(), writes.size());
}

TEST_F (PanelDeviceSync, AnOlderRemovalHandledAfterANewerArrivalLeavesThePanelOnTheInterface)
{
    sim().attachTarvik();
    makePanel();
    auto ui = inspect();
    waitForArrivalRefresh();

    // The removal is handled alone; then, before the next notifications are, the cable
    // bounces once more and another program mutes the input. The arrivals are then drained
    // before the older removal: a stale arrival, the current one, then the stale removal.
    sim().detachTarvik();
    juce::MessageManager::callAsync ([] {
        sim().attachTarvik();
        sim().detachTarvik();
        sim().attachTarvik();
        sim().setMute (Side::input, 1, true);
    });

    ASSERT_TRUE (pumpUntil ([] { return sim().state().attached && sim().tarvikAudioObject (Side::input) != 0; }));
    pumpFor (400);

    for (auto* control : ui.deviceControls())
        EXPECT_TRUE (control->isVisible() && control->isEnabled()) << "the interface is attached";
    EXPECT_EQ (gInAudioObjectID.load(), sim().tarvikAudioObject (Side::input));
    EXPECT_EQ (gOutAudioObjectID.load(), sim().tarvikAudioObject (Side::output));

    // The stale arrival wrote nothing back, so the other program's mute stands.
    EXPECT_TRUE (sim().state().in[0].muted);
    EXPECT_TRUE (ui.muteIn().getToggleState());

    // The raw channel kept the device that is there.
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kIOReturnSuccess);
    EXPECT_EQ (sim().loopback(), 1);
}

TEST_F (PanelDeviceSync, AMuteClickStaysInEffectThroughABurstOfStaleArrivalsAndRemovals)
{
    sim().attachTarvik();
    sim().setVolumeDb (Side::output, 1, -6.0f);
    makePanel();
    auto ui = inspect();
    waitForArrivalRefresh();

    ui.muteIn().setToggleState (true, juce::sendNotificationSync);
    ASSERT_TRUE (pumpUntil ([&] { return ! ui.writeInProgress(); }));
    ASSERT_TRUE (sim().state().in[0].muted && sim().state().in[1].muted);
    const auto writesBefore = ownWrites().size();

    // A hub that resets enumerates the interface again and again, each gone before it is
    // handled: every arrival is out of date by the time it reaches the panel.
    for (int pair = 0; pair < 8; ++pair)
        sim().detachUsbDevice (sim().attachUsbDevice ({}));
    pumpFor (400);

    EXPECT_TRUE (sim().state().in[0].muted && sim().state().in[1].muted) << "a stale arrival un-muted the input";
    EXPECT_TRUE (ui.muteIn().getToggleState());
    EXPECT_EQ (ownWrites().size(), writesBefore) << "a stale arrival wrote the faders back";
    EXPECT_TRUE (ui.inGroup().isVisible() && ui.outGroup().isVisible());
    EXPECT_EQ (gInAudioObjectID.load(), sim().tarvikAudioObject (Side::input));
}
