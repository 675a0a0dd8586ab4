#pragma once

// The one way the stand-in reaches what stands behind it (the simulated devices): it asks
// whether a call is to fail, and what a device's firmware answers a USB device request.
// Whatever stands behind it implements Backend and installs it; without one nothing fails
// and every USB device request to an open, attached device succeeds.

#include "platform/CoreAudio.h"
#include "platform/IOUSB.h"

namespace tarvik::platform
{
/** The stand-in calls a backend can make fail. */
enum class Call
{
    IOMasterPort,
    IOServiceMatching,              // returns null
    IONotificationPortCreate,       // returns null
    IOServiceAddMatchingNotification,
    IOServiceGetMatchingServices,
    IORegistryEntryCreateCFProperties,
    IORegistryEntryGetRegistryEntryID,
    IOObjectRelease,
    IORegisterForSystemPower,       // returns 0
    IOAllowPowerChange,
    mach_port_deallocate,
    CFStringCreateWithCString,      // returns null
    IOCreatePlugInInterfaceForService,
    QueryInterface,
    USBDeviceOpen,
    USBDeviceClose,
    GetDeviceVendor,
    GetDeviceProduct,
    GetDeviceReleaseNumber,
    GetNumberOfConfigurations,
    GetConfigurationDescriptorPtr,
    SetConfiguration,
    DeviceRequest,
    AudioObjectGetPropertyDataSize,
    AudioObjectGetPropertyData,
    AudioObjectSetPropertyData,
    AudioObjectAddPropertyListener,
    AnyPropertyAccess               // matches the size, read and write calls
};

class Backend
{
public:
    virtual ~Backend() = default;

    /** The status this call is to fail with instead of running, or 0 to run it. The property
        calls give their object and address; the others give 0 and null. Called from any
        thread, without the stand-in's lock. */
    virtual OSStatus failureFor (Call call, AudioObjectID object, const AudioObjectPropertyAddress* address) = 0;

    /** What a device's firmware (the non-zero UsbDeviceDescription::firmware it was plugged in
        with) answers a request on its default pipe; asked only for an open, attached device
        and a request not made to fail. Called with the stand-in's lock held: it must not call
        the stand-in. */
    virtual IOReturn deviceRequest (int firmware, const IOUSBDevRequest& request) = 0;
};

/** Installs the backend, or none with null; it must stay alive while installed. */
void setBackend (Backend* backend);
} // namespace tarvik::platform
