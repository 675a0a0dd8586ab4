// The simulation's record of how USB device interfaces were opened, closed and let go.
#include "SimulationFixture.h"

using namespace tarvik::sim;
using Kind = UsbDeviceEvent::Kind;

namespace
{
IOUSBDeviceInterface** deviceInterfaceFor (int simId)
{
    // Services arrive in attach order; simId counts from 1 in the same order.
    const auto iterator = presentUsbServices();
    IOUSBDeviceInterface** dev = nullptr;
    int index = 0;
    while (io_service_t service = IOIteratorNext (iterator))
    {
        if (++index == simId)
            dev = deviceInterfaceOf (service);
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
