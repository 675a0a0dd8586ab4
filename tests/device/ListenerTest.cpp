#include "DeviceLinkFixture.h"
#include "platform/detail/NotificationThread.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include <pthread.h>

namespace tarvik::test
{
using sim::Side;

namespace
{
constexpr AudioObjectPropertyAddress rateAddress { kAudioDevicePropertyNominalSampleRate,
                                                   kAudioObjectPropertyScopeGlobal, 0 };

std::vector<double> rateWritesTo (const std::vector<sim::PropertyWrite>& writes, AudioObjectID object)
{
    std::vector<double> rates;
    for (const auto& w : writes)
        if (w.object == object && w.address.mSelector == kAudioDevicePropertyNominalSampleRate)
            rates.push_back (*reinterpret_cast<const Float64*> (w.data.data()));
    return rates;
}
/** CPU time the thread has used so far. */
std::chrono::nanoseconds cpuTimeOf (pthread_t thread)
{
    clockid_t clock {};
    timespec used {};

    if (pthread_getcpuclockid (thread, &clock) != 0 || clock_gettime (clock, &used) != 0)
        return std::chrono::nanoseconds::max();

    return std::chrono::seconds (used.tv_sec) + std::chrono::nanoseconds (used.tv_nsec);
}

[[noreturn]] void exitWith (int code, const char* message)
{
    std::fprintf (stderr, "%s\n", message);
    std::fflush (stderr);
    std::_Exit (code);
}

/** Posts the quit message, has CoreAudio report a change, and watches the notification
    thread while its report waits for a message loop that will never run again. Ends the
    process: 0 when the thread stayed idle and let go once the owner was withdrawn.
*/
[[noreturn]] void watchANotificationWaitingAfterQuit (const std::function<size_t()>& eventsSeen)
{
    namespace notifications = tarvik::platform::detail::notificationThread;

    std::atomic<bool> known { false };
    pthread_t notifier {};
    notifications::schedule ([&] { notifier = pthread_self(); known = true; });
    while (! known)
        std::this_thread::yield();

    const auto seenBefore = eventsSeen();
    juce::MessageManager::getInstance()->stopDispatchLoop();
    sim::Simulation::get().setMute (sim::Side::input, 1, true);

    // Runs only once the listener has returned from its report.
    std::atomic<bool> reportReturned { false };
    notifications::schedule ([&] { reportReturned = true; });
    std::this_thread::sleep_for (std::chrono::milliseconds (200));

    if (reportReturned)
        exitWith (2, "the report did not wait for the message thread");

    // Generous against a loaded machine: a spinning thread uses the whole interval.
    const auto interval = std::chrono::milliseconds (1000);
    const auto before = cpuTimeOf (notifier);
    std::this_thread::sleep_for (interval);
    const auto used = cpuTimeOf (notifier) - before;
    std::fprintf (stderr, "notification thread CPU while waiting: %lld us of %lld ms\n",
                  (long long) std::chrono::duration_cast<std::chrono::microseconds> (used).count(),
                  (long long) interval.count());

    if (used > interval / 10)
        exitWith (1, "the waiting notification thread used more than a tenth of a core");

    WithdrawDeviceUserData();

    for (int i = 0; i < 500 && ! reportReturned; ++i)
        std::this_thread::sleep_for (std::chrono::milliseconds (10));

    if (! reportReturned)
        exitWith (3, "the report kept waiting after the owner was withdrawn");

    if (eventsSeen() != seenBefore)
        exitWith (4, "the report reached the sink after quit");

    std::fflush (stdout);
    std::_Exit (0);
}
} // namespace

TEST_F (DeviceLinkTest, ChangesByAnotherProgramReachTheSinkUnderTheLock)
{
    simulation().attachTarvik();
    RegisterDeviceCallBacks();
    const auto plugged = events().size();

    simulation().setMute (Side::input, 2, true);
    ASSERT_TRUE (waitForEvents (plugged + 1));

    // A volume change notifies 'vold' and 'volm': only 'volm' counts. One whose scalar
    // cannot be read back counts for nothing; the mute after it marks the end.
    simulation().setVolumeDb (Side::output, 1, -20.0f);
    ASSERT_TRUE (waitForEvents (plugged + 2));
    simulation().failProperty ({ kAudioDevicePropertyVolumeScalar, kAudioObjectPropertyScopeWildcard,
                                 kAudioObjectPropertyElementWildcard }, kAudioHardwareUnspecifiedError);
    simulation().setVolumeDb (Side::output, 1, -30.0f);
    simulation().setMute (Side::output, 1, true);
    ASSERT_TRUE (waitForEvents (plugged + 3));
    pumpFor (50);

    const auto seenNow = events();
    ASSERT_EQ (seenNow.size(), plugged + 3);
    for (size_t i = plugged; i < seenNow.size(); ++i)
    {
        EXPECT_EQ (seenNow[i].event, EventPropertyChanged);
        EXPECT_EQ (seenNow[i].userData, &owner);
        EXPECT_FALSE (seenNow[i].onMessageThread);
        EXPECT_TRUE (seenNow[i].messageThreadLocked);
    }
}

TEST_F (DeviceLinkTest, SelectorTableGivesOneEventPerWatchedAddress)
{
    simulation().attachTarvik();
    const auto device = simulation().tarvikAudioObject (Side::input);

    // One failure of the input data source read: used up only if the listener reads there.
    sim::Fault sourceRead;
    sourceRead.call = sim::Call::AudioObjectGetPropertyData;
    sourceRead.address = { kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeInput, 0 };
    sourceRead.times = 1;
    simulation().injectFault (sourceRead);

    const AudioObjectPropertyAddress changed[] {
        { kAudioDevicePropertyMute, kAudioObjectPropertyScopeOutput, 2 },
        { kAudioDevicePropertyPlayThru, kAudioObjectPropertyScopeGlobal, 0 },
        { kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeOutput, 1 },
        { kAudioDevicePropertyVolumeScalar, kAudioObjectPropertyScopeInput, 1 },
        { kAudioDevicePropertyVolumeDecibels, kAudioObjectPropertyScopeInput, 1 },
        { TarvikFourCC ("jack"), kAudioObjectPropertyScopeGlobal, 0 },
    };

    std::atomic<bool> done { false };
    std::thread notifier ([&] {
        EXPECT_EQ (myAudioObjectPropertyListenerProc (device, 6, changed, &mydeviceStruct), 0);
        done = true;
    });
    pumpUntil ([&] { return done.load(); });
    notifier.join();

    EXPECT_EQ (eventKinds(), std::vector<VYR_CallbackEvent> (4, EventPropertyChanged));

    UInt32 source = 0, size = sizeof (source);
    EXPECT_EQ (AudioObjectGetPropertyData (device, &sourceRead.address, 0, nullptr, &size, &source), 0)
        << "the listener read the input data source";
}

TEST_F (DeviceLinkTest, RateChangeOnOneSideIsFollowedByTheOther)
{
    sim::TarvikOptions two;
    two.arrangement = sim::Arrangement::twoDevices;
    simulation().attachTarvik (two);
    RegisterDeviceCallBacks();
    const auto in = gInAudioObjectID.load(), out = gOutAudioObjectID.load();
    const auto plugged = events().size();

    simulation().setNominalRate (Side::output, 32000.0);
    // Reported twice: the change itself, then the follow-up write's own notification.
    ASSERT_TRUE (waitForEvents (plugged + 2));
    EXPECT_EQ (simulation().state().inRate, 32000.0);
    EXPECT_EQ (rateWritesTo (ownWrites(), in), std::vector<double> { 32000.0 });

    // A rate outside the list is followed but not reported; the mute marks the end.
    const auto before = events().size();
    simulation().setNominalRate (Side::input, 22050.0);
    ASSERT_TRUE (pumpUntil ([&] { return simulation().state().outRate == 22050.0; }));
    simulation().setMute (Side::input, 1, true);
    ASSERT_TRUE (waitForEvents (before + 1));

    // A rate that cannot be read is neither followed nor reported.
    simulation().failProperty (rateAddress, kAudioHardwareUnspecifiedError, sim::Call::AudioObjectGetPropertyData);
    simulation().setNominalRate (Side::output, 44100.0);
    simulation().setMute (Side::input, 1, false);
    ASSERT_TRUE (waitForEvents (before + 2));
    pumpFor (50);

    EXPECT_EQ (events().size(), before + 2);
    EXPECT_EQ (rateWritesTo (ownWrites(), out), std::vector<double> { 22050.0 });
    EXPECT_EQ (simulation().state().inRate, 22050.0);
}

TEST_F (DeviceLinkTest, OnlyTheListedRatesAreReported)
{
    simulation().attachTarvik(); // one device for both sides, at 48000 Hz
    RegisterDeviceCallBacks();

    // Every rate the device takes, each a change from the one before.
    const std::pair<double, bool> rates[] = { { 8000.0, false }, { 11025.0, false }, { 16000.0, false },
                                              { 22050.0, false }, { 32000.0, true }, { 44100.0, true },
                                              { 48000.0, true }, { 88200.0, true }, { 96000.0, true },
                                              { 176400.0, true }, { 192000.0, true } };

    for (const auto& [rate, reported] : rates)
    {
        SCOPED_TRACE (rate);
        const auto before = events().size();
        ASSERT_EQ (simulation().setNominalRate (Side::output, rate), 0);
        ASSERT_TRUE (settleNotificationThread());
        EXPECT_EQ (simulation().state().outRate, rate);
        EXPECT_EQ (events().size() - before, reported ? 1u : 0u);
    }

    EXPECT_TRUE (ownWrites().empty()) << "both sides already ran at the rate";
}

TEST_F (DeviceLinkTest, WithdrawnOwnerHearsNothingMore)
{
    simulation().attachTarvik();
    RegisterDeviceCallBacks();
    const auto plugged = events().size();

    // A change whose notification may already be waiting for the message thread.
    simulation().setMute (Side::input, 1, true);
    juce::Thread::sleep (50);
    WithdrawDeviceUserData();

    simulation().setMute (Side::output, 1, true);
    simulation().sendPowerMessage (kIOMessageSystemWillSleep);
    simulation().detachTarvik();
    pumpFor (200);

    EXPECT_EQ (events().size(), plugged);
}

TEST_F (DeviceLinkTest, AnEventWaitingForTheLockWhenTheFrameworkShutsDownIsDropped)
{
    // The framework's shutdown cannot be undone, so it runs in a process of its own, one
    // started afresh rather than forked from this one with its threads.
    const auto style = GTEST_FLAG_GET (death_test_style);
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    // The owner stays registered throughout: a delivery that gave up waiting would reach it.
    EXPECT_EXIT (
        {
            WatchFrameworkShutdown();
            std::thread notifier ([] { SendDeviceEvent (&mydeviceStruct, EventPropertyChanged); });
            juce::Thread::sleep (200); // this thread does not pump: the event waits for the lock
            juce::DeletedAtShutdown::deleteAll();
            notifier.join();
            std::_Exit (events().empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode (0), "");

    GTEST_FLAG_SET (death_test_style, style);
}

TEST_F (DeviceLinkTest, AReportWaitingAfterQuitLeavesItsThreadIdle)
{
    simulation().attachTarvik();
    RegisterDeviceCallBacks();
    ASSERT_EQ (eventKinds(), std::vector<VYR_CallbackEvent> { EventDevicePlugged });

    // Once the quit message is posted this process's loop never runs again: the rest runs in
    // a process of its own, started afresh for this test alone.
    const auto style = GTEST_FLAG_GET (death_test_style);
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    EXPECT_EXIT (watchANotificationWaitingAfterQuit ([] { return events().size(); }), ::testing::ExitedWithCode (0), "");
    GTEST_FLAG_SET (death_test_style, style);
}
} // namespace tarvik::test
