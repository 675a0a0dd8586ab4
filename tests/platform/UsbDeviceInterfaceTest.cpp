// The raw USB device interface of the simulated interface: opening, configuring and the
// loopback request sequence.
#include "SimulationFixture.h"

using namespace tarvik::sim;

namespace
{
IOUSBDeviceInterface** openFirstMatching()
{
    const auto iterator = presentUsbServices();
    while (io_service_t service = IOIteratorNext (iterator))
    {
        auto* dev = deviceInterfaceOf (service);
        IOObjectRelease (service);
        if (dev != nullptr)
            return dev;
    }
    return nullptr;
}

IOReturn configure (IOUSBDeviceInterface** dev)
{
    UInt8 count = 0;
    if ((*dev)->GetNumberOfConfigurations (dev, &count) != kIOReturnSuccess || count == 0)
        return kIOReturnError;
    IOUSBConfigurationDescriptorPtr descriptor = nullptr;
    if (auto status = (*dev)->GetConfigurationDescriptorPtr (dev, 0, &descriptor))
        return status;
    return (*dev)->SetConfiguration (dev, descriptor->bConfigurationValue);
}
} // namespace

TEST_F (SimulationTest, LoopbackSwitchesOnlyOnTheFullSequenceAndEveryTransferIsLogged)
{
    sim().attachTarvik();
    auto dev = openFirstMatching();
    ASSERT_NE (dev, nullptr);

    UInt16 vendor = 0, product = 0;
    (*dev)->GetDeviceVendor (dev, &vendor);
    (*dev)->GetDeviceProduct (dev, &product);
    EXPECT_EQ (vendor, kMakerVendorId);
    EXPECT_EQ (product, kTarvikProductId);

    EXPECT_EQ (sendLoopbackByte (dev, 0x55), kIOReturnNotOpen);
    ASSERT_EQ ((*dev)->USBDeviceOpen (dev), kIOReturnSuccess);
    ASSERT_EQ (configure (dev), kIOReturnSuccess);
    EXPECT_EQ (sim().loopback(), -1);

    for (UInt8 b : std::initializer_list<UInt8> { 0x55, 0xAA, 0x03 })
        EXPECT_EQ (sendLoopbackByte (dev, b), kIOReturnSuccess);
    EXPECT_EQ (sim().loopback(), 1);

    // Out of order: nothing changes.
    for (UInt8 b : std::initializer_list<UInt8> { 0xAA, 0x55, 0x02 })
        sendLoopbackByte (dev, b);
    EXPECT_EQ (sim().loopback(), 1);

    for (UInt8 b : std::initializer_list<UInt8> { 0x55, 0xAA, 0x02 })
        sendLoopbackByte (dev, b);
    EXPECT_EQ (sim().loopback(), 0);

    const auto log = sim().usbTransfers();
    ASSERT_EQ (log.size(), 10u);
    EXPECT_EQ (log[0].status, kIOReturnNotOpen);
    EXPECT_EQ (log[3].bmRequestType, 0x21);
    EXPECT_EQ (log[3].bRequest, 0x01);
    EXPECT_EQ (log[3].wValue, 0x2000);
    EXPECT_EQ (log[3].wIndex, 0x0300);
    EXPECT_EQ (log[3].wLength, 1);
    EXPECT_EQ (log[3].data, std::vector<UInt8> { 0x03 });
    EXPECT_EQ (log[9].data, std::vector<UInt8> { 0x02 });
    EXPECT_EQ (sim().state().transfers, 9);

    // A request with other setup fields stalls and breaks the sequence.
    sendLoopbackByte (dev, 0x55);
    sendLoopbackByte (dev, 0xAA);
    IOUSBDevRequest other {};
    other.bmRequestType = 0x21;
    other.bRequest = 0x02;
    EXPECT_EQ ((*dev)->DeviceRequest (dev, &other), kIOUSBPipeStalled);
    sendLoopbackByte (dev, 0x03);
    EXPECT_EQ (sim().loopback(), 0);

    (*dev)->USBDeviceClose (dev);
    (*dev)->Release (dev);
    EXPECT_EQ (sim().liveUsbInterfaces(), 0);
}

TEST_F (SimulationTest, InjectedFailuresHitTheChosenRequestAndTheRawOpenPaths)
{
    sim().attachTarvik();
    auto dev = openFirstMatching();
    ASSERT_NE (dev, nullptr);
    ASSERT_EQ ((*dev)->USBDeviceOpen (dev), kIOReturnSuccess);

    // A second client cannot open it meanwhile.
    auto second = openFirstMatching();
    ASSERT_NE (second, nullptr);
    EXPECT_EQ ((*second)->USBDeviceOpen (second), kIOReturnExclusiveAccess);
    (*second)->Release (second);

    sim().failDeviceRequest (2, kIOReturnNotResponding);
    EXPECT_EQ (sendLoopbackByte (dev, 0x55), kIOReturnSuccess);
    EXPECT_EQ (sendLoopbackByte (dev, 0xAA), kIOReturnNotResponding);
    EXPECT_EQ (sendLoopbackByte (dev, 0x03), kIOReturnSuccess);
    EXPECT_EQ (sim().loopback(), -1) << "the failed request still reached the device";
    EXPECT_EQ (sim().usbTransfers()[1].status, kIOReturnNotResponding);

    Fault noDescriptor;
    noDescriptor.call = Call::GetConfigurationDescriptorPtr;
    noDescriptor.status = kIOReturnNoResources;
    noDescriptor.times = 1;
    sim().injectFault (noDescriptor);
    EXPECT_EQ (configure (dev), kIOReturnNoResources);
    EXPECT_EQ (configure (dev), kIOReturnSuccess);

    // After a detach the held interface fails with no device.
    sim().detachTarvik();
    EXPECT_EQ (sendLoopbackByte (dev, 0x55), kIOReturnNoDevice);
    (*dev)->USBDeviceClose (dev);
    (*dev)->Release (dev);

    // A plug-in that cannot be created, a device with no configuration.
    UsbDeviceSpec unconfigured;
    unconfigured.numberOfConfigurations = 0;
    sim().attachUsbDevice (unconfigured);
    Fault noPlugIn;
    noPlugIn.call = Call::IOCreatePlugInInterfaceForService;
    noPlugIn.status = kIOReturnUnsupported;
    noPlugIn.times = 1;
    sim().injectFault (noPlugIn);
    EXPECT_EQ (openFirstMatching(), nullptr);

    dev = openFirstMatching();
    ASSERT_NE (dev, nullptr);
    UInt8 count = 9;
    EXPECT_EQ ((*dev)->GetNumberOfConfigurations (dev, &count), kIOReturnSuccess);
    EXPECT_EQ (count, 0);
    (*dev)->Release (dev);
    EXPECT_EQ (sim().liveUsbInterfaces(), 0);
}

TEST_F (SimulationTest, SleepGoesThroughTheReplaceableFunction)
{
    unsigned int slept = 0;
    tarvik::platform::setSleepFunction ([&] (unsigned int seconds) { slept += seconds; });
    for (int i = 0; i < 5; ++i)
        tarvik::platform::sleep (1);
    EXPECT_EQ (slept, 5u);
}
