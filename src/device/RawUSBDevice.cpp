#include "device/RawUSBDevice.h"
#include "device/DeviceCallbacks.h"
#include "device/RegistryID.h"

#include <cstdarg>
#include <cstdio>
#include <optional>

IOUSBDeviceInterface** gUSBdevice = nullptr;

namespace
{
IONotificationPortRef gRawNotifyPort = nullptr;
io_iterator_t gRawAddedIter = 0;
io_iterator_t gRawRemovedIter = 0;

// The registry entry of the service behind gUSBdevice, when it could be read.
std::optional<std::uint64_t> gHeldDeviceID;

// The interface is matched by these two ids alone, no names.
constexpr SInt32 kRawVendorID = (SInt32) kVYRUSBVendorID;
constexpr SInt32 kRawProductID = (SInt32) kTarvikUSBProductID;

// SET_CUR to interface 0, host to device, class request.
constexpr UInt8 kLoopbackRequestType = 0x21;
constexpr UInt8 kLoopbackRequest = 0x01;
constexpr UInt16 kLoopbackValue = 0x2000;
constexpr UInt16 kLoopbackIndex = 0x0300;

#if defined(__GNUC__)
__attribute__ ((format (printf, 1, 2)))
#endif
void printLine (const char* format, ...)
{
    // Flushed at once so the lines keep their order with anything else on stdout.
    va_list args;
    va_start (args, format);
    std::vprintf (format, args);
    va_end (args);
    std::fflush (stdout);
}

unsigned int hex (IOReturn status)
{
    return static_cast<unsigned int> (status);
}

void closeAndRelease (IOUSBDeviceInterface** dev)
{
    (*dev)->USBDeviceClose (dev);
    (*dev)->Release (dev);
}

IOReturn ConfigureDevice (IOUSBDeviceInterface** dev)
{
    UInt8 numConfig = 0;

    if ((*dev)->GetNumberOfConfigurations (dev, &numConfig) != kIOReturnSuccess)
        numConfig = 0;

    if (numConfig == 0)
        return -1;

    IOUSBConfigurationDescriptorPtr configDesc = nullptr;
    IOReturn kr = (*dev)->GetConfigurationDescriptorPtr (dev, 0, &configDesc);

    if (kr != kIOReturnSuccess)
    {
        printLine ("Couldn’t get configuration descriptor for index %d (err = %08x)\n", 0, hex (kr));
        return -1;
    }

    kr = (*dev)->SetConfiguration (dev, configDesc->bConfigurationValue);

    if (kr != kIOReturnSuccess)
    {
        printLine ("Couldn’t set configuration to value %d (err = %08x)\n",
                   static_cast<int> (configDesc->bConfigurationValue), hex (kr));
        return -1;
    }

    return kIOReturnSuccess;
}

void addNumber (CFMutableDictionaryRef dict, CFStringRef key, SInt32 value)
{
    CFNumberRef number = CFNumberCreate (kCFAllocatorDefault, kCFNumberSInt32Type, &value);
    CFDictionarySetValue (dict, key, number);
    CFRelease (number);
}

/** USB devices with the TARVIK's two ids; null when the dictionary cannot be made. */
CFMutableDictionaryRef createRawMatching()
{
    CFMutableDictionaryRef matchingDict = IOServiceMatching (kIOUSBDeviceClassName);

    if (matchingDict != nullptr)
    {
        addNumber (matchingDict, CFSTR (kUSBVendorID), kRawVendorID);
        addNumber (matchingDict, CFSTR (kUSBProductID), kRawProductID);
    }

    return matchingDict;
}

void forgetHeldDevice()
{
    if (gUSBdevice != nullptr)
        closeAndRelease (gUSBdevice);

    gUSBdevice = nullptr;
    gHeldDeviceID.reset();
}

/** Opens and configures each matching device the iterator yields; the last one opened is held. */
void openMatchingDevices (io_iterator_t iterator)
{
    while (const io_service_t usbDevice = IOIteratorNext (iterator))
    {
        const auto id = registryID (usbDevice);

        // Already held: a device whose arrival we hear of after it was taken up again.
        if (gUSBdevice != nullptr && id.has_value() && id == gHeldDeviceID)
        {
            IOObjectRelease (usbDevice);
            continue;
        }

        IOCFPlugInInterface** plugInInterface = nullptr;
        IOUSBDeviceInterface** dev = nullptr;
        SInt32 score = 0;

        const kern_return_t kr = IOCreatePlugInInterfaceForService (usbDevice, kIOUSBDeviceUserClientTypeID,
                                                                    kIOCFPlugInInterfaceID, &plugInInterface, &score);
        IOObjectRelease (usbDevice);

        if (kr != kIOReturnSuccess || plugInInterface == nullptr)
        {
            printLine ("Unable to create a plug-in (%08x)\n", hex (kr));
            continue;
        }

        const HRESULT result = (*plugInInterface)->QueryInterface (plugInInterface,
                                                                   CFUUIDGetUUIDBytes (kIOUSBDeviceInterfaceID),
                                                                   reinterpret_cast<LPVOID*> (&dev));
        (*plugInInterface)->Release (plugInInterface);

        if (result != S_OK || dev == nullptr)
        {
            printLine ("Couldn’t create a device interface (%08x)\n", static_cast<unsigned int> (result));
            continue;
        }

        UInt16 vendor = 0, product = 0, release = 0;
        (*dev)->GetDeviceVendor (dev, &vendor);
        (*dev)->GetDeviceProduct (dev, &product);
        (*dev)->GetDeviceReleaseNumber (dev, &release);

        printLine ("device (vendor = %X, product = %X , realse = %X)\n",
                   static_cast<unsigned int> (vendor), static_cast<unsigned int> (product), static_cast<unsigned int> (release));

        if (vendor != kRawVendorID || product != kRawProductID)
        {
            printLine ("Found unwanted device (vendor = %X, product = %X)\n",
                       static_cast<unsigned int> (vendor), static_cast<unsigned int> (product));
            (*dev)->Release (dev);
            continue;
        }

        printLine ("Found device (vendor = %d, product = %d, release = %d)\n",
                   static_cast<int> (vendor), static_cast<int> (product), static_cast<int> (release));

        const IOReturn openStatus = (*dev)->USBDeviceOpen (dev);

        if (openStatus != kIOReturnSuccess)
        {
            printLine ("Unable to open device: %08x\n", hex (openStatus));
            (*dev)->Release (dev);
            continue;
        }

        const IOReturn configStatus = ConfigureDevice (dev);

        if (configStatus != kIOReturnSuccess)
        {
            printLine ("Unable to configure device: %08x\n", hex (configStatus));
            closeAndRelease (dev);
            continue;
        }

        // Only one device is held: a newer one replaces it, so close the old one rather than leak it open.
        if (gUSBdevice != nullptr && gUSBdevice != dev)
            closeAndRelease (gUSBdevice);

        gUSBdevice = dev;
        gHeldDeviceID = id;
    }
}

/** The matching devices registered now, or 0 when the registry cannot be asked. */
io_iterator_t matchingDevicesNow()
{
    const CFMutableDictionaryRef matchingDict = createRawMatching();
    io_iterator_t present = 0;

    if (matchingDict == nullptr || IOServiceGetMatchingServices (kIOMasterPortDefault, matchingDict, &present) != KERN_SUCCESS)
        return 0;

    return present;
}

/** Whether the held device is still registered; true when that cannot be told. */
bool heldDeviceIsPresent()
{
    if (! gHeldDeviceID.has_value())
        return true;

    const io_iterator_t present = matchingDevicesNow();

    if (present == 0)
        return true;

    bool found = false;

    while (const io_service_t service = IOIteratorNext (present))
    {
        found = found || registryID (service) == gHeldDeviceID;
        IOObjectRelease (service);
    }

    IOObjectRelease (present);
    return found;
}

/** Opens a matching device that is registered now, if any, after the held one went. */
void takePresentDevice()
{
    if (const io_iterator_t present = matchingDevicesNow())
    {
        openMatchingDevices (present);
        IOObjectRelease (present);
    }
}
} // namespace

