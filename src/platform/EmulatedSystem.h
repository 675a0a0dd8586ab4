#pragma once

// The emulated system as whatever stands behind the stand-in drives it: devices plugged in
// and out, properties changed as another program would, power messages posted, the logs the
// stand-in keeps, and a reset. Every function may be called from any thread, but not from
// within a Backend call.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/CoreAudio.h"
#include "platform/IOKit.h"

namespace tarvik::platform
{
/** The range of every emulated audio device's volume control; 'volm' maps it linearly onto 0..1. */
constexpr float kMinVolumeDecibels = -127.0f;
constexpr float kMaxVolumeDecibels = 0.0f;

/** A USB device as the registry shows it; a missing optional leaves its property out. The
    fields keep their order: callers fill them by position. */
struct UsbDeviceDescription
{
    std::optional<SInt32> vendorId;
    std::optional<SInt32> productId;
    std::optional<std::string> vendorName;
    std::optional<std::string> productName;
    UInt16 releaseNumber = 0;
    UInt8 numberOfConfigurations = 1;
    UInt8 configurationValue = 1;
    std::string className = "IOUSBDevice";
    /** The backend's firmware that answers its device requests; 0: every request succeeds. */
    int firmware = 0;
};

/** A CoreAudio device. */
struct AudioDeviceDescription
{
    std::string name;
    std::string manufacturer;
    std::string uid;                 ///< made up when empty
    UInt32 inputStreams = 1;
    UInt32 outputStreams = 1;
    double sampleRate = 48000.0;
};

/** One AudioObjectSetPropertyData call, or a change made as another program. */
struct PropertyWrite
{
    AudioObjectID object = 0;
    AudioObjectPropertyAddress address {};
    std::vector<UInt8> data;
    OSStatus status = 0;
    bool external = false; ///< made through setPropertyAsOtherProgram, not the stand-in call
};

/** One DeviceRequest call. */
struct UsbTransferRecord
{
    UInt8 bmRequestType = 0;
    UInt8 bRequest = 0;
    UInt16 wValue = 0;
    UInt16 wIndex = 0;
    UInt16 wLength = 0;
    std::vector<UInt8> data; ///< the host-to-device data stage
    IOReturn status = 0;
    int firmware = 0;        ///< the device's UsbDeviceDescription::firmware
};

/** A successful USBDeviceOpen or USBDeviceClose on a device interface, or its last Release. */
struct UsbDeviceEventRecord
{
    enum class Kind
    {
        opened,
        closed,
        released
    };

    Kind kind = Kind::opened;
    int device = 0;        ///< the id plugIn gave the USB device
    int firmware = 0;      ///< the device's UsbDeviceDescription::firmware
    bool wasOpen = false;  ///< for released: the interface was still open when let go
};

namespace emulated
{
/** Devices that come or go together, as one piece of hardware: audio devices first, then the USB device. */
struct Hardware
{
    std::vector<AudioDeviceDescription> audio;
    /** The audio devices show in 'dev#' only after this many more reads of the device list. */
    int enumerationsBeforeAudio = 0;
    std::optional<UsbDeviceDescription> usb;
};

/** What plugIn added: the audio devices in the order given, and the USB device's id (0 for none). */
struct Plugged
{
    std::vector<AudioObjectID> audio;
    int usb = 0;
};

Plugged plugIn (const Hardware& hardware);
/** Removes the audio devices, then the USB device, of what plugIn returned; unknown ids are skipped. */
void unplug (const Plugged& plugged);

/** Whether an audio device is present and shows in the device list. */
bool isListed (AudioObjectID device);

/** A present audio device's volumes (dB), mutes and rate; indexes [0 input, 1 output][channel - 1]. */
struct AudioDeviceLevels
{
    float volumeDb[2][2] {};
    bool muted[2][2] {};
    double rate = 0.0;
};
std::optional<AudioDeviceLevels> levels (AudioObjectID device);

/** Writes a property as another program would: logged as external, listeners fire. */
OSStatus setPropertyAsOtherProgram (AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    const void* data, UInt32 size);

/** A rate change then takes effect this much later, on the notification thread. */
void setRateChangeDelay (int milliseconds);

/** Whether a property address pattern (wildcards allowed) covers an address. */
bool addressMatches (const AudioObjectPropertyAddress& pattern, const AudioObjectPropertyAddress& address);

// ---- Power -------------------------------------------------------------------------------------
/** Posts the message to every power registration; returns its notification id, the
    messageArgument the callback receives. */
intptr_t postPowerMessage (natural_t messageType);
bool wasPowerChangeAllowed (intptr_t notificationId);
int powerRegistrations();

// ---- Logs (the most recent entries) and counts -------------------------------------------------
std::vector<PropertyWrite> propertyWrites();
std::vector<UsbTransferRecord> usbTransfers();
std::vector<UsbDeviceEventRecord> usbDeviceEvents();
int deviceListReads();
/** CoreFoundation objects alive, not counting immortal constants. */
int liveCFObjects();
/** References to USB services that callers hold. */
int heldServiceReferences();
/** Plug-in and device interfaces not yet released. */
int liveUsbInterfaces();
/** Master ports not yet given back. */
int heldMasterPorts();

/** Drops every device, registration, listener, log and pending delivery, and restores the
    real sleep. */
void reset();
} // namespace emulated
} // namespace tarvik::platform
