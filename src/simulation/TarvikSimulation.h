#pragma once

// The simulated TARVIK and its neighbours behind the platform stand-in, with the control
// interface that tests (and the program's own control channel) drive it through.
// Every member may be called from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/EmulatedSystem.h"
#include "simulation/FaultInjection.h"

namespace tarvik::sim
{
/** The maker's USB vendor id. */
constexpr UInt16 kMakerVendorId = 0x2F3D;
constexpr UInt16 kTarvikProductId = 0x0032;
constexpr UInt16 kTarvikReleaseNumber = 0x0104;
constexpr const char* kMakerName = "VYR Zelvatek GmbH";
constexpr const char* kTarvikName = "TARVIK";

/** The device's volume range in decibels; 'volm' maps it linearly onto 0..1. */
constexpr float kMinDecibels = platform::kMinVolumeDecibels;
constexpr float kMaxDecibels = platform::kMaxVolumeDecibels;

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

/** A USB device other than the interface, the TARVIK's unless told otherwise; a missing
    optional leaves its property out. attachUsbDevice ignores firmware. */
struct UsbDeviceSpec : platform::UsbDeviceDescription
{
    UsbDeviceSpec (std::optional<SInt32> vendor = kMakerVendorId, std::optional<SInt32> product = kTarvikProductId,
                   std::optional<std::string> vendorString = std::string (kMakerName),
                   std::optional<std::string> productString = std::string (kTarvikName),
                   UInt16 release = kTarvikReleaseNumber, UInt8 configurations = 1, UInt8 firstConfiguration = 1,
                   std::string ioClass = "IOUSBDevice")
        : platform::UsbDeviceDescription { vendor, product, vendorString, productString, release,
                                           configurations, firstConfiguration, ioClass }
    {
    }
};

/** A CoreAudio device other than the interface, named as the TARVIK unless told otherwise. */
struct AudioDeviceSpec : platform::AudioDeviceDescription
{
    AudioDeviceSpec (std::string deviceName = kTarvikName, std::string maker = kMakerName, std::string deviceUid = {},
                     UInt32 inputs = 1, UInt32 outputs = 1, double rate = 48000.0)
        : platform::AudioDeviceDescription { deviceName, maker, deviceUid, inputs, outputs, rate }
    {
    }
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
using PropertyWrite = platform::PropertyWrite;

/** One DeviceRequest call. */
struct UsbTransfer : platform::UsbTransferRecord
{
    bool toTarvik = false;
};

/** A successful USBDeviceOpen or USBDeviceClose on a device interface, or its last Release. */
struct UsbDeviceEvent : platform::UsbDeviceEventRecord
{
    bool toTarvik = false;
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
