// Another program storms the interface's properties from its own thread while the user moves
// the faders and the interface is unplugged and plugged again, over and over; a flaky cable
// sends bursts of detach and attach. Afterwards the panel must show exactly what the device
// holds, and nothing may have deadlocked.
#include <atomic>
#include <iostream>
#include <random>

#include "StressSupport.h"
#include "device/DeviceProperties.h"
#include "device/RawUSBDevice.h"
#include "platform/Sleep.h"

using namespace tarvik::test;
using tarvik::sim::Side;

namespace
{
/** A volume on the faders' 0.5 dB grid, -60 to 0. */
float gridVolume (std::mt19937& random)
{
    return -0.5f * (float) std::uniform_int_distribution<int> (0, 120) (random);
}

class NotificationStorm : public PanelTest
{
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        // A bind that misses the audio sides must not stall the loop for seconds.
        tarvik::platform::setSleepFunction ([] (unsigned int) {});
    }

    bool controlsShown() const
    {
        for (auto* control : inspect().deviceControls())
            if (! control->isVisible())
                return false;
        return true;
    }

    bool controlsHidden() const
    {
        for (auto* control : inspect().deviceControls())
            if (control->isVisible())
                return false;
        return true;
    }

    /** Controls shown and both sides bound to the interface attached now. */
    bool showsTheAttachedDevice() const
    {
        return controlsShown() && gInAudioObjectID.load() != 0
            && gInAudioObjectID.load() == sim().tarvikAudioObject (Side::input)
            && gOutAudioObjectID.load() == sim().tarvikAudioObject (Side::output);
    }

    /** What the user does between bursts: fader moves, a rate from the Config menu, then a mute
        click, last, since a later fader move on that side would un-mute it again. Returns the
        input side's mute state the click asked for.
    */
    bool actAsTheUser (std::mt19937& random)
    {
        auto ui = inspect();
        juce::Slider* sliders[] { &ui.sliderIn1(), &ui.sliderIn2(), &ui.sliderOut1(), &ui.sliderOut2() };

        for (int move = 0; move < 4; ++move)
        {
            sliders[random() % 4]->setValue (gridVolume (random), juce::sendNotificationSync);
            pumpFor (1);
        }

        constexpr int firstRateItem = 0x2100, rateItems = 6;
        panel->menuItemSelected (firstRateItem + (int) (random() % rateItems), 1);

        // At a person's pace, each step once the panel has caught up with the one before: a
        // fader move un-mutes its side with the button following at the next refresh, a
        // refresh that falls due while a mute write is under way is dropped on purpose, and
        // an arrival meanwhile leaves the faders alone.
        pumpFor (100);
        pumpUntil ([&] { return ! ui.refreshPending(); });
        const bool muted = ! ui.muteIn().getToggleState();
        ui.muteIn().setToggleState (muted, juce::sendNotificationSync);
        pumpUntil ([&] { return ! ui.writeInProgress(); });
        return muted;
    }

    /** Every way in which the panel is out of step with the interface, attached or not. */
    juce::StringArray outOfStep (bool expectedInputMute)
    {
        const auto device = sim().state();
        auto ui = inspect();

        if (! device.attached)
        {
            juce::StringArray problems;
            if (! controlsHidden())
                problems.add ("controls shown with no interface attached");
            if (gInAudioObjectID.load() != 0 || gOutAudioObjectID.load() != 0)
                problems.add ("audio ids still bound with no interface attached");
            return problems;
        }

        auto problems = panelDeviceDifferences (ui, device);
        if (gInAudioObjectID.load() != sim().tarvikAudioObject (Side::input)
            || gOutAudioObjectID.load() != sim().tarvikAudioObject (Side::output))
            problems.add ("audio ids " + juce::String (gInAudioObjectID.load()) + "/" + juce::String (gOutAudioObjectID.load())
                          + " are not the interface's");
        if (device.in[0].muted != expectedInputMute || device.in[1].muted != expectedInputMute)
            problems.add ("the user's input mute click after the burst was undone");
        return problems;
    }
};
} // namespace

