#include "simulation/TarvikSimulation.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "simulation/detail/SimulationBackend.h"

namespace tarvik::sim
{
namespace emulated = platform::emulated;
using detail::kTarvikFirmware;
using detail::SimulationBackend;

namespace
{
/** Whether the interface is plugged in, and what of it. Taken before the stand-in's lock. */
struct Interface
{
    std::mutex lock;
    bool attached = false;
    emulated::Plugged plugged;
};

Interface& tarvikInterface()
{
    static Interface i;
    return i;
}

SimulationBackend& backend() { return SimulationBackend::installed(); }

AudioObjectPropertyScope scopeOf (Side side)
{
    return side == Side::input ? kAudioObjectPropertyScopeInput : kAudioObjectPropertyScopeOutput;
}

platform::UsbDeviceDescription usbDescription (const UsbDeviceSpec& device, int firmware)
{
    platform::UsbDeviceDescription description = device;
    description.firmware = firmware;
    return description;
}

/** The CoreAudio object of a side while attached (lock held), else 0. */
AudioObjectID audioObjectOf (const Interface& i, Side side)
{
    const auto& audio = i.plugged.audio;
    if (audio.empty())
        return 0;
    return side == Side::input ? audio.front() : audio.back();
}
} // namespace

Simulation& Simulation::get()
{
    static Simulation simulation;
    backend();
    return simulation;
}

void Simulation::reset()
{
    auto& i = tarvikInterface();
    const std::lock_guard<std::mutex> guard (i.lock);
    backend().clearFaults();
    emulated::reset();
    backend().resetHardware();
    i.attached = false;
    i.plugged = {};
}

void Simulation::startFromEnvironment()
{
    const char* attached = std::getenv ("TARVIK_SIM_ATTACHED");
    if (attached == nullptr || std::strcmp (attached, "0") != 0)
        attachTarvik();
}

void Simulation::attachTarvik (const TarvikOptions& options)
{
    auto& i = tarvikInterface();
    const std::lock_guard<std::mutex> guard (i.lock);
    if (i.attached)
        return;

    i.attached = true;
    emulated::Hardware hardware;

    if (options.withAudio)
    {
        AudioDeviceSpec description;
        description.sampleRate = options.sampleRate;

        if (options.arrangement == Arrangement::oneDevice)
        {
            description.uid = "VYRZelvatek:TARVIK:0001";
            hardware.audio.push_back (description);
        }
        else
        {
            description.uid = "VYRZelvatek:TARVIK:0001:in";
            description.outputStreams = 0;
            hardware.audio.push_back (description);
            description.uid = "VYRZelvatek:TARVIK:0001:out";
            description.inputStreams = 0;
            description.outputStreams = 1;
            hardware.audio.push_back (description);
        }
        hardware.enumerationsBeforeAudio = options.enumerationsBeforeAudio;
    }

    if (options.withUsb)
        hardware.usb = usbDescription (UsbDeviceSpec {}, kTarvikFirmware);

    i.plugged = emulated::plugIn (hardware);
}

void Simulation::detachTarvik()
{
    auto& i = tarvikInterface();
    const std::lock_guard<std::mutex> guard (i.lock);
    if (! i.attached)
        return;

    emulated::unplug (i.plugged);
    i.attached = false;
    i.plugged = {};
}

bool Simulation::isTarvikAttached() const
{
    auto& i = tarvikInterface();
    const std::lock_guard<std::mutex> guard (i.lock);
    return i.attached;
}

AudioObjectID Simulation::tarvikAudioObject (Side side) const
{
    auto& i = tarvikInterface();
    const std::lock_guard<std::mutex> guard (i.lock);
    const auto id = audioObjectOf (i, side);
    return id != 0 && emulated::isListed (id) ? id : 0;
}

int Simulation::attachUsbDevice (const UsbDeviceSpec& description)
{
    return emulated::plugIn ({ {}, 0, usbDescription (description, 0) }).usb;
}

void Simulation::detachUsbDevice (int id) { emulated::unplug ({ {}, id }); }

AudioObjectID Simulation::attachAudioDevice (const AudioDeviceSpec& description)
{
    return emulated::plugIn ({ { description }, 0, std::nullopt }).audio.front();
}

void Simulation::detachAudioDevice (AudioObjectID object) { emulated::unplug ({ { object }, 0 }); }

OSStatus Simulation::setProperty (AudioObjectID object, const AudioObjectPropertyAddress& address, const void* data, UInt32 size)
{
    return emulated::setPropertyAsOtherProgram (object, address, data, size);
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

void Simulation::setRateChangeDelay (int milliseconds) { emulated::setRateChangeDelay (milliseconds); }

void Simulation::injectFault (const Fault& fault) { backend().addFault (fault); }

void Simulation::failDeviceRequest (int position, IOReturn status)
{
    Fault f;
    f.call = Call::DeviceRequest;
    f.status = status;
    f.skip = position - 1;
    f.times = 1;
    backend().addFault (f);
}

void Simulation::failProperty (const AudioObjectPropertyAddress& address, OSStatus status, Call call, AudioObjectID object)
{
    Fault f;
    f.call = call;
    f.status = status;
    f.address = address;
    f.object = object;
    backend().addFault (f);
}

void Simulation::clearFaults() { backend().clearFaults(); }

intptr_t Simulation::sendPowerMessage (natural_t messageType) { return emulated::postPowerMessage (messageType); }

bool Simulation::wasPowerChangeAllowed (intptr_t notificationId) const
{
    return emulated::wasPowerChangeAllowed (notificationId);
}

int Simulation::powerRegistrations() const { return emulated::powerRegistrations(); }

TarvikState Simulation::state() const
{
    auto& i = tarvikInterface();
    const std::lock_guard<std::mutex> guard (i.lock);

    TarvikState s;
    s.attached = i.attached;
    const auto hardware = backend().hardware();
    s.loopback = hardware.loopback;
    s.transfers = hardware.transfersReceived;

    if (auto in = emulated::levels (audioObjectOf (i, Side::input)))
    {
        for (size_t c = 0; c < 2; ++c)
            s.in[c] = { in->volumeDb[0][c], in->muted[0][c] };
        s.inRate = in->rate;
    }
    if (auto out = emulated::levels (audioObjectOf (i, Side::output)))
    {
        for (size_t c = 0; c < 2; ++c)
            s.out[c] = { out->volumeDb[1][c], out->muted[1][c] };
        s.outRate = out->rate;
    }
    return s;
}

int Simulation::loopback() const { return state().loopback; }

std::vector<PropertyWrite> Simulation::propertyWrites() const { return emulated::propertyWrites(); }

std::vector<UsbTransfer> Simulation::usbTransfers() const
{
    std::vector<UsbTransfer> transfers;
    for (auto& t : emulated::usbTransfers())
        transfers.push_back ({ t, t.firmware == kTarvikFirmware });
    return transfers;
}

std::vector<UsbDeviceEvent> Simulation::usbDeviceEvents() const
{
    std::vector<UsbDeviceEvent> events;
    for (auto& e : emulated::usbDeviceEvents())
        events.push_back ({ e, e.firmware == kTarvikFirmware });
    return events;
}

int Simulation::deviceListReads() const { return emulated::deviceListReads(); }

int Simulation::liveCFObjects() const { return emulated::liveCFObjects(); }

int Simulation::heldServiceReferences() const { return emulated::heldServiceReferences(); }

int Simulation::liveUsbInterfaces() const { return emulated::liveUsbInterfaces(); }

int Simulation::heldMasterPorts() const { return emulated::heldMasterPorts(); }
} // namespace tarvik::sim
