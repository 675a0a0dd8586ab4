// The raw USB channel against the simulated TARVIK: what it prints, what reaches the
// device's control pipe, and which device interfaces it leaves open.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include "device/RawUSBDevice.h"
#include "simulation/TarvikSimulation.h"
#include "support/MessageLoop.h"
#include "support/StdoutCapture.h"

using namespace tarvik::sim;
using tarvik::test::pumpFor;
using tarvik::test::pumpUntil;
using tarvik::test::StdoutCapture;
using Lines = std::vector<std::string>;

namespace
{
constexpr IOReturn kNoDevice = static_cast<IOReturn> (0xE00002C0);

const std::string removedLine = "Raw Device Removed called....";
const std::string addedLine = "Raw Device Added called....";
const std::string configureLine = "Unable to configure device: ffffffff";

/** The interface let go last was closed before it was released, not dropped while open. */
bool lastReleaseFollowedAClose (const Simulation& simulation)
{
    const auto events = simulation.usbDeviceEvents();
    for (auto e = events.rbegin(); e != events.rend(); ++e)
        if (e->kind == UsbDeviceEvent::Kind::released)
            return ! e->wasOpen
                   && std::any_of (std::next (e), events.rend(),
                                   [] (const UsbDeviceEvent& before) { return before.kind == UsbDeviceEvent::Kind::closed; });
    return false;
}

/** The two lines of a matching device's arrival, with the simulation's ids. */
Lines deviceLines (UInt16 release = kTarvikReleaseNumber)
{
    const auto upper = [] (int v) { return juce::String::toHexString (v).toUpperCase(); };
    return {
        ("device (vendor = " + upper (kMakerVendorId) + ", product = " + upper (kTarvikProductId)
         + " , realse = " + upper (release) + ")").toStdString(),
        ("Found device (vendor = " + juce::String (kMakerVendorId) + ", product = " + juce::String (kTarvikProductId)
         + ", release = " + juce::String (release) + ")").toStdString()
    };
}

Lines concat (std::initializer_list<Lines> parts)
{
    Lines all;
    for (const auto& part : parts)
        all.insert (all.end(), part.begin(), part.end());
    return all;
}

std::vector<int> dataBytes (const std::vector<UsbTransfer>& transfers)
{
    std::vector<int> bytes;
    for (const auto& t : transfers)
        bytes.push_back (t.data.size() == 1 ? t.data[0] : -1);
    return bytes;
}

/** Every transfer must be the loopback request with a one-byte data stage. */
void expectLoopbackRequests (const std::vector<UsbTransfer>& transfers)
{
    for (const auto& t : transfers)
    {
        EXPECT_EQ (t.bmRequestType, 0x21);
        EXPECT_EQ (t.bRequest, 0x01);
        EXPECT_EQ (t.wValue, 0x2000);
        EXPECT_EQ (t.wIndex, 0x0300);
        EXPECT_EQ (t.wLength, 1);
        EXPECT_EQ (t.data.size(), 1u);
    }
}

class RawUSBDevice : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Simulation::get().reset();
        gUSBdevice = nullptr;
    }

    void TearDown() override
    {
        // Give back whatever device the test left held, so tests sharing a process start clean.
        CloseRawDevice();
        sim.reset();
    }

    Simulation& sim = Simulation::get();
    StdoutCapture out;
};
} // namespace

TEST_F (RawUSBDevice, WithoutDeviceStartPrintsTheThreeCallbackLinesAndRequestsFailWithNoDevice)
{
    UsbDeviceSpec otherProduct;
    otherProduct.productId = 0x0033;
    sim.attachUsbDevice (otherProduct);

    RegisterRawDeviceNotifications();

    EXPECT_EQ (out.takeNew(), (Lines { removedLine, removedLine, addedLine }))
        << "the maker's device with another product id must not be handed to the arrival callback";
    EXPECT_EQ (gUSBdevice, nullptr);
    EXPECT_EQ (sim.liveUsbInterfaces(), 0);
    EXPECT_EQ (sim.heldMasterPorts(), 0) << "the master port must be given back";

    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kNoDevice);
    EXPECT_TRUE (sim.usbTransfers().empty());
    EXPECT_TRUE (out.takeNew().empty()) << "a request without a device prints nothing";
}

