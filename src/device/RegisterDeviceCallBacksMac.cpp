#include "device/RegisterDeviceCallBacksMac.h"

#include "device/DeviceProperties.h"
#include "device/RegistryID.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>

io_connect_t root_port = 0;
mach_port_t gMasterDevicePort = 0;
IONotificationPortRef gNotifyPort = nullptr;
CFRunLoopSourceRef gRunLoopSource = nullptr;

namespace
{
constexpr int maxBindAttempts = 5;

// A nominal-rate change to one of these is worth telling the panel about.
constexpr Float64 listenerRates[] = { 32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0 };

/** Releases a CoreFoundation object it was given, if any. */
struct ScopedCFRelease
{
    explicit ScopedCFRelease (CFTypeRef objectToRelease = nullptr) : object (objectToRelease) {}
    ~ScopedCFRelease()
    {
        if (object != nullptr)
            CFRelease (object);
    }

    CFTypeRef object;

    ScopedCFRelease (const ScopedCFRelease&) = delete;
    ScopedCFRelease& operator= (const ScopedCFRelease&) = delete;
};

struct FreeDeleter
{
    void operator() (void* block) const { std::free (block); }
};

template <typename Type>
using MallocPtr = std::unique_ptr<Type, FreeDeleter>;

juce::String stringFromCF (CFStringRef cfString)
{
    if (cfString == nullptr)
        return {};

    const auto maxBytes = CFStringGetMaximumSizeForEncoding (CFStringGetLength (cfString), kCFStringEncodingUTF8) + 1;
    juce::HeapBlock<char> utf8 ((size_t) maxBytes, true);

    if (! CFStringGetCString (cfString, utf8, maxBytes, kCFStringEncodingUTF8))
        return {};

    return juce::String::fromUTF8 (utf8);
}

/** The string under the key, or an empty string when there is none. */
juce::String registryString (CFDictionaryRef properties, CFStringRef key)
{
    const auto value = CFDictionaryGetValue (properties, key);

    if (value == nullptr || CFGetTypeID (value) != CFStringGetTypeID())
        return {};

    return stringFromCF (static_cast<CFStringRef> (value));
}

/** The number under the key; nothing when it is missing, not a number or out of range. */
std::optional<SInt32> registryNumber (CFDictionaryRef properties, CFStringRef key)
{
    const auto value = CFDictionaryGetValue (properties, key);

    if (value == nullptr || CFGetTypeID (value) != CFNumberGetTypeID())
        return std::nullopt;

    SInt32 number = 0;

    if (! CFNumberGetValue (static_cast<CFNumberRef> (value), kCFNumberSInt32Type, &number))
        return std::nullopt;

    return number;
}

bool idMatches (std::optional<SInt32> id, std::uint32_t wanted)
{
    return id.has_value() && static_cast<std::uint32_t> (*id) == wanted;
}

/** True when the USB service is the TARVIK: product id, vendor id, vendor name and
    product name, in that order, the names compared whole and with case.
*/
bool isWantedUSBDevice (const DeviceCallbackStruct& device, io_service_t service)
{
    CFMutableDictionaryRef properties = nullptr;

    if (IORegistryEntryCreateCFProperties (service, &properties, kCFAllocatorDefault, 0) != KERN_SUCCESS
        || properties == nullptr)
        return false;

    const ScopedCFRelease releaseProperties (properties);

    const auto vendorName = registryString (properties, CFSTR ("USB Vendor Name"));
    const auto productName = registryString (properties, CFSTR ("USB Product Name"));
    const auto productId = registryNumber (properties, CFSTR ("idProduct"));
    const auto vendorId = registryNumber (properties, CFSTR ("idVendor"));

    return idMatches (productId, device.productId)
        && idMatches (vendorId, device.vendorId)
        && vendorName == juce::String::fromUTF8 (device.vendorName)
        && productName == juce::String::fromUTF8 (device.usbProductName);
}

using RegistryIDs = std::set<std::uint64_t>;

/** The TARVIK services whose arrival was reported and whose removal was not yet acted on.
    Message thread only.
*/
RegistryIDs reportedServices;

/** The sink has heard of a removal since the last bind was tried, so it holds no ids that
    another removal would have to clear. Message thread only.
*/
bool removalReported = false;

void reportRemoval (void* refcon)
{
    reportedServices.clear();
    removalReported = true;
    SendDeviceEvent (refcon, EventDeviceRemoved);
}

/** The TARVIK services registered now, through the same filter as the callbacks; nothing
    when the registry cannot be asked.

    A flaky cable or a resetting hub sends bursts of removals and arrivals, and the two
    notifications are drained in batches of their own, so an older removal can reach us after
    a newer arrival. Asking what is there now gives each of them its net effect.
*/
std::optional<RegistryIDs> presentServices (const DeviceCallbackStruct& device)
{
    const CFMutableDictionaryRef matching = IOServiceMatching (kIOUSBDeviceClassName);

    if (matching == nullptr)
        return std::nullopt;

    io_iterator_t services = 0;

    if (IOServiceGetMatchingServices (gMasterDevicePort, matching, &services) != KERN_SUCCESS)
        return std::nullopt;

    RegistryIDs present;

    while (const io_service_t service = IOIteratorNext (services))
    {
        if (isWantedUSBDevice (device, service))
            if (const auto id = registryID (service))
                present.insert (*id);

        IOObjectRelease (service);
    }

    IOObjectRelease (services);
    return present;
}

bool isPresent (const std::optional<RegistryIDs>& present, std::optional<std::uint64_t> id)
{
    // When either is unknown, the service is taken to be there, as the notification says.
    return ! present.has_value() || ! id.has_value() || present->count (*id) != 0;
}

/** Forgets the reported services that are gone; returns whether any was. */
bool forgetVanishedServices (const RegistryIDs& present)
{
    const auto reportedBefore = reportedServices.size();

    for (auto it = reportedServices.begin(); it != reportedServices.end();)
        it = present.count (*it) != 0 ? std::next (it) : reportedServices.erase (it);

    return reportedServices.size() != reportedBefore;
}

/** Binds the CoreAudio sides, waiting for them to appear, and reports the arrival. An
    arrival whose service has gone again by now is out of date and passed over: its removal
    is on its way, and binding it would only write the panel's state back once more.
*/
void bindArrivedDevice (void* refcon, io_service_t service)
{
    const auto& device = *static_cast<const DeviceCallbackStruct*> (refcon);
    const auto id = registryID (service);
    const auto present = presentServices (device);

    if (! isPresent (present, id))
        return;

    // The interface bound before has gone and its removal is still on its way: act on it
    // now, so that this arrival binds afresh rather than taking the old ids for bound.
    if (present.has_value() && forgetVanishedServices (*present) && reportedServices.empty())
        reportRemoval (refcon);

    // A bind may leave one side's id set even when it fails.
    removalReported = false;

    const auto name = CFStringCreateWithCString (kCFAllocatorDefault, device.coreAudioName, kCFStringEncodingASCII);
    const auto manufacturer = CFStringCreateWithCString (kCFAllocatorDefault, device.vendorName, kCFStringEncodingASCII);
    const ScopedCFRelease releaseName (name), releaseManufacturer (manufacturer);

    for (int attempt = 0; attempt < maxBindAttempts; ++attempt)
    {
        CreateInputDeviceArray (name, manufacturer, refcon);

        // Ids left from an earlier binding count as bound: only the sink clears them.
        if (gInAudioObjectID.load() != kAudioObjectUnknown && gOutAudioObjectID.load() != kAudioObjectUnknown)
        {
            if (! isPresent (presentServices (device), id))
                return;

            if (id.has_value())
                reportedServices.insert (*id);

            SendDeviceEvent (refcon, EventDevicePlugged);
            return;
        }

        // The driver publishes the CoreAudio sides a little after the USB device arrives.
        tarvik::platform::sleep (1);

        if (! isPresent (presentServices (device), id))
            return;
    }
}

/** Reports the removal unless an interface whose arrival was reported is still there, as
    when an older removal comes after the arrival that replaced it, or the sink has already
    heard of it. Otherwise the sink hides the controls and clears whatever ids a bind left.
*/
void reportRemovedDevice (void* refcon)
{
    const auto present = presentServices (*static_cast<const DeviceCallbackStruct*> (refcon));

    if (present.has_value())
    {
        forgetVanishedServices (*present);

        if (! reportedServices.empty() || removalReported)
            return;
    }

    reportRemoval (refcon);
}

template <typename Action>
void forEachWantedService (void* refcon, io_iterator_t iterator, Action&& onMatch)
{
    while (const io_service_t service = IOIteratorNext (iterator))
    {
        if (refcon != nullptr && isWantedUSBDevice (*static_cast<const DeviceCallbackStruct*> (refcon), service))
            onMatch (service);

        IOObjectRelease (service);
    }
}

bool hasStreams (AudioObjectID device, AudioObjectPropertyScope scope, bool& allocationFailed)
{
    UInt32 dataSize = 0;

    if (hw_readStreamConfigurationSize (device, scope, &dataSize) != kAudioHardwareNoError)
        return false;

    MallocPtr<AudioBufferList> streams (static_cast<AudioBufferList*> (std::malloc (dataSize)));

    if (streams == nullptr)
    {
        allocationFailed = true;
        return false;
    }

    if (hw_readStreamConfiguration (device, scope, &dataSize, streams.get()) != kAudioHardwareNoError
        || dataSize < sizeof (UInt32))
        return false;

    return streams->mNumberBuffers != 0;
}

/** The name rule: equal ignoring case, or a leading part of the wanted name with case. */
bool nameMatches (CFStringRef wanted, CFStringRef deviceName)
{
    if (CFStringCompare (wanted, deviceName, kCFCompareCaseInsensitive) == kCFCompareEqualTo)
        return true;

    return stringFromCF (wanted).startsWith (stringFromCF (deviceName));
}

/** One pass over the device list for the scope's direction; the last passing device wins. */
void bindSide (const AudioObjectID* devices, UInt32 numDevices, AudioObjectPropertyScope scope,
               CFStringRef name, CFStringRef manufacturer, void* refcon)
{
    const bool inputPass = scope == kAudioObjectPropertyScopeInput;
    auto& thisSide = inputPass ? gInAudioObjectID : gOutAudioObjectID;
    const auto& otherSide = inputPass ? gOutAudioObjectID : gInAudioObjectID;

    for (UInt32 i = 0; i < numDevices; ++i)
    {
        const auto device = devices[i];
        CFStringRef uid = nullptr, deviceName = nullptr, deviceManufacturer = nullptr;

        const bool readable = hw_readDeviceUID (device, scope, &uid) == kAudioHardwareNoError
                           && hw_readDeviceName (device, scope, &deviceName) == kAudioHardwareNoError
                           && hw_readDeviceManufacturer (device, scope, &deviceManufacturer) == kAudioHardwareNoError;

        const ScopedCFRelease releaseUID (uid), releaseName (deviceName), releaseManufacturer (deviceManufacturer);

        if (! readable || deviceName == nullptr || deviceManufacturer == nullptr)
            continue;

        bool allocationFailed = false;

        if (! hasStreams (device, scope, allocationFailed))
        {
            if (allocationFailed)
                return;

            continue;
        }

        if (! nameMatches (name, deviceName)
            || CFStringCompare (manufacturer, deviceManufacturer, kCFCompareCaseInsensitive) != kCFCompareEqualTo)
            continue;

        // A device that could not be watched is still taken when the other side already
        // holds it: it then serves both directions and is watched through that side.
        if (hw_addPropertyListener (device, refcon) == kAudioHardwareNoError || otherSide.load() == device)
            thisSide.store (device);
    }
}

/** Makes both sides run at the notified rate; true when the panel should hear of it. */
bool syncNominalRates (AudioObjectID objectID, const AudioObjectPropertyAddress& address)
{
    Float64 rate = 0;

    if (hw_readNotifiedRate (objectID, address, &rate) != kAudioHardwareNoError)
        return false;

    for (const auto side : { gInAudioObjectID.load(), gOutAudioObjectID.load() })
    {
        Float64 sideRate = 0;

        if (hw_readNominalRate (side, &sideRate) != kAudioHardwareNoError || sideRate != rate)
            hw_writeNominalRate (side, rate);
    }

    return std::find (std::begin (listenerRates), std::end (listenerRates), rate) != std::end (listenerRates);
}
} // namespace