void CloseRawDevice()
{
    forgetHeldDevice();
    RawDeviceRemoved (nullptr, gRawRemovedIter);
}

void RegisterRawDeviceNotifications()
{
    CloseRawDevice();

    mach_port_t masterPort = 0;
    const kern_return_t kr = IOMasterPort (MACH_PORT_NULL, &masterPort);

    if (kr != KERN_SUCCESS || masterPort == 0)
    {
        printLine ("ERR: Couldn’t create a master I/O Kit port(%08x)\n", hex (kr));
        return;
    }

    CFMutableDictionaryRef matchingDict = createRawMatching();

    if (matchingDict == nullptr)
    {
        printLine ("Couldn’t create a USB matching dictionary\n");
        mach_port_deallocate (mach_task_self(), masterPort);
        return;
    }

    gRawNotifyPort = IONotificationPortCreate (masterPort);

    // Without a port nothing can be delivered: register nothing, as without a dictionary.
    if (gRawNotifyPort == nullptr)
    {
        CFRelease (matchingDict);
        mach_port_deallocate (mach_task_self(), masterPort);
        return;
    }

    CFRunLoopAddSource (CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource (gRawNotifyPort), kCFRunLoopDefaultMode);

    // Each registration below consumes one reference of the dictionary.
    CFRetain (matchingDict);

    // Draining an iterator arms its notification; the arrival one also opens a device already attached.
    IOServiceAddMatchingNotification (gRawNotifyPort, kIOTerminatedNotification, matchingDict,
                                      RawDeviceRemoved, nullptr, &gRawRemovedIter);
    RawDeviceRemoved (nullptr, gRawRemovedIter);

    IOServiceAddMatchingNotification (gRawNotifyPort, kIOFirstMatchNotification, matchingDict,
                                      RawDeviceAdded, nullptr, &gRawAddedIter);
    RawDeviceAdded (nullptr, gRawAddedIter);

    mach_port_deallocate (mach_task_self(), masterPort);
}