TEST_F (RawUSBDevice, AttachedDeviceIsOpenedAtStartAndSwitchesLoopbackBothWays)
{
    sim.attachTarvik();
    RegisterRawDeviceNotifications();

    EXPECT_EQ (out.takeNew(), concat ({ { removedLine, removedLine, addedLine }, deviceLines() }));
    ASSERT_NE (gUSBdevice, nullptr);
    EXPECT_EQ (sim.liveUsbInterfaces(), 1) << "only the held device interface may stay alive";

    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kIOReturnSuccess);
    EXPECT_EQ (dataBytes (sim.usbTransfers()), (std::vector<int> { 0x55, 0xAA, 0x03 }));
    EXPECT_EQ (sim.loopback(), 1);

    EXPECT_EQ (ubs_hw_toggleLoopbackMode (0), kIOReturnSuccess);
    EXPECT_EQ (dataBytes (sim.usbTransfers()), (std::vector<int> { 0x55, 0xAA, 0x03, 0x55, 0xAA, 0x02 }));
    EXPECT_EQ (sim.loopback(), 0);

    const auto transfers = sim.usbTransfers();
    expectLoopbackRequests (transfers);
    for (const auto& t : transfers)
        EXPECT_TRUE (t.toTarvik);

    EXPECT_TRUE (out.takeNew().empty()) << "successful requests print nothing";
    ASSERT_NE (gUSBdevice, nullptr) << "the device stays open for the next switch";

    CloseRawDevice();
    EXPECT_EQ (out.takeNew(), (Lines { removedLine }));
    EXPECT_EQ (gUSBdevice, nullptr);
    EXPECT_EQ (sim.liveUsbInterfaces(), 0);
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kNoDevice);
    EXPECT_EQ (sim.usbTransfers().size(), 6u);
}

TEST_F (RawUSBDevice, FailedRequestStopsTheSequenceReportsItsStatusAndForgetsTheDevice)
{
    sim.attachTarvik();
    RegisterRawDeviceNotifications();
    out.takeNew();
    ASSERT_NE (gUSBdevice, nullptr);

    sim.failDeviceRequest (2, static_cast<IOReturn> (0xE000404F));

    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), static_cast<IOReturn> (0xE000404F));
    EXPECT_EQ (dataBytes (sim.usbTransfers()), (std::vector<int> { 0x55, 0xAA })) << "the third request must not be sent";
    EXPECT_EQ (out.takeNew(), (Lines { "WriteToDevice reset returned err 0xe000404f",
                                       "Unable to send to device: e000404f" }));
    EXPECT_EQ (gUSBdevice, nullptr);
    EXPECT_EQ (sim.liveUsbInterfaces(), 0) << "the failed device must be closed and released";
    EXPECT_TRUE (lastReleaseFollowedAClose (sim)) << "the failed device was released while still open";
    EXPECT_EQ (sim.loopback(), -1);

    const auto before = sim.usbTransfers().size();
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kNoDevice);
    EXPECT_EQ (sim.usbTransfers().size(), before);
    EXPECT_TRUE (out.takeNew().empty());
}