//==============================================================================
void RegisterDeviceCallBacks()
{
    WatchFrameworkShutdown();

    IONotificationPortRef powerNotifyPort = nullptr;
    io_object_t powerNotifier = 0;

    root_port = IORegisterForSystemPower (&mydeviceStruct, &powerNotifyPort, MySleepCallBack, &powerNotifier);

    if (root_port != 0)
        CFRunLoopAddSource (CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource (powerNotifyPort),
                            kCFRunLoopCommonModes);

    IOMasterPort (MACH_PORT_NULL, &gMasterDevicePort);
    reportedServices.clear();
    removalReported = false;

    // Every USB device matches; the callbacks pick the TARVIK out by its identity.
    const CFMutableDictionaryRef matching = IOServiceMatching (kIOUSBDeviceClassName);

    gNotifyPort = IONotificationPortCreate (gMasterDevicePort);

    // Without a port there is nothing to deliver notifications through: register nothing.
    if (gNotifyPort == nullptr)
    {
        if (matching != nullptr)
            CFRelease (matching);

        gRunLoopSource = nullptr;
        return;
    }

    gRunLoopSource = IONotificationPortGetRunLoopSource (gNotifyPort);
    CFRunLoopAddSource (CFRunLoopGetCurrent(), gRunLoopSource, kCFRunLoopDefaultMode);

    // Each registration consumes one reference.
    if (matching != nullptr)
        CFRetain (matching);

    io_iterator_t matchedIterator = 0;
    io_iterator_t terminatedIterator = 0;

    IOServiceAddMatchingNotification (gNotifyPort, kIOMatchedNotification, matching,
                                      USBPlugCallback, &mydeviceStruct, &matchedIterator);
    IOServiceAddMatchingNotification (gNotifyPort, kIOTerminatedNotification, matching,
                                      USBRemoveCallback, &mydeviceStruct, &terminatedIterator);

    // Draining both iterators arms the notifications and binds a TARVIK already attached.
    USBRemoveCallback (&mydeviceStruct, terminatedIterator);
    USBPlugCallback (&mydeviceStruct, matchedIterator);
}