TEST_F (NotificationStorm, PanelShowsTheDeviceStateAfterAStormWithFaderMovesAndReattaches)
{
    const int events = soakCount (10000, 2000);
    const int cycles = soakCount (200, 40);
    const Watchdog watchdog ("notification storm", 100);

    sim().attachTarvik();
    makePanel();
    auto ui = inspect();
    ASSERT_TRUE (controlsShown());

    // The storm goes at the pace of the cycles, so that it overlaps every one of them.
    std::atomic<int> stormed { 0 }, cyclesDone { 0 }, refused { 0 };
    std::atomic<bool> stop { false };

    std::thread otherProgram ([&] {
        std::mt19937 random (1234);

        while (! stop && stormed < events)
        {
            const int allowed = (int) ((long long) events * (cyclesDone + 1) / cycles);

            if (stormed >= allowed)
            {
                std::this_thread::sleep_for (std::chrono::microseconds (200));
                continue;
            }

            const auto side = random() % 2 == 0 ? Side::input : Side::output;
            const int channel = 1 + (int) (random() % 2);
            const auto status = random() % 4 == 0 ? sim().setMute (side, channel, random() % 2 == 0)
                                                  : sim().setVolumeDb (side, channel, gridVolume (random));

            // While the interface is away the change has nowhere to go; it does not count.
            if (status == 0)
                ++stormed;
            else
                ++refused;

            if (stormed % 16 == 0)
                std::this_thread::yield();
        }
    });

    std::mt19937 random (99);
    juce::Slider* sliders[] { &ui.sliderIn1(), &ui.sliderIn2(), &ui.sliderOut1(), &ui.sliderOut2() };
    int stalls = 0;

    for (int cycle = 0; cycle < cycles; ++cycle)
    {
        // The user moves the faders while the device reports changes.
        for (int move = 0; move < 8; ++move)
        {
            auto* slider = sliders[random() % 4];
            if (controlsShown())
                slider->setValue (gridVolume (random), juce::sendNotificationSync);
            pumpFor (1);
        }

        sim().detachTarvik();
        if (! pumpUntil ([&] { return controlsHidden(); }, 10000))
            ++stalls;

        // A move on a hidden fader reaches no device.
        sliders[random() % 4]->setValue (gridVolume (random), juce::sendNotificationSync);

        sim().attachTarvik();
        if (! pumpUntil ([&] { return controlsShown(); }, 10000))
            ++stalls;

        ++cyclesDone;
    }

    // Let the storm finish its count, with the loop running so its reports are delivered.
    const bool stormFinished = pumpUntil ([&] { return stormed >= events; }, 60000);
    stop = true;
    otherProgram.join();

    EXPECT_EQ (stalls, 0) << "the panel did not follow a detach or attach in time";
    EXPECT_TRUE (stormFinished) << "only " << stormed.load() << " of " << events << " changes were made";

    // Settled: every report delivered, the last refresh run, nothing more pending.
    const bool settled = pumpUntil ([&] { return panelDeviceDifferences (ui, sim().state()).isEmpty(); }, 10000);
    pumpFor (300);
    const auto differences = panelDeviceDifferences (ui, sim().state());
    EXPECT_TRUE (settled && differences.isEmpty()) << differences.joinIntoString ("\n");

    const int failures = stalls + (stormFinished ? 0 : 1) + differences.size() + (settled ? 0 : 1);
    std::cout << "events stormed: " << stormed.load() << ", attach/detach cycles: " << cyclesDone.load()
              << ", failures: " << failures << std::endl;
    EXPECT_EQ (failures, 0);
}

TEST_F (NotificationStorm, BurstsOfDetachAndAttachEndWithThePanelInStepWithTheDevice)
{
    const Watchdog watchdog ("detach/attach bursts", 110);
    const int settleTimeout = 10000;

    sim().attachTarvik();
    makePanel();
    auto ui = inspect();
    ASSERT_TRUE (pumpUntil ([&] { return showsTheAttachedDevice() && ! ui.refreshPending(); }));

    std::mt19937 random (2024);
    int failures = 0, bursts = 0;
    unsigned int loopback = 0;

    for (const int pairs : { 8, 100, soakCount (1000, 200) })
    {
        for (const bool endDetached : { false, true })
        {
            SCOPED_TRACE (juce::String (pairs) + " pairs" + (endDetached ? ", then a detach" : ""));
            bool inputMute = actAsTheUser (random);

            // Sent from a thread of its own, as the control socket does, while the loop runs.
            std::atomic<bool> sent { false };
            std::thread cable ([&] {
                for (int i = 0; i < pairs; ++i)
                {
                    sim().detachTarvik();
                    sim().attachTarvik();
                }
                if (endDetached)
                    sim().detachTarvik();
                sent = true;
            });
            pumpUntil ([&] { return sent.load(); }, 60000);
            cable.join();
            ++bursts;

            // Right after the burst, as soon as the panel shows the interface again: the user
            // acts while older notifications may still be on their way.
            if (! endDetached && pumpUntil ([&] { return showsTheAttachedDevice(); }, settleTimeout))
                inputMute = actAsTheUser (random);

            pumpUntil ([&] { return outOfStep (inputMute).isEmpty() && ! ui.refreshPending(); }, settleTimeout);
            pumpFor (300);
            auto problems = outOfStep (inputMute);

            // The raw channel holds the interface that is there now, and only that one.
            const auto transfersBefore = sim().state().transfers;
            const auto status = ubs_hw_toggleLoopbackMode (loopback);
            if (endDetached)
            {
                if (status != kIOReturnNoDevice)
                    problems.add ("a loopback request with no interface gave " + juce::String::toHexString ((int) status));
            }
            else if (status != kIOReturnSuccess || sim().state().transfers != transfersBefore + 3 || sim().loopback() != (int) loopback)
            {
                problems.add ("the loopback request did not reach the device: " + juce::String::toHexString ((int) status));
            }
            loopback ^= 1u;

            EXPECT_TRUE (problems.isEmpty()) << problems.joinIntoString ("\n");
            failures += problems.isEmpty() ? 0 : 1;

            if (endDetached)
            {
                sim().attachTarvik();
                ASSERT_TRUE (pumpUntil ([&] { return showsTheAttachedDevice() && ! ui.refreshPending(); }, settleTimeout));
            }
        }
    }

    std::cout << "detach/attach bursts: " << bursts << ", failures: " << failures << std::endl;
}
