#include "platform/TarvikSimulation.h"

#include <cstdlib>
#include <cstring>

#include "platform/Sleep.h"
#include "platform/detail/AudioProperties.h"
#include "platform/detail/NotificationThread.h"
#include "platform/detail/World.h"

namespace tarvik::sim
{
using namespace tarvik::platform::detail;

namespace
{
std::shared_ptr<UsbService> makeService (World& w, const UsbDeviceSpec& description, bool isTarvik)
{
    auto s = std::make_shared<UsbService>();
    s->simId = w.nextUsbSimId++;
    s->isTarvik = isTarvik;
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

std::shared_ptr<AudioDevice> makeAudioDevice (World& w, const AudioDeviceSpec& description)
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

AudioObjectPropertyScope scopeOf (Side side)
{
    return side == Side::input ? kAudioObjectPropertyScopeInput : kAudioObjectPropertyScopeOutput;
}

size_t indexOf (Side side) { return side == Side::input ? 0 : 1; }
} // namespace

Simulation& Simulation::get()
{
    static Simulation simulation;
    return simulation;
}

void Simulation::reset()
{
    advanceGeneration();
    notificationThread::clear();
    clearInjectedFailures();
    platform::setSleepFunction ({});

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    w.clear();
}

void Simulation::startFromEnvironment()
{
    const char* attached = std::getenv ("TARVIK_SIM_ATTACHED");
    if (attached == nullptr || std::strcmp (attached, "0") != 0)
        attachTarvik();
}

void Simulation::attachTarvik (const TarvikOptions& options)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    if (w.tarvikAttached)
        return;

    w.tarvikAttached = true;

    if (options.withAudio)
    {
        AudioDeviceSpec description;
        description.sampleRate = options.sampleRate;
        std::vector<std::shared_ptr<AudioDevice>> devices;

        if (options.arrangement == Arrangement::oneDevice)
        {
            description.uid = "VYRZelvatek:TARVIK:0001";
            devices.push_back (makeAudioDevice (w, description));
        }
        else
        {
            description.uid = "VYRZelvatek:TARVIK:0001:in";
            description.outputStreams = 0;
            devices.push_back (makeAudioDevice (w, description));
            description.uid = "VYRZelvatek:TARVIK:0001:out";
            description.inputStreams = 0;
            description.outputStreams = 1;
            devices.push_back (makeAudioDevice (w, description));
        }

        for (auto& d : devices)
        {
            d->isTarvik = true;
            d->visibleFromRead = w.deviceListReads + options.enumerationsBeforeAudio;
            addAudioDevice (w, d);
        }
        w.tarvikAudio[0] = devices.front()->id;
        w.tarvikAudio[1] = devices.back()->id;
    }

    if (options.withUsb)
    {
        auto service = makeService (w, UsbDeviceSpec {}, true);
        w.tarvikUsbId = service->simId;
        w.addService (service);
    }
}

void Simulation::detachTarvik()
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    if (! w.tarvikAttached)
        return;

    for (auto id : { w.tarvikAudio[0], w.tarvikAudio[1] })
        if (id != 0)
            removeAudioDevice (w, id);

    for (auto& s : std::vector<std::shared_ptr<UsbService>> (w.services))
        if (s->simId == w.tarvikUsbId)
            w.removeService (s);

    w.tarvikAttached = false;
    w.tarvikUsbId = 0;
    w.tarvikAudio[0] = w.tarvikAudio[1] = 0;
}

bool Simulation::isTarvikAttached() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return w.tarvikAttached;
}

AudioObjectID Simulation::tarvikAudioObject (Side side) const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto d = w.audioDevice (w.tarvikAudio[indexOf (side)]);
    return d != nullptr && w.isListed (*d) ? d->id : 0;
}

int Simulation::attachUsbDevice (const UsbDeviceSpec& description)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto service = makeService (w, description, false);
    w.addService (service);
    return service->simId;
}

void Simulation::detachUsbDevice (int id)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    for (auto& s : std::vector<std::shared_ptr<UsbService>> (w.services))
        if (s->simId == id)
            w.removeService (s);
}