void USBPlugCallback (void* refcon, io_iterator_t iterator)
{
    forEachWantedService (refcon, iterator, [refcon] (io_service_t service) { bindArrivedDevice (refcon, service); });
}

void USBRemoveCallback (void* refcon, io_iterator_t iterator)
{
    // The ids stay as they are: the sink clears them.
    forEachWantedService (refcon, iterator, [refcon] (io_service_t) { reportRemovedDevice (refcon); });
}

void MySleepCallBack (void* refcon, io_service_t, natural_t messageType, void* messageArgument)
{
    const auto notificationID = reinterpret_cast<intptr_t> (messageArgument);

    switch (messageType)
    {
        case kIOMessageCanSystemSleep:
            // The panel never keeps the system awake.
            IOAllowPowerChange (root_port, notificationID);
            break;

        case kIOMessageSystemWillSleep:
            SendDeviceEvent (refcon, EventSystemWillSleep);
            IOAllowPowerChange (root_port, notificationID);
            break;

        case kIOMessageSystemWillPowerOn:
            SendDeviceEvent (refcon, EventSystemWillPowerOn);
            break;

        case kIOMessageSystemHasPoweredOn:
            SendDeviceEvent (refcon, EventSystemHasPoweredOn);
            break;

        default:
            break;
    }
}

