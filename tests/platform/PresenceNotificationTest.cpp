// USB presence and power notifications as the device link registers for them.
#include <string>
#include <thread>
#include <vector>

#include "SimulationFixture.h"

using namespace tarvik::sim;
using tarvik::test::pumpFor;
using tarvik::test::pumpUntil;

namespace
{
struct Seen
{
    std::string vendorName, productName;
    SInt32 vendorId = -1, productId = -1;
};

struct Recorder
{
    std::vector<Seen> seen;
    int calls = 0;
    int callsOffMessageThread = 0;
};

std::string stringProperty (CFDictionaryRef props, CFStringRef key)
{
    auto value = static_cast<CFStringRef> (CFDictionaryGetValue (props, key));
    if (value == nullptr)
        return {};
    char buffer[256] {};
    return CFStringGetCString (value, buffer, sizeof (buffer), kCFStringEncodingUTF8) ? buffer : "<unreadable>";
}

SInt32 numberProperty (CFDictionaryRef props, CFStringRef key)
{
    SInt32 value = -1;
    if (auto n = static_cast<CFNumberRef> (CFDictionaryGetValue (props, key)))
        CFNumberGetValue (n, kCFNumberSInt32Type, &value);
    return value;
}

// Drains the iterator as the device link's callbacks do, releasing everything it takes.
void drain (void* refcon, io_iterator_t iterator)
{
    auto& r = *static_cast<Recorder*> (refcon);
    ++r.calls;
    if (! juce::MessageManager::getInstance()->isThisTheMessageThread())
        ++r.callsOffMessageThread;

    while (io_service_t service = IOIteratorNext (iterator))
    {
        CFMutableDictionaryRef props = nullptr;
        if (IORegistryEntryCreateCFProperties (service, &props, kCFAllocatorDefault, 0) == kIOReturnSuccess)
        {
            r.seen.push_back ({ stringProperty (props, CFSTR (kUSBVendorString)), stringProperty (props, CFSTR (kUSBProductString)),
                                numberProperty (props, CFSTR (kUSBVendorID)), numberProperty (props, CFSTR (kUSBProductID)) });
            CFRelease (props);
        }
        IOObjectRelease (service);
    }
}

struct Registration
{
    Recorder arrived, removed;
    io_iterator_t arrivalIterator = 0, removalIterator = 0;

    explicit Registration (CFMutableDictionaryRef matching)
    {
        mach_port_t master = 0;
        EXPECT_EQ (IOMasterPort (MACH_PORT_NULL, &master), kIOReturnSuccess);
        auto port = IONotificationPortCreate (master);
        CFRunLoopAddSource (CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource (port), kCFRunLoopDefaultMode);
        CFRetain (matching);
        EXPECT_EQ (IOServiceAddMatchingNotification (port, kIOMatchedNotification, matching, drain, &arrived, &arrivalIterator), kIOReturnSuccess);
        EXPECT_EQ (IOServiceAddMatchingNotification (port, kIOTerminatedNotification, matching, drain, &removed, &removalIterator), kIOReturnSuccess);
        mach_port_deallocate (mach_task_self(), master);
    }
};

CFMutableDictionaryRef matchingByIds (SInt32 vendor, SInt32 product)
{
    auto matching = IOServiceMatching (kIOUSBDeviceClassName);
    auto v = CFNumberCreate (kCFAllocatorDefault, kCFNumberSInt32Type, &vendor);
    auto p = CFNumberCreate (kCFAllocatorDefault, kCFNumberSInt32Type, &product);
    CFDictionarySetValue (matching, CFSTR (kUSBVendorID), v);
    CFDictionarySetValue (matching, CFSTR (kUSBProductID), p);
    CFRelease (v);
    CFRelease (p);
    return matching;
}
} // namespace