TEST_F (RawUSBDevice, OnlyTheTarvikReachesTheCallbacksAndDetachAttachReopensIt)
{
    RegisterRawDeviceNotifications();
    out.takeNew();

    UsbDeviceSpec otherProduct;
    otherProduct.productId = 0x0033;
    const int other = sim.attachUsbDevice (otherProduct);
    UsbDeviceSpec otherMaker;
    otherMaker.vendorId = 0x1234;
    sim.attachUsbDevice (otherMaker);
    pumpFor (200);
    sim.detachUsbDevice (other);
    pumpFor (200);
    EXPECT_TRUE (out.takeNew().empty()) << "devices with other ids must be filtered by the matching";

    sim.attachTarvik();
    ASSERT_TRUE (pumpUntil ([] { return gUSBdevice != nullptr; }, 3000));
    EXPECT_EQ (out.takeNew(), concat ({ { addedLine }, deviceLines() }));
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kIOReturnSuccess);

    sim.detachTarvik();
    ASSERT_TRUE (pumpUntil ([] { return gUSBdevice == nullptr; }, 3000));
    pumpFor (100);
    EXPECT_EQ (out.takeNew(), (Lines { removedLine })) << "a detach prints its line once";
    EXPECT_EQ (sim.liveUsbInterfaces(), 0);
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kNoDevice);

    sim.attachTarvik();
    ASSERT_TRUE (pumpUntil ([] { return gUSBdevice != nullptr; }, 3000));
    EXPECT_EQ (out.takeNew(), concat ({ { addedLine }, deviceLines() }));
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (0), kIOReturnSuccess);
    EXPECT_EQ (dataBytes (sim.usbTransfers()), (std::vector<int> { 0x55, 0xAA, 0x03, 0x55, 0xAA, 0x02 }));
    EXPECT_EQ (sim.loopback(), 0);

    // A terminated object that cannot be released is reported; the device is still forgotten.
    Fault busy;
    busy.call = Call::IOObjectRelease;
    busy.status = static_cast<IOReturn> (0xE00002D5);
    sim.injectFault (busy);
    sim.detachTarvik();
    ASSERT_TRUE (pumpUntil ([] { return gUSBdevice == nullptr; }, 3000));
    pumpFor (100);
    EXPECT_EQ (out.takeNew(), (Lines { removedLine, "Couldn’t release raw device object: e00002d5" }));
    EXPECT_EQ (sim.liveUsbInterfaces(), 0);
}

TEST_F (RawUSBDevice, ConfigurationFailuresPrintTheirLinesAndLeaveNoDeviceOpen)
{
    RegisterRawDeviceNotifications();
    out.takeNew();

    // Each case arrives as a hot-plugged matching device, is refused and then unplugged again.
    const auto arriveAndRefuse = [&] (const UsbDeviceSpec& usbDevice, const Lines& errorLines) {
        const int id = sim.attachUsbDevice (usbDevice);
        const auto expected = concat ({ { addedLine }, deviceLines(), errorLines });
        ASSERT_TRUE (pumpUntil ([&] { return out.takeNew() == expected; }, 3000))
            << "expected the refusal lines for this device";
        EXPECT_EQ (gUSBdevice, nullptr);
        EXPECT_EQ (sim.liveUsbInterfaces(), 0) << "a refused device must be closed and released";
        EXPECT_TRUE (lastReleaseFollowedAClose (sim)) << "a refused device was released while still open";
        sim.clearFaults();
        sim.detachUsbDevice (id);
        ASSERT_TRUE (pumpUntil ([&] { return out.takeNew() == Lines { removedLine }; }, 3000));
    };

    UsbDeviceSpec noConfigurations;
    noConfigurations.numberOfConfigurations = 0;
    arriveAndRefuse (noConfigurations, { configureLine });

    Fault unreadable;
    unreadable.call = Call::GetConfigurationDescriptorPtr;
    unreadable.status = static_cast<IOReturn> (0xE00002BC);
    sim.injectFault (unreadable);
    arriveAndRefuse (UsbDeviceSpec {},
                     { "Couldn’t get configuration descriptor for index 0 (err = e00002bc)", configureLine });

    // The value set is the descriptor's own bConfigurationValue.
    UsbDeviceSpec configurationSeven;
    configurationSeven.configurationValue = 7;
    Fault refused;
    refused.call = Call::SetConfiguration;
    refused.status = static_cast<IOReturn> (0xE00002C2);
    sim.injectFault (refused);
    arriveAndRefuse (configurationSeven,
                     { "Couldn’t set configuration to value 7 (err = e00002c2)", configureLine });

    sim.attachUsbDevice (configurationSeven);
    ASSERT_TRUE (pumpUntil ([] { return gUSBdevice != nullptr; }, 3000));
    EXPECT_EQ (out.takeNew(), concat ({ { addedLine }, deviceLines() }));
    EXPECT_EQ (sim.liveUsbInterfaces(), 1);
}

