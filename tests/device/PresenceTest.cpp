#include "DeviceLinkFixture.h"

namespace tarvik::test
{
using sim::Side;

TEST_F (DeviceLinkTest, AttachedAtStartIsBoundAndReportedDuringRegistration)
{
    simulation().attachTarvik();
    RegisterDeviceCallBacks();

    // Delivered inside the call, without the message loop running.
    const auto seenNow = events();
    ASSERT_EQ (seenNow.size(), 1u);
    EXPECT_EQ (seenNow[0].event, EventDevicePlugged);
    EXPECT_EQ (seenNow[0].userData, &owner);
    EXPECT_EQ (seenNow[0].reserved, nullptr);
    EXPECT_TRUE (seenNow[0].onMessageThread);
    EXPECT_EQ (seenNow[0].powerRegistrations, 1) << "power is registered before presence";

    EXPECT_EQ (gInAudioObjectID.load(), simulation().tarvikAudioObject (Side::input));
    EXPECT_EQ (gOutAudioObjectID.load(), gInAudioObjectID.load()) << "one device serves both sides";
    EXPECT_NE (gInAudioObjectID.load(), 0u);
    EXPECT_EQ (sleeps.load(), 0);
}

TEST_F (DeviceLinkTest, LaterArrivalAndDetachAreReportedOnceAndOtherDevicesIgnored)
{
    RegisterDeviceCallBacks();
    EXPECT_TRUE (events().empty());

    // Near misses of the TARVIK's USB identity, each passed over without binding or waiting.
    auto usbDevice = [] (auto change) { sim::UsbDeviceSpec s; change (s); return s; };
    const std::vector<sim::UsbDeviceSpec> others {
        usbDevice ([] (auto& s) { s.vendorId = 0x1234; s.vendorName = "Other Maker"; s.productName = "Mixer"; }),
        usbDevice ([] (auto& s) { s.productId = 0x0033; }),
        usbDevice ([] (auto& s) { s.vendorName = "VYR ZELVATEK GMBH"; }),
        usbDevice ([] (auto& s) { s.productName = "tarvik"; }),
        usbDevice ([] (auto& s) { s.productName = "TARVIK 2"; }),
        usbDevice ([] (auto& s) { s.vendorName.reset(); }),
        usbDevice ([] (auto& s) { s.vendorId.reset(); }),
        usbDevice ([] (auto& s) { s.productId.reset(); }),
    };
    std::vector<int> ids;
    for (const auto& s : others)
        ids.push_back (simulation().attachUsbDevice (s));

    simulation().attachTarvik();
    ASSERT_TRUE (waitForEvents (1));
    for (auto id : ids)
        simulation().detachUsbDevice (id);

    const auto boundIn = gInAudioObjectID.load(), boundOut = gOutAudioObjectID.load();
    simulation().detachTarvik();
    ASSERT_TRUE (waitForEvents (2));
    pumpFor (50);

    EXPECT_EQ (eventKinds(), (std::vector<VYR_CallbackEvent> { EventDevicePlugged, EventDeviceRemoved }));
    EXPECT_EQ (simulation().deviceListReads(), 1) << "only the TARVIK is bound";
    EXPECT_EQ (sleeps.load(), 0);
    EXPECT_EQ (gInAudioObjectID.load(), boundIn) << "the sink clears the ids, not the device link";
    EXPECT_EQ (gOutAudioObjectID.load(), boundOut);
}

TEST_F (DeviceLinkTest, TwoMatchingServicesInOneNotificationAreBoundInTurn)
{
    simulation().attachTarvik();
    simulation().attachUsbDevice (sim::UsbDeviceSpec {});
    RegisterDeviceCallBacks();

    EXPECT_EQ (eventKinds(), (std::vector<VYR_CallbackEvent> { EventDevicePlugged, EventDevicePlugged }));
    EXPECT_EQ (simulation().deviceListReads(), 2);
}

TEST_F (DeviceLinkTest, ABurstOfDetachesAndAttachesIsReportedByItsNetEffect)
{
    simulation().attachTarvik();
    RegisterDeviceCallBacks();

    // All queued before the loop runs: the removals are drained in one batch, the arrivals in another.
    for (int pair = 0; pair < 8; ++pair)
    {
        simulation().detachTarvik();
        simulation().attachTarvik();
    }
    pumpFor (200);
    EXPECT_EQ (eventKinds(), (std::vector<VYR_CallbackEvent> { EventDevicePlugged, EventDeviceRemoved, EventDevicePlugged }));
    EXPECT_EQ (gInAudioObjectID.load(), simulation().tarvikAudioObject (Side::input));
    EXPECT_EQ (simulation().deviceListReads(), 2) << "only the interface still attached is bound";

    // The arrivals drained before an older removal: the stale arrival and removal change nothing.
    simulation().detachTarvik();
    juce::MessageManager::callAsync ([] {
        simulation().attachTarvik();
        simulation().detachTarvik();
        simulation().attachTarvik();
    });
    pumpFor (200);
    EXPECT_EQ (eventKinds(), (std::vector<VYR_CallbackEvent> { EventDevicePlugged, EventDeviceRemoved, EventDevicePlugged,
                                                               EventDeviceRemoved, EventDevicePlugged }));
    EXPECT_EQ (gInAudioObjectID.load(), simulation().tarvikAudioObject (Side::input));

    // A burst that ends detached: the removal is reported once.
    for (int pair = 0; pair < 8; ++pair)
    {
        simulation().detachTarvik();
        simulation().attachTarvik();
    }
    simulation().detachTarvik();
    pumpFor (200);
    EXPECT_EQ (eventKinds().size(), 6u);
    EXPECT_EQ (eventKinds().back(), EventDeviceRemoved);
    EXPECT_EQ (sleeps.load(), 0);
}

TEST_F (DeviceLinkTest, BindRetryWaitsFiveTimesForCoreAudioSides)
{
    sim::TarvikOptions usbOnly;
    usbOnly.withAudio = false;
    simulation().attachTarvik (usbOnly);
    RegisterDeviceCallBacks();

    EXPECT_TRUE (events().empty());
    EXPECT_EQ (sleeps.load(), 5);
    EXPECT_EQ (simulation().deviceListReads(), 5);

    // Sides that show up on the third look bind after two sleeps.
    simulation().detachTarvik();
    sim::TarvikOptions late;
    late.enumerationsBeforeAudio = 2;
    simulation().attachTarvik (late);
    ASSERT_TRUE (waitForEvents (2));

    EXPECT_EQ (eventKinds(), (std::vector<VYR_CallbackEvent> { EventDeviceRemoved, EventDevicePlugged }));
    EXPECT_EQ (sleeps.load(), 7);
    EXPECT_EQ (gInAudioObjectID.load(), simulation().tarvikAudioObject (Side::input));
}

TEST_F (DeviceLinkTest, PowerMessagesAreAllowedAndForwarded)
{
    RegisterDeviceCallBacks();

    static std::atomic<intptr_t> willSleepId { 0 };
    static std::atomic<bool> allowedBeforeSink { true };
    mydeviceStruct.eventCallback = [] (void* userData, void* reserved, VYR_CallbackEvent event)
    {
        if (event == EventSystemWillSleep)
            allowedBeforeSink = simulation().wasPowerChangeAllowed (willSleepId);
        sink (userData, reserved, event);
    };

    const auto canSleep = simulation().sendPowerMessage (kIOMessageCanSystemSleep);
    willSleepId = simulation().sendPowerMessage (kIOMessageSystemWillSleep);
    const auto willPowerOn = simulation().sendPowerMessage (kIOMessageSystemWillPowerOn);
    simulation().sendPowerMessage (kIOMessageSystemWillNotSleep);
    simulation().sendPowerMessage (kIOMessageSystemHasPoweredOn);
    ASSERT_TRUE (waitForEvents (3));
    pumpFor (50);

    EXPECT_EQ (eventKinds(), (std::vector<VYR_CallbackEvent> { EventSystemWillSleep, EventSystemWillPowerOn,
                                                               EventSystemHasPoweredOn }));
    EXPECT_TRUE (simulation().wasPowerChangeAllowed (canSleep));
    EXPECT_TRUE (simulation().wasPowerChangeAllowed (willSleepId));
    EXPECT_FALSE (allowedBeforeSink.load()) << "the sink hears of sleep before it is allowed";
    EXPECT_FALSE (simulation().wasPowerChangeAllowed (willPowerOn));
}
} // namespace tarvik::test