AudioObjectID Simulation::attachAudioDevice (const AudioDeviceSpec& description)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto d = makeAudioDevice (w, description);
    addAudioDevice (w, d);
    return d->id;
}

void Simulation::detachAudioDevice (AudioObjectID object)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    removeAudioDevice (w, object);
}

OSStatus Simulation::setProperty (AudioObjectID object, const AudioObjectPropertyAddress& address, const void* data, UInt32 size)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return audio::writeProperty (w, object, address, size, data, true, 0);
}

OSStatus Simulation::setVolumeDb (Side side, int channel, float decibels)
{
    return setProperty (tarvikAudioObject (side), { kAudioDevicePropertyVolumeDecibels, scopeOf (side), (UInt32) channel },
                        &decibels, sizeof (decibels));
}

OSStatus Simulation::setMute (Side side, int channel, bool muted)
{
    const UInt32 value = muted ? 1 : 0;
    return setProperty (tarvikAudioObject (side), { kAudioDevicePropertyMute, scopeOf (side), (UInt32) channel },
                        &value, sizeof (value));
}

OSStatus Simulation::setNominalRate (Side side, double rate)
{
    const Float64 value = rate;
    return setProperty (tarvikAudioObject (side),
                        { kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopeGlobal, 0 },
                        &value, sizeof (value));
}

void Simulation::setRateChangeDelay (int milliseconds)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    w.rateChangeDelayMs = milliseconds;
}

void Simulation::injectFault (const Fault& fault) { addInjectedFailure (fault); }

void Simulation::failDeviceRequest (int position, IOReturn status)
{
    Fault f;
    f.call = Call::DeviceRequest;
    f.status = status;
    f.skip = position - 1;
    f.times = 1;
    addInjectedFailure (f);
}

void Simulation::failProperty (const AudioObjectPropertyAddress& address, OSStatus status, Call call, AudioObjectID object)
{
    Fault f;
    f.call = call;
    f.status = status;
    f.address = address;
    f.object = object;
    addInjectedFailure (f);
}

void Simulation::clearFaults() { clearInjectedFailures(); }

intptr_t Simulation::sendPowerMessage (natural_t messageType)
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

bool Simulation::wasPowerChangeAllowed (intptr_t notificationId) const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return w.allowedPowerChanges.count (notificationId) > 0;
}

int Simulation::powerRegistrations() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    int n = 0;
    for (auto& weak : w.powerConnections)
        n += weak.expired() ? 0 : 1;
    return n;
}

TarvikState Simulation::state() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    TarvikState s;
    s.attached = w.tarvikAttached;
    s.loopback = w.hardware.loopback;
    s.transfers = w.hardware.transfersReceived;

    if (auto in = w.audioDevice (w.tarvikAudio[0]))
    {
        for (size_t c = 0; c < 2; ++c)
            s.in[c] = { in->direction[0].volumeDb[c], in->direction[0].mute[c] != 0 };
        s.inRate = in->rate;
    }
    if (auto out = w.audioDevice (w.tarvikAudio[1]))
    {
        for (size_t c = 0; c < 2; ++c)
            s.out[c] = { out->direction[1].volumeDb[c], out->direction[1].mute[c] != 0 };
        s.outRate = out->rate;
    }
    return s;
}

int Simulation::loopback() const { return state().loopback; }

std::vector<PropertyWrite> Simulation::propertyWrites() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return w.propertyWrites;
}

std::vector<UsbTransfer> Simulation::usbTransfers() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return w.transfers;
}

std::vector<UsbDeviceEvent> Simulation::usbDeviceEvents() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return w.usbDeviceEvents;
}

int Simulation::deviceListReads() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return w.deviceListReads;
}

int Simulation::liveCFObjects() const { return platform::detail::liveCFObjects(); }

int Simulation::heldServiceReferences() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    int n = 0;
    for (auto& [handle, object] : w.handles)
        if (std::dynamic_pointer_cast<UsbService> (object) != nullptr)
            n += object->userReferences;
    return n;
}

int Simulation::liveUsbInterfaces() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return w.liveUsbInterfaces;
}

int Simulation::heldMasterPorts() const
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return (int) w.masterPorts.size();
}
} // namespace tarvik::sim