TEST_F (RawUSBDevice, SecondMatchingDeviceReplacesTheHeldOneWithoutLeakingIt)
{
    sim.attachTarvik();
    RegisterRawDeviceNotifications();
    out.takeNew();
    auto* const first = gUSBdevice;
    ASSERT_NE (first, nullptr);

    sim.attachUsbDevice (UsbDeviceSpec {});
    ASSERT_TRUE (pumpUntil ([&] { return gUSBdevice != first && gUSBdevice != nullptr; }, 3000));
    EXPECT_EQ (out.takeNew(), concat ({ { addedLine }, deviceLines() }));
    EXPECT_EQ (sim.liveUsbInterfaces(), 1) << "the device held before must be closed and released";

    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kIOReturnSuccess);
    const auto transfers = sim.usbTransfers();
    ASSERT_EQ (transfers.size(), 3u);
    for (const auto& t : transfers)
        EXPECT_FALSE (t.toTarvik) << "requests go to the newest device";
}

TEST_F (RawUSBDevice, OnlyTheHeldDevicesOwnTerminationLetsItGoAndAPresentOneIsTakenAgain)
{
    sim.attachTarvik();
    RegisterRawDeviceNotifications();
    const int other = sim.attachUsbDevice (UsbDeviceSpec {});
    ASSERT_TRUE (pumpUntil ([&] { return sim.liveUsbInterfaces() == 1 && out.takeNew().size() == 3; }, 3000));
    auto* const held = gUSBdevice;

    // The device replaced earlier goes: the one held now stays.
    sim.detachTarvik();
    pumpFor (200);
    EXPECT_EQ (out.takeNew(), (Lines { removedLine }));
    EXPECT_EQ (gUSBdevice, held);
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kIOReturnSuccess);

    // A newer arrival replaces it; when that one goes, the one still attached is taken up again.
    sim.attachTarvik();
    ASSERT_TRUE (pumpUntil ([&] { return gUSBdevice != held && gUSBdevice != nullptr; }, 3000));
    out.takeNew();
    sim.detachTarvik();
    ASSERT_TRUE (pumpUntil ([&] { return out.takeNew() == concat ({ { removedLine }, deviceLines() }); }, 3000));
    ASSERT_NE (gUSBdevice, nullptr);
    EXPECT_EQ (sim.liveUsbInterfaces(), 1);

    const auto before = sim.usbTransfers().size();
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (0), kIOReturnSuccess);
    const auto transfers = sim.usbTransfers();
    ASSERT_EQ (transfers.size(), before + 3);
    EXPECT_FALSE (transfers.back().toTarvik) << "the request goes to the device still attached";

    sim.detachUsbDevice (other);
    ASSERT_TRUE (pumpUntil ([] { return gUSBdevice == nullptr; }, 3000));
    EXPECT_EQ (sim.liveUsbInterfaces(), 0);
}

TEST_F (RawUSBDevice, ASecondArrivalOfTheHeldDeviceKeepsItAndReleasesTheService)
{
    sim.attachTarvik();
    RegisterRawDeviceNotifications();
    out.takeNew();
    auto* const held = gUSBdevice;
    ASSERT_NE (held, nullptr);

    // The same registry entry handed to the arrival callback once more.
    io_iterator_t again = 0;
    ASSERT_EQ (IOServiceGetMatchingServices (kIOMasterPortDefault, IOServiceMatching (kIOUSBDeviceClassName), &again), KERN_SUCCESS);
    RawDeviceAdded (nullptr, again);
    IOObjectRelease (again);

    EXPECT_EQ (out.takeNew(), (Lines { addedLine })) << "the held device was opened again";
    EXPECT_EQ (gUSBdevice, held);
    EXPECT_EQ (sim.liveUsbInterfaces(), 1);
    EXPECT_EQ (sim.heldServiceReferences(), 0) << "the service of the second arrival was kept";
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kIOReturnSuccess);
    EXPECT_EQ (sim.loopback(), 1);
}

