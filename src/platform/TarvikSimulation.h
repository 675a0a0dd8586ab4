#pragma once

// The simulated TARVIK and its neighbours behind the platform stand-in, with the control
// interface that tests (and the program's own control channel) drive it through.
// Every member may be called from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/CoreAudio.h"
#include "platform/FaultInjection.h"
#include "platform/IOKit.h"

namespace tarvik::sim
{
/** The maker's USB vendor id. */
constexpr UInt16 kMakerVendorId = 0x2F3D;
constexpr UInt16 kTarvikProductId = 0x0032;
constexpr UInt16 kTarvikReleaseNumber = 0x0104;
constexpr const char* kMakerName = "VYR Zelvatek GmbH";
constexpr const char* kTarvikName = "TARVIK";

/** The device's volume range in decibels; 'volm' maps it linearly onto 0..1. */
constexpr float kMinDecibels = -127.0f;
constexpr float kMaxDecibels = 0.0f;

enum class Side
{
    input,
    output
};

/** How the interface publishes itself to CoreAudio. */
enum class Arrangement
{
    oneDevice,  ///< one device with streams in both directions
    twoDevices  ///< one input-only and one output-only device
};

struct TarvikOptions
{
    Arrangement arrangement = Arrangement::oneDevice;
    bool withUsb = true;
    bool withAudio = true;
    /** The CoreAudio sides show in 'dev#' only after this many reads of the device list. */
    int enumerationsBeforeAudio = 0;
    double sampleRate = 48000.0;
};

/** A USB device other than the interface; a missing optional leaves its property out. */
struct UsbDeviceSpec
{
    std::optional<SInt32> vendorId = kMakerVendorId;
    std::optional<SInt32> productId = kTarvikProductId;
    std::optional<std::string> vendorName = std::string (kMakerName);
    std::optional<std::string> productName = std::string (kTarvikName);
    UInt16 releaseNumber = kTarvikReleaseNumber;
    UInt8 numberOfConfigurations = 1;
    UInt8 configurationValue = 1;
    std::string className = "IOUSBDevice";
};

/** A CoreAudio device other than the interface. */
struct AudioDeviceSpec
{
    std::string name = kTarvikName;
    std::string manufacturer = kMakerName;
    std::string uid;                 ///< made up when empty
    UInt32 inputStreams = 1;
    UInt32 outputStreams = 1;
    double sampleRate = 48000.0;
};

struct ChannelState
{
    float volumeDb = 0.0f;
    bool muted = false;
};

/** The interface's state as the device holds it. */
struct TarvikState
{
    bool attached = false;
    ChannelState in[2], out[2];
    double inRate = 0.0, outRate = 0.0;
    int loopback = -1; ///< -1 until switched once, then 0 off or 1 on
    int transfers = 0; ///< control transfers the device received
};

/** One AudioObjectSetPropertyData call, or a change made as another program. */
struct PropertyWrite
{
    AudioObjectID object = 0;
    AudioObjectPropertyAddress address {};
    std::vector<UInt8> data;
    OSStatus status = 0;
    bool external = false; ///< made through this control interface, not the stand-in call
};

/** One DeviceRequest call. */
struct UsbTransfer
{
    UInt8 bmRequestType = 0;
    UInt8 bRequest = 0;
    UInt16 wValue = 0;
    UInt16 wIndex = 0;
    UInt16 wLength = 0;
    std::vector<UInt8> data; ///< the host-to-device data stage
    IOReturn status = 0;
    bool toTarvik = false;
};

/** A successful USBDeviceOpen or USBDeviceClose on a device interface, or its last Release. */
struct UsbDeviceEvent
{
    enum class Kind
    {
        opened,
        closed,
        released
    };

    Kind kind = Kind::opened;
    int device = 0;        ///< the USB device (attachUsbDevice's id; the interface has its own)
    bool toTarvik = false;
    bool wasOpen = false;  ///< for released: the interface was still open when let go
};

class Simulation final
{
public:
    static Simulation& get();

    /** Drops every device, registration, listener, fault, log and pending delivery, and
        restores the real sleep; for test isolation. */
    void reset();

    /** Attaches the interface unless TARVIK_SIM_ATTACHED=0; the program calls this at start. */
    void startFromEnvironment();

    // ---- The interface ------------------------------------------------------------------
    void attachTarvik (const TarvikOptions& options = {});
    void detachTarvik();
    bool isTarvikAttached() const;
    /** The CoreAudio object of a side, 0 while not attached or not yet enumerated. */
    AudioObjectID tarvikAudioObject (Side side) const;

    // ---- Other devices ------------------------------------------------------------------
    /** Returns an id for detachUsbDevice. */
    int attachUsbDevice (const UsbDeviceSpec& description);
    void detachUsbDevice (int id);
    AudioObjectID attachAudioDevice (const AudioDeviceSpec& description);
    void detachAudioDevice (AudioObjectID object);

    // ---- Changes made as another program (listeners fire) -------------------------------
    OSStatus setVolumeDb (Side side, int channel, float decibels);
    OSStatus setMute (Side side, int channel, bool muted);
    OSStatus setNominalRate (Side side, double rate);
    OSStatus setProperty (AudioObjectID object, const AudioObjectPropertyAddress& address,
                          const void* data, UInt32 size);

    /** A rate change then takes effect this much later, on the notification thread. */
    void setRateChangeDelay (int milliseconds);

    // ---- Faults -------------------------------------------------------------------------
    void injectFault (const Fault& fault);
    /** Fails the position-th DeviceRequest from now on (1 = the next one), once. */
    void failDeviceRequest (int position, IOReturn status);
    /** Fails every access of one property address (wildcards allowed) until cleared. */
    void failProperty (const AudioObjectPropertyAddress& address, OSStatus status,
                       Call call = Call::AnyPropertyAccess, AudioObjectID object = kAudioObjectUnknown);
    void clearFaults();

    // ---- Power --------------------------------------------------------------------------
    /** Posts the message to every power registration; returns its notification id, the
        messageArgument the callback receives. */
    intptr_t sendPowerMessage (natural_t messageType);
    bool wasPowerChangeAllowed (intptr_t notificationId) const;
    int powerRegistrations() const;

    // ---- State and logs -----------------------------------------------------------------
    TarvikState state() const;
    /** -1 until switched once, then 0 or 1. */
    int loopback() const;
    std::vector<PropertyWrite> propertyWrites() const;
    std::vector<UsbTransfer> usbTransfers() const;
    /** Opens, closes and releases of USB device interfaces, in order. */
    std::vector<UsbDeviceEvent> usbDeviceEvents() const;
    int deviceListReads() const;

    // ---- Ownership checks -------------------------------------------------------------------
    /** CoreFoundation objects alive, not counting immortal constants. */
    int liveCFObjects() const;
    /** References to services that callers hold. */
    int heldServiceReferences() const;
    /** Plug-in and device interfaces not yet released. */
    int liveUsbInterfaces() const;
    /** Master ports not yet given back. */
    int heldMasterPorts() const;

private:
    Simulation() = default;
};
} // namespace tarvik::sim