void CreateInputDeviceArray (CFStringRef name, CFStringRef manufacturer, void* refcon)
{
    if (name == nullptr || manufacturer == nullptr)
        return;

    UInt32 dataSize = 0;

    if (hw_readDeviceListSize (&dataSize) != kAudioHardwareNoError)
        return;

    MallocPtr<AudioObjectID> devices (static_cast<AudioObjectID*> (std::malloc (dataSize)));

    if (devices == nullptr || hw_readDeviceList (&dataSize, devices.get()) != kAudioHardwareNoError)
        return;

    const auto numDevices = static_cast<UInt32> (dataSize / sizeof (AudioObjectID));

    bindSide (devices.get(), numDevices, kAudioObjectPropertyScopeInput, name, manufacturer, refcon);
    bindSide (devices.get(), numDevices, kAudioObjectPropertyScopeOutput, name, manufacturer, refcon);
}

OSStatus myAudioObjectPropertyListenerProc (AudioObjectID objectID, UInt32 addressCount,
                                            const AudioObjectPropertyAddress* addresses, void* clientData)
{
    if (addresses == nullptr)
        return 0;

    for (UInt32 i = 0; i < addressCount; ++i)
    {
        const auto& address = addresses[i];

        switch (address.mSelector)
        {
            case kAudioDevicePropertyMute:
            case kAudioDevicePropertyPlayThru:
            {
                UInt32 value = 0;
                hw_readNotifiedUInt32 (objectID, address, &value);
                SendDeviceEvent (clientData, EventPropertyChanged);
                break;
            }

            case kAudioDevicePropertyDataSource:
            {
                UInt32 source = 0;
                hw_readDataSource (objectID, &source);
                SendDeviceEvent (clientData, EventPropertyChanged);
                break;
            }

            case kAudioDevicePropertyVolumeScalar:
            {
                Float32 volume = 0;

                if (hw_readNotifiedFloat32 (objectID, address, &volume) == kAudioHardwareNoError)
                    SendDeviceEvent (clientData, EventPropertyChanged);

                break;
            }

            case kAudioDevicePropertyNominalSampleRate:
                if (syncNominalRates (objectID, address))
                    SendDeviceEvent (clientData, EventPropertyChanged);

                break;

            default:
                break;
        }
    }

    return 0;
}