TEST_F (SimulationTest, NotificationsFireOnlyAfterDrainingAndArriveLaterOnTheMessageThread)
{
    sim().attachTarvik();
    Registration reg (IOServiceMatching (kIOUSBDeviceClassName));

    // Nothing is delivered by itself before the iterators are drained, however long we wait.
    sim().attachUsbDevice ({ 0x05AC, 0x1234, std::string ("Other"), std::string ("Thing") });
    pumpFor (100);
    EXPECT_EQ (reg.arrived.calls, 0);

    // The arrival iterator already holds what was present, in both cases; termination none.
    drain (&reg.removed, reg.removalIterator);
    drain (&reg.arrived, reg.arrivalIterator);
    ASSERT_EQ (reg.arrived.seen.size(), 2u);
    EXPECT_EQ (reg.arrived.seen[0].productName, "TARVIK");
    EXPECT_EQ (reg.arrived.seen[0].vendorId, kMakerVendorId);
    EXPECT_EQ (reg.arrived.seen[1].productName, "Thing");
    EXPECT_TRUE (reg.removed.seen.empty());

    // Now armed: a detach is posted, not delivered inside the call that caused it.
    reg.arrived.calls = reg.removed.calls = 0;
    sim().detachTarvik();
    EXPECT_EQ (reg.removed.calls, 0);
    ASSERT_TRUE (pumpUntil ([&] { return reg.removed.calls > 0; }, 2000));
    ASSERT_EQ (reg.removed.seen.size(), 1u);
    EXPECT_EQ (reg.removed.seen[0].vendorName, "VYR Zelvatek GmbH") << "terminated service lost its properties";
    EXPECT_EQ (reg.removed.seen[0].productId, kTarvikProductId);

    sim().attachTarvik();
    ASSERT_TRUE (pumpUntil ([&] { return reg.arrived.calls > 0; }, 2000));
    EXPECT_EQ (reg.arrived.seen.size(), 3u);
    EXPECT_EQ (reg.arrived.callsOffMessageThread + reg.removed.callsOffMessageThread, 0);

    // Attaches made on another thread still reach the message thread.
    std::thread ([] { Simulation::get().attachUsbDevice ({}); }).join();
    ASSERT_TRUE (pumpUntil ([&] { return reg.arrived.seen.size() == 4; }, 2000));
    EXPECT_EQ (reg.arrived.callsOffMessageThread, 0);

    EXPECT_EQ (sim().heldServiceReferences(), 0) << "a drained service was not released";
    EXPECT_EQ (sim().heldMasterPorts(), 0);
}

TEST_F (SimulationTest, UndrainedIteratorCollectsServicesWithoutFiringAgain)
{
    Registration reg (IOServiceMatching (kIOUSBDeviceClassName));
    drain (&reg.arrived, reg.arrivalIterator);
    reg.arrived.calls = 0;

    // The callback that would drain is never run: only one delivery is posted for both.
    auto first = sim().attachUsbDevice ({});
    sim().attachUsbDevice ({});
    pumpUntil ([&] { return reg.arrived.calls > 0; }, 2000);
    pumpFor (50);
    EXPECT_EQ (reg.arrived.calls, 1);
    EXPECT_EQ (reg.arrived.seen.size(), 2u);

    sim().detachUsbDevice (first);
    pumpFor (100);
    EXPECT_EQ (reg.removed.calls, 0) << "termination fired although its iterator was never drained";
}

