#pragma once

#include <gtest/gtest.h>

#include "platform/MacPlatform.h"
#include "simulation/TarvikSimulation.h"
#include "support/MessageLoop.h"
#include "support/Simulation.h"

using tarvik::test::sim;

/** Every test starts from an empty simulation and leaves one behind. */
class SimulationTest : public ::testing::Test
{
protected:
    void SetUp() override { sim().reset(); }
    void TearDown() override { sim().reset(); }
};

/** An iterator over every USB service present now, in attach order. */
inline io_iterator_t presentUsbServices()
{
    io_iterator_t iterator = 0;
    mach_port_t master = 0;
    IOMasterPort (MACH_PORT_NULL, &master);
    auto port = IONotificationPortCreate (master);
    IOServiceAddMatchingNotification (port, kIOFirstMatchNotification, IOServiceMatching (kIOUSBDeviceClassName),
                                      [] (void*, io_iterator_t) {}, nullptr, &iterator);
    mach_port_deallocate (mach_task_self(), master);
    return iterator;
}

/** The device interface of a USB service, through its plug-in; null when either step fails. */
inline IOUSBDeviceInterface** deviceInterfaceOf (io_service_t service)
{
    IOCFPlugInInterface** plugIn = nullptr;
    SInt32 score = 0;

    if (IOCreatePlugInInterfaceForService (service, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID,
                                           &plugIn, &score) != kIOReturnSuccess
        || plugIn == nullptr)
        return nullptr;

    IOUSBDeviceInterface** dev = nullptr;
    (*plugIn)->QueryInterface (plugIn, CFUUIDGetUUIDBytes (kIOUSBDeviceInterfaceID), reinterpret_cast<LPVOID*> (&dev));
    (*plugIn)->Release (plugIn);
    return dev;
}

/** One request of the loopback sequence, carrying one data byte. */
inline IOReturn sendLoopbackByte (IOUSBDeviceInterface** dev, UInt8 byte)
{
    IOUSBDevRequest req {};
    req.bmRequestType = USBmakebmRequestType (kUSBOut, kUSBClass, kUSBInterface);
    req.bRequest = 0x01;
    req.wValue = 0x2000;
    req.wIndex = 0x0300;
    req.wLength = 1;
    req.pData = &byte;
    return (*dev)->DeviceRequest (dev, &req);
}
