// The simulation's record of how USB device interfaces were opened, closed and let go.
#include "SimulationFixture.h"

using namespace tarvik::sim;
using Kind = UsbDeviceEvent::Kind;

namespace
{
IOUSBDeviceInterface** deviceInterfaceFor (int simId)
{
    io_iterator_t iterator = 0;
    mach_port_t master = 0;
    IOMasterPort (MACH_PORT_NULL, &master);
    auto port = IONotificationPortCreate (master);
    IOServiceAddMatchingNotification (port, kIOFirstMatchNotification, IOServiceMatching (kIOUSBDeviceClassName),
                                      [] (void*, io_iterator_t) {}, nullptr, &iterator);
    mach_port_deallocate (mach_task_self(), master);

    // Services arrive in attach order; simId counts from 1 in the same order.
    IOUSBDeviceInterface** dev = nullptr;
    int index = 0;
    while (io_service_t service = IOIteratorNext (iterator))
    {
        IOCFPlugInInterface** plugIn = nullptr;
        SInt32 score = 0;
        if (++index == simId
            && IOCreatePlugInInterfaceForService (service, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID,
                                                  &plugIn, &score) == kIOReturnSuccess)
        {
            (*plugIn)->QueryInterface (plugIn, CFUUIDGetUUIDBytes (kIOUSBDeviceInterfaceID), reinterpret_cast<LPVOID*> (&dev));
            (*plugIn)->Release (plugIn);
        }
        IOObjectRelease (service);
    }
    return dev;
}
} // namespace

TEST_F (SimulationTest, OpensClosesAndReleasesAreLoggedSoAReleaseWhileOpenShows)
{
    sim().attachTarvik();
    UsbDeviceSpec other;
    other.productId = 0x0033;
    const int otherId = sim().attachUsbDevice (other);

    // Closed, then released: the tidy way.
    auto dev = deviceInterfaceFor (1);
    ASSERT_NE (dev, nullptr);
    EXPECT_TRUE (sim().usbDeviceEvents().empty()) << "the plug-in and the query are no open";
    ASSERT_EQ ((*dev)->USBDeviceOpen (dev), kIOReturnSuccess);
    ASSERT_EQ ((*dev)->USBDeviceClose (dev), kIOReturnSuccess);
    EXPECT_EQ ((*dev)->USBDeviceClose (dev), kIOReturnNotOpen);
    (*dev)->AddRef (dev);
    (*dev)->Release (dev); // still referenced: not the last release
    (*dev)->Release (dev);

    auto events = sim().usbDeviceEvents();
    ASSERT_EQ (events.size(), 3u);
    EXPECT_EQ (events[0].kind, Kind::opened);
    EXPECT_EQ (events[1].kind, Kind::closed);
    EXPECT_EQ (events[2].kind, Kind::released);
    EXPECT_FALSE (events[2].wasOpen);
    for (auto& e : events)
        EXPECT_TRUE (e.toTarvik);

    // Released while still open, on another device; a refused open leaves no trace.
    auto otherDev = deviceInterfaceFor (2);
    ASSERT_NE (otherDev, nullptr);
    Fault refuse;
    refuse.call = Call::USBDeviceOpen;
    refuse.status = kIOReturnExclusiveAccess;
    refuse.times = 1;
    sim().injectFault (refuse);
    EXPECT_EQ ((*otherDev)->USBDeviceOpen (otherDev), kIOReturnExclusiveAccess);
    ASSERT_EQ ((*otherDev)->USBDeviceOpen (otherDev), kIOReturnSuccess);
    (*otherDev)->Release (otherDev);

    events = sim().usbDeviceEvents();
    ASSERT_EQ (events.size(), 5u);
    EXPECT_EQ (events[3].kind, Kind::opened);
    EXPECT_EQ (events[4].kind, Kind::released);
    EXPECT_TRUE (events[4].wasOpen);
    EXPECT_EQ (events[4].device, otherId);
    EXPECT_FALSE (events[4].toTarvik);
    EXPECT_NE (events[0].device, otherId);

    sim().reset();
    EXPECT_TRUE (sim().usbDeviceEvents().empty());
}