TEST_F (RawUSBDevice, HeldWithoutARegistryIdTheDeviceGoesAtAnyTerminationAndAPresentOneIsTaken)
{
    Fault unreadable;
    unreadable.call = Call::IORegistryEntryGetRegistryEntryID;
    unreadable.status = static_cast<IOReturn> (0xE00002F0);
    sim.injectFault (unreadable);
    sim.attachTarvik();
    sim.attachUsbDevice (UsbDeviceSpec {});

    RegisterRawDeviceNotifications();
    EXPECT_EQ (out.takeNew(), concat ({ { removedLine, removedLine, addedLine }, deviceLines(), deviceLines() }));
    auto* const held = gUSBdevice;
    ASSERT_NE (held, nullptr);
    EXPECT_EQ (sim.liveUsbInterfaces(), 1);

    // The TARVIK, replaced at start, goes: which one went cannot be told, so the held one is
    // let go and the one still registered opened afresh.
    sim.detachTarvik();
    ASSERT_TRUE (pumpUntil ([&] { return gUSBdevice != held && gUSBdevice != nullptr; }, 3000)) << "the held device stayed";
    EXPECT_EQ (out.takeNew(), concat ({ { removedLine }, deviceLines() }));
    EXPECT_EQ (sim.liveUsbInterfaces(), 1);
    EXPECT_EQ (sim.heldServiceReferences(), 0);

    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kIOReturnSuccess);
    const auto transfers = sim.usbTransfers();
    ASSERT_EQ (transfers.size(), 3u);
    EXPECT_FALSE (transfers.back().toTarvik) << "the request goes to the device still attached";
}

TEST_F (RawUSBDevice, ATerminationWhoseIdCannotBeReadLetsTheHeldDeviceGoOnlyOnceItIsUnregistered)
{
    sim.attachTarvik();
    const int other = sim.attachUsbDevice (UsbDeviceSpec {});
    RegisterRawDeviceNotifications();
    out.takeNew();
    auto* const held = gUSBdevice;
    ASSERT_NE (held, nullptr);

    // The replaced TARVIK goes, its id unreadable at the removal alone: the held device is
    // still registered and stays as it is.
    Fault once;
    once.call = Call::IORegistryEntryGetRegistryEntryID;
    once.status = static_cast<IOReturn> (0xE00002F0);
    once.times = 1;
    sim.injectFault (once);
    sim.detachTarvik();
    ASSERT_TRUE (pumpUntil ([&] { return out.takeNew() == Lines { removedLine }; }, 3000));
    pumpFor (100);
    EXPECT_TRUE (out.takeNew().empty()) << "the held device was let go and opened again";
    EXPECT_EQ (gUSBdevice, held);
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kIOReturnSuccess);

    // The held device goes with no id readable at all: it is no longer registered, so it goes.
    sim.clearFaults();
    Fault always = once;
    always.times = -1;
    sim.injectFault (always);
    sim.detachUsbDevice (other);
    ASSERT_TRUE (pumpUntil ([] { return gUSBdevice == nullptr; }, 3000)) << "a device no longer registered stayed held";
    EXPECT_EQ (sim.liveUsbInterfaces(), 0);
    EXPECT_TRUE (lastReleaseFollowedAClose (sim));
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kNoDevice);
}

