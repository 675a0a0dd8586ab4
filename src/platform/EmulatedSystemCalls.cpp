#include "platform/EmulatedSystem.h"

#include "platform/Sleep.h"
#include "platform/detail/AudioProperties.h"
#include "platform/detail/NotificationThread.h"
#include "platform/detail/World.h"

namespace tarvik::platform::emulated
{
using namespace tarvik::platform::detail;

namespace
{
std::shared_ptr<UsbService> makeService (World& w, const UsbDeviceDescription& description)
{
    auto s = std::make_shared<UsbService>();
    s->simId = w.nextUsbSimId++;
    s->description = description;
    s->properties = CFDictionaryCreateMutable (kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                               &kCFTypeDictionaryValueCallBacks);

    auto setNumber = [&] (const char* key, SInt64 value)
    {
        auto* n = makeNumber (value);
        CFDictionarySetValue (s->properties, TarvikCFStringMakeConstant (key), n);
        CFRelease (n);
    };
    auto setString = [&] (const char* key, const std::string& value)
    {
        auto* text = makeString (value);
        CFDictionarySetValue (s->properties, TarvikCFStringMakeConstant (key), text);
        CFRelease (text);
    };

    if (description.vendorId)
        setNumber (kUSBVendorID, *description.vendorId);
    if (description.productId)
        setNumber (kUSBProductID, *description.productId);
    setNumber (kUSBDeviceReleaseNumber, description.releaseNumber);
    if (description.vendorName)
        setString (kUSBVendorString, *description.vendorName);
    if (description.productName)
        setString (kUSBProductString, *description.productName);
    setNumber ("locationID", 0x14100000 + s->simId);
    return s;
}

std::shared_ptr<AudioDevice> makeAudioDevice (World& w, const AudioDeviceDescription& description)
{
    auto d = std::make_shared<AudioDevice>();
    d->id = w.nextAudioObject++;
    d->name = description.name;
    d->manufacturer = description.manufacturer;
    d->uid = description.uid.empty() ? "SimAudioDevice:" + std::to_string (d->id) : description.uid;
    d->direction[0].streams = description.inputStreams;
    d->direction[1].streams = description.outputStreams;
    d->direction[0].dataSource = TarvikFourCC ("line");
    d->direction[1].dataSource = TarvikFourCC ("ispk");
    d->rate = description.sampleRate;
    d->visibleFromRead = w.deviceListReads;
    return d;
}

void addAudioDevice (World& w, const std::shared_ptr<AudioDevice>& d)
{
    w.audioDevices.push_back (d);
    if (w.isListed (*d))
        w.notifyListeners (kAudioObjectSystemObject, { { kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal, 0 } });
}

void removeAudioDevice (World& w, AudioObjectID id)
{
    auto& list = w.audioDevices;
    const auto before = list.size();
    list.erase (std::remove_if (list.begin(), list.end(), [id] (auto& d) { return d->id == id; }), list.end());
    if (list.size() != before)
        w.notifyListeners (kAudioObjectSystemObject, { { kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal, 0 } });
}

/** Reads a value of the world under its lock. */
template <typename Read>
auto locked (Read read)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return read (w);
}
} // namespace

Plugged plugIn (const Hardware& hardware)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    Plugged plugged;

    std::vector<std::shared_ptr<AudioDevice>> devices;
    for (auto& description : hardware.audio)
        devices.push_back (makeAudioDevice (w, description));

    for (auto& d : devices)
    {
        d->visibleFromRead = w.deviceListReads + hardware.enumerationsBeforeAudio;
        addAudioDevice (w, d);
        plugged.audio.push_back (d->id);
    }

    if (hardware.usb)
    {
        auto service = makeService (w, *hardware.usb);
        plugged.usb = service->simId;
        w.addService (service);
    }
    return plugged;
}

void unplug (const Plugged& plugged)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    for (auto id : plugged.audio)
        if (id != 0)
            removeAudioDevice (w, id);

    if (plugged.usb != 0)
        for (auto& s : std::vector<std::shared_ptr<UsbService>> (w.services))
            if (s->simId == plugged.usb)
                w.removeService (s);
}

bool isListed (AudioObjectID device)
{
    return locked ([device] (World& w)
    {
        auto d = w.audioDevice (device);
        return d != nullptr && w.isListed (*d);
    });
}

std::optional<AudioDeviceLevels> levels (AudioObjectID device)
{
    return locked ([device] (World& w) -> std::optional<AudioDeviceLevels>
    {
        auto d = w.audioDevice (device);
        if (d == nullptr)
            return std::nullopt;

        AudioDeviceLevels l;
        for (size_t dir = 0; dir < 2; ++dir)
            for (size_t c = 0; c < 2; ++c)
            {
                l.volumeDb[dir][c] = d->direction[dir].volumeDb[c];
                l.muted[dir][c] = d->direction[dir].mute[c] != 0;
            }
        l.rate = d->rate;
        return l;
    });
}

OSStatus setPropertyAsOtherProgram (AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    const void* data, UInt32 size)
{
    return locked ([&] (World& w) { return audio::writeProperty (w, object, address, size, data, true, 0); });
}

void setRateChangeDelay (int milliseconds)
{
    locked ([milliseconds] (World& w) { return w.rateChangeDelayMs = milliseconds; });
}

intptr_t postPowerMessage (natural_t messageType)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    const auto id = w.nextPowerNotification++;

    for (auto& weak : w.powerConnections)
    {
        auto connection = weak.lock();
        if (connection == nullptr)
            continue;

        postToPort (connection->port, [weak, messageType, id]
        {
            auto c = weak.lock();
            if (c != nullptr)
                c->callback (c->refcon, 0, messageType, reinterpret_cast<void*> (id));
        });
    }
    return id;
}

bool wasPowerChangeAllowed (intptr_t notificationId)
{
    return locked ([notificationId] (World& w) { return w.allowedPowerChanges.count (notificationId) > 0; });
}

int powerRegistrations()
{
    return locked ([] (World& w)
    {
        int n = 0;
        for (auto& weak : w.powerConnections)
            n += weak.expired() ? 0 : 1;
        return n;
    });
}

std::vector<PropertyWrite> propertyWrites()
{
    return locked ([] (World& w) { return w.propertyWrites; });
}

std::vector<UsbTransferRecord> usbTransfers()
{
    return locked ([] (World& w) { return w.transfers; });
}

std::vector<UsbDeviceEventRecord> usbDeviceEvents()
{
    return locked ([] (World& w) { return w.usbDeviceEvents; });
}

int deviceListReads()
{
    return locked ([] (World& w) { return w.deviceListReads; });
}

int liveCFObjects() { return detail::liveCFObjects(); }

int heldServiceReferences()
{
    return locked ([] (World& w)
    {
        int n = 0;
        for (auto& [handle, object] : w.handles)
            if (std::dynamic_pointer_cast<UsbService> (object) != nullptr)
                n += object->userReferences;
        return n;
    });
}

int liveUsbInterfaces()
{
    return locked ([] (World& w) { return w.liveUsbInterfaces; });
}

int heldMasterPorts()
{
    return locked ([] (World& w) { return (int) w.masterPorts.size(); });
}

void reset()
{
    advanceGeneration();
    notificationThread::clear();
    setSleepFunction ({});

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    w.clear();
}
} // namespace tarvik::platform::emulated