Float64 hw_getSampleRate()
{
    Float64 in = 0;
    Float64 out = 0;
    hw_readNominalRate (gInAudioObjectID.load(), &in);
    auto outStatus = hw_readNominalRate (gOutAudioObjectID.load(), &out);

    if (in == out)
        return in;

    if (outStatus != kAudioHardwareNoError)
        return 0;

    // The output side's rate wins; 32 kHz is only reachable through the stream format.
    const auto target = out;

    if (target == 32000.0)
    {
        hw_write32kStreamFormat();
    }
    else
    {
        hw_writeNominalRate (gInAudioObjectID.load(), target);
        hw_writeNominalRate (gOutAudioObjectID.load(), target);
    }

    in = 0;
    auto inStatus = hw_readNominalRate (gInAudioObjectID.load(), &in);
    out = 0;
    outStatus = hw_readNominalRate (gOutAudioObjectID.load(), &out);

    if (in != out || inStatus != outStatus)
    {
        // The device takes a moment to switch; give it one chance.
        juce::Time::waitForMillisecondCounter (juce::Time::getMillisecondCounter() + 300);

        in = 0;
        inStatus = hw_readNominalRate (gInAudioObjectID.load(), &in);
        out = 0;
        outStatus = hw_readNominalRate (gOutAudioObjectID.load(), &out);
    }

    return (inStatus == kAudioHardwareNoError && outStatus == kAudioHardwareNoError && in == out) ? target : 0.0;
}