TEST_F (RawUSBDevice, NoMasterPortRegistersNothing)
{
    Fault noPort;
    noPort.call = Call::IOMasterPort;
    noPort.status = static_cast<IOReturn> (0xE00002BD);
    sim.injectFault (noPort);
    sim.attachTarvik();

    RegisterRawDeviceNotifications();
    EXPECT_EQ (out.takeNew(), (Lines { removedLine, "ERR: Couldn’t create a master I/O Kit port(e00002bd)" }));
    EXPECT_EQ (gUSBdevice, nullptr) << "the attached device must stay unopened";

    sim.clearFaults();
    sim.detachTarvik();
    sim.attachTarvik();
    pumpFor (200);
    EXPECT_TRUE (out.takeNew().empty()) << "no notification may be registered";
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kNoDevice);
}

TEST_F (RawUSBDevice, NoMatchingDictionaryGivesTheMasterPortBack)
{
    Fault noDictionary;
    noDictionary.call = Call::IOServiceMatching;
    sim.injectFault (noDictionary);
    sim.attachTarvik();

    RegisterRawDeviceNotifications();
    EXPECT_EQ (out.takeNew(), (Lines { removedLine, "Couldn’t create a USB matching dictionary" }));
    EXPECT_EQ (gUSBdevice, nullptr);
    EXPECT_EQ (sim.heldMasterPorts(), 0);
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kNoDevice);
}

/** A failure of one service's plug-in, device interface or open: its lines, then the next service. */
struct ServiceFailure
{
    const char* name;
    Call call;
    IOReturn status;
    Lines lines;
    bool reachesDeviceLines;
};

// Keeps the generated test names readable and stable.
static void PrintTo (const ServiceFailure& failure, std::ostream* os)
{
    *os << failure.name;
}

class RawUSBServiceFailure : public RawUSBDevice, public ::testing::WithParamInterface<ServiceFailure>
{
};

TEST_P (RawUSBServiceFailure, PrintsItsLineAndSkipsOnlyThatService)
{
    const auto& failure = GetParam();

    // Two matching devices present at start: the first fails, the second must still be taken.
    sim.attachUsbDevice (UsbDeviceSpec {});
    sim.attachUsbDevice (UsbDeviceSpec {});
    Fault once;
    once.call = failure.call;
    once.status = failure.status;
    once.times = 1;
    sim.injectFault (once);

    RegisterRawDeviceNotifications();

    const auto firstLines = failure.reachesDeviceLines ? concat ({ deviceLines(), failure.lines }) : failure.lines;
    EXPECT_EQ (out.takeNew(), concat ({ { removedLine, removedLine, addedLine }, firstLines, deviceLines() }));
    ASSERT_NE (gUSBdevice, nullptr) << "the second service must still be opened";
    EXPECT_EQ (sim.liveUsbInterfaces(), 1) << "the failed service must leave nothing alive";
    EXPECT_EQ (sim.heldServiceReferences(), 0) << "every service taken from the iterator must be released";
    EXPECT_EQ (ubs_hw_toggleLoopbackMode (1), kIOReturnSuccess);

    CloseRawDevice();
    EXPECT_EQ (out.takeNew(), (Lines { removedLine }));
    EXPECT_EQ (gUSBdevice, nullptr);
    EXPECT_EQ (sim.liveUsbInterfaces(), 0);
}

static std::string failureName (const ::testing::TestParamInfo<ServiceFailure>& param)
{
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P (
    Failures, RawUSBServiceFailure,
    ::testing::Values (
        ServiceFailure { "PlugIn", Call::IOCreatePlugInInterfaceForService, static_cast<IOReturn> (0xE00002BE),
                         { "Unable to create a plug-in (e00002be)" }, false },
        ServiceFailure { "DeviceInterface", Call::QueryInterface, static_cast<IOReturn> (0x80000004),
                         { "Couldn’t create a device interface (80000004)" }, false },
        ServiceFailure { "Open", Call::USBDeviceOpen, static_cast<IOReturn> (0xE00002C5),
                         { "Unable to open device: e00002c5" }, true }),
    failureName);