TEST_F (SimulationTest, MatchingDictionaryWithIdsFiltersAndBareClassMatchesEveryUsbDevice)
{
    Registration byIds (matchingByIds (kMakerVendorId, kTarvikProductId));
    Registration all (IOServiceMatching (kIOUSBDeviceClassName));
    for (auto* r : { &byIds, &all })
    {
        drain (&r->removed, r->removalIterator);
        drain (&r->arrived, r->arrivalIterator);
    }

    sim().attachUsbDevice ({ 0x1234, kTarvikProductId, std::string ("Other maker"), std::string ("TARVIK") });
    sim().attachUsbDevice ({ kMakerVendorId, 0x0033, std::string (kMakerName), std::string ("TARVIK") });
    sim().attachUsbDevice ({ kMakerVendorId, std::nullopt, std::string (kMakerName), std::string ("TARVIK") });
    sim().attachUsbDevice ({ kMakerVendorId, kTarvikProductId, std::string ("vyr zelvatek gmbh"), std::string ("TARVIK") });
    sim().attachTarvik();

    ASSERT_TRUE (pumpUntil ([&] { return all.arrived.seen.size() == 5; }, 2000));
    pumpFor (50);

    // The lowercase maker name carries the right ids: only the names tell it apart.
    ASSERT_EQ (byIds.arrived.seen.size(), 2u);
    EXPECT_EQ (byIds.arrived.seen[0].vendorName, "vyr zelvatek gmbh");
    EXPECT_EQ (byIds.arrived.seen[1].vendorName, "VYR Zelvatek GmbH");
    EXPECT_EQ (all.arrived.seen[2].productId, -1) << "a missing idProduct must stay missing";

    sim().detachTarvik();
    ASSERT_TRUE (pumpUntil ([&] { return all.removed.seen.size() == 1; }, 2000));
    ASSERT_TRUE (pumpUntil ([&] { return byIds.removed.seen.size() == 1; }, 2000));
}

TEST_F (SimulationTest, PowerMessagesArriveOnTheMessageThreadAndAllowancesAreRecorded)
{
    struct Power
    {
        io_connect_t root = 0;
        std::vector<std::pair<natural_t, intptr_t>> messages;
        bool offThread = false;
    } power;

    IONotificationPortRef port = nullptr;
    io_object_t notifier = 0;
    power.root = IORegisterForSystemPower (&power, &port, [] (void* refcon, io_service_t, natural_t type, void* argument)
    {
        auto& p = *static_cast<Power*> (refcon);
        p.offThread |= ! juce::MessageManager::getInstance()->isThisTheMessageThread();
        p.messages.emplace_back (type, reinterpret_cast<intptr_t> (argument));
        if (type == kIOMessageCanSystemSleep || type == kIOMessageSystemWillSleep)
            IOAllowPowerChange (p.root, reinterpret_cast<intptr_t> (argument));
    }, &notifier);
    ASSERT_NE (power.root, 0u);
    CFRunLoopAddSource (CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource (port), kCFRunLoopCommonModes);

    const auto canSleep = sim().sendPowerMessage (kIOMessageCanSystemSleep);
    const auto willSleep = sim().sendPowerMessage (kIOMessageSystemWillSleep);
    const auto willPowerOn = sim().sendPowerMessage (kIOMessageSystemWillPowerOn);
    sim().sendPowerMessage (kIOMessageSystemHasPoweredOn);
    EXPECT_TRUE (power.messages.empty());

    ASSERT_TRUE (pumpUntil ([&] { return power.messages.size() == 4; }, 2000));
    EXPECT_FALSE (power.offThread);
    EXPECT_EQ (power.messages[1].first, kIOMessageSystemWillSleep);
    EXPECT_EQ (power.messages[1].second, willSleep);
    EXPECT_EQ (power.messages[3].first, kIOMessageSystemHasPoweredOn);
    EXPECT_TRUE (sim().wasPowerChangeAllowed (canSleep));
    EXPECT_TRUE (sim().wasPowerChangeAllowed (willSleep));
    EXPECT_FALSE (sim().wasPowerChangeAllowed (willPowerOn));

    // A failed registration yields no connection.
    Fault f;
    f.call = Call::IORegisterForSystemPower;
    sim().injectFault (f);
    IONotificationPortRef port2 = nullptr;
    EXPECT_EQ (IORegisterForSystemPower (&power, &port2, [] (void*, io_service_t, natural_t, void*) {}, &notifier), 0u);
}
