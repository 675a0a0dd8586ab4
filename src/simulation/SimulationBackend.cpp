#include "simulation/detail/SimulationBackend.h"

#include "platform/EmulatedSystem.h"

namespace tarvik::sim::detail
{
namespace
{
bool isPropertyCall (Call call)
{
    return call == Call::AudioObjectGetPropertyDataSize || call == Call::AudioObjectGetPropertyData
        || call == Call::AudioObjectSetPropertyData || call == Call::AudioObjectAddPropertyListener;
}

// The interface's loopback switch: 0x55, 0xAA, then 0x02 (off) or 0x03 (on), each as a
// one-byte class request to interface 0.
IOReturn tarvikRequest (TarvikHardware& hardware, const IOUSBDevRequest& req)
{
    ++hardware.transfersReceived;

    const bool loopbackRequest = req.bmRequestType == 0x21 && req.bRequest == 0x01 && req.wValue == 0x2000
                              && req.wIndex == 0x0300 && req.wLength == 1 && req.pData != nullptr;
    if (! loopbackRequest)
    {
        hardware.sequenceStep = 0;
        return kIOUSBPipeStalled;
    }

    const auto byte = *static_cast<const UInt8*> (req.pData);
    if (byte == 0x55)
        hardware.sequenceStep = 1;
    else if (hardware.sequenceStep == 1 && byte == 0xAA)
        hardware.sequenceStep = 2;
    else if (hardware.sequenceStep == 2 && (byte == 0x02 || byte == 0x03))
    {
        hardware.loopback = byte - 2;
        hardware.sequenceStep = 0;
    }
    else
        hardware.sequenceStep = 0;

    return kIOReturnSuccess;
}
} // namespace

SimulationBackend& SimulationBackend::installed()
{
    // Never destroyed: the stand-in may still be called while statics go away at exit.
    static SimulationBackend* const backend = []
    {
        auto* b = new SimulationBackend();
        platform::setBackend (b);
        return b;
    }();
    return *backend;
}

OSStatus SimulationBackend::failureFor (Call call, AudioObjectID object, const AudioObjectPropertyAddress* address)
{
    const std::lock_guard<std::mutex> guard (faultLock);

    for (auto& f : faults)
    {
        const bool callMatches = f.fault.call == call
                              || (f.fault.call == Call::AnyPropertyAccess && isPropertyCall (call)
                                  && call != Call::AudioObjectAddPropertyListener);
        if (! callMatches)
            continue;

        if (address != nullptr && ! platform::emulated::addressMatches (f.fault.address, *address))
            continue;

        if (address != nullptr && f.fault.object != kAudioObjectUnknown && f.fault.object != object)
            continue;

        if (++f.seen <= f.fault.skip)
            continue;

        if (f.fault.times >= 0 && f.failed >= f.fault.times)
            continue;

        ++f.failed;
        return f.fault.status;
    }
    return 0;
}

IOReturn SimulationBackend::deviceRequest (int firmware, const IOUSBDevRequest& request)
{
    if (firmware != kTarvikFirmware)
        return kIOReturnSuccess;

    const std::lock_guard<std::mutex> guard (hardwareLock);
    return tarvikRequest (tarvik, request);
}

void SimulationBackend::addFault (const Fault& fault)
{
    const std::lock_guard<std::mutex> guard (faultLock);
    faults.push_back ({ fault, 0, 0 });
}

void SimulationBackend::clearFaults()
{
    const std::lock_guard<std::mutex> guard (faultLock);
    faults.clear();
}

TarvikHardware SimulationBackend::hardware() const
{
    const std::lock_guard<std::mutex> guard (hardwareLock);
    return tarvik;
}

void SimulationBackend::resetHardware()
{
    const std::lock_guard<std::mutex> guard (hardwareLock);
    tarvik = {};
}
} // namespace tarvik::sim::detail