void RawDeviceAdded (void* /*refCon*/, io_iterator_t iterator)
{
    printLine ("Raw Device Added called....\n");
    openMatchingDevices (iterator);
}

void RawDeviceRemoved (void* /*refCon*/, io_iterator_t iterator)
{
    printLine ("Raw Device Removed called....\n");

    // In a burst of removals and arrivals an older removal can come after the arrival that
    // replaced it: only the held device's own termination lets it go.
    bool anyTerminated = false;
    bool heldTerminated = false;
    bool unknownTerminated = false;

    while (const io_object_t object = IOIteratorNext (iterator))
    {
        const auto id = registryID (object);
        anyTerminated = true;
        heldTerminated = heldTerminated || (id.has_value() && id == gHeldDeviceID);
        unknownTerminated = unknownTerminated || ! id.has_value();

        const kern_return_t kr = IOObjectRelease (object);

        if (kr != kIOReturnSuccess)
            printLine ("Couldn’t release raw device object: %08x\n", hex (kr));
    }

    if (gUSBdevice == nullptr || ! anyTerminated)
        return;

    // With no id of its own to compare, the held device goes at any termination; an object
    // whose id cannot be read takes it along only when it is no longer registered.
    if (heldTerminated || ! gHeldDeviceID.has_value() || (unknownTerminated && ! heldDeviceIsPresent()))
    {
        forgetHeldDevice();

        // A device whose arrival was heard before this removal would otherwise stay unused.
        takePresentDevice();
    }
}

IOReturn ubs_hw_toggleLoopbackMode (unsigned int mode)
{
    if (gUSBdevice == nullptr)
        return kIOReturnNoDevice;

    const UInt8 sequence[] = { 0x55, 0xAA, static_cast<UInt8> (mode + 2) };

    for (const UInt8 byte : sequence)
    {
        UInt8 data = byte;

        IOUSBDevRequest request {};
        request.bmRequestType = kLoopbackRequestType;
        request.bRequest = kLoopbackRequest;
        request.wValue = kLoopbackValue;
        request.wIndex = kLoopbackIndex;
        request.wLength = 1;
        request.pData = &data;

        const IOReturn kr = (*gUSBdevice)->DeviceRequest (gUSBdevice, &request);

        if (kr != kIOReturnSuccess)
        {
            printLine ("WriteToDevice reset returned err 0x%x\n", hex (kr));
            closeAndRelease (gUSBdevice);
            printLine ("Unable to send to device: %08x\n", hex (kr));
            gUSBdevice = nullptr;
            gHeldDeviceID.reset();
            return kr;
        }
    }

    return kIOReturnSuccess;
}
