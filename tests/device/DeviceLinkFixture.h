#pragma once

#include "device/DeviceProperties.h"
#include "device/RegisterDeviceCallBacksMac.h"
#include "simulation/TarvikSimulation.h"
#include "support/MessageLoop.h"
#include "support/Simulation.h"
#include "support/SimulationSettle.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace tarvik::test
{
/** What the sink saw of one event. */
struct SeenEvent
{
    VYR_CallbackEvent event;
    void* userData;
    void* reserved;
    bool onMessageThread;
    bool messageThreadLocked;
    int powerRegistrations;
};

/** Sets the device link up against a fresh simulation, with a recording sink and a sleep
    that only counts. */
class DeviceLinkTest : public ::testing::Test
{
protected:
    static inline std::mutex seenLock;
    static inline std::vector<SeenEvent> seen;
    static inline std::atomic<int> sleeps { 0 };
    static inline int owner = 0;

    static sim::Simulation& simulation() { return sim::Simulation::get(); }

    static void sink (void* userData, void* reserved, VYR_CallbackEvent event)
    {
        const SeenEvent e { event, userData, reserved, juce::MessageManager::existsAndIsCurrentThread(),
                            juce::MessageManager::existsAndIsLockedByCurrentThread(),
                            simulation().powerRegistrations() };
        const std::lock_guard<std::mutex> guard (seenLock);
        seen.push_back (e);
    }

    static std::vector<SeenEvent> events()
    {
        const std::lock_guard<std::mutex> guard (seenLock);
        return seen;
    }

    static std::vector<VYR_CallbackEvent> eventKinds()
    {
        std::vector<VYR_CallbackEvent> kinds;
        for (const auto& e : events())
            kinds.push_back (e.event);
        return kinds;
    }

    static bool waitForEvents (size_t count)
    {
        return pumpUntil ([count] { return events().size() >= count; });
    }

    void SetUp() override
    {
        simulation().reset();
        tarvik::platform::setSleepFunction ([] (unsigned int seconds) { sleeps += (int) seconds; });
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        {
            const std::lock_guard<std::mutex> guard (seenLock);
            seen.clear();
        }
        sleeps = 0;
        mydeviceStruct = {};
        FillTarvikRegistration (&owner, sink);
    }

    void TearDown() override
    {
        WithdrawDeviceUserData();
        simulation().reset();
        EXPECT_TRUE (settleNotificationThread());
    }
};
} // namespace tarvik::test
