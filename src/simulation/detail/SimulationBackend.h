#pragma once

// What the stand-in asks the simulation through platform/Backend.h: the injected faults,
// and the TARVIK firmware's answers to its USB device requests.

#include <mutex>
#include <vector>

#include "platform/Backend.h"
#include "simulation/FaultInjection.h"

namespace tarvik::sim::detail
{
/** The firmware the TARVIK's USB device is plugged in with. */
constexpr int kTarvikFirmware = 1;

/** The TARVIK's own state, as its firmware keeps it. */
struct TarvikHardware
{
    int loopback = -1;
    int sequenceStep = 0; ///< 0: expects 0x55, 1: expects 0xAA, 2: expects the state byte
    int transfersReceived = 0;
};

class SimulationBackend final : public platform::Backend
{
public:
    /** The one backend, installed in the stand-in on first use and never destroyed. */
    static SimulationBackend& installed();

    OSStatus failureFor (Call call, AudioObjectID object, const AudioObjectPropertyAddress* address) override;
    IOReturn deviceRequest (int firmware, const IOUSBDevRequest& request) override;

    void addFault (const Fault& fault);
    void clearFaults();

    TarvikHardware hardware() const;
    void resetHardware();

private:
    SimulationBackend() = default;

    struct ActiveFault
    {
        Fault fault;
        int seen = 0;
        int failed = 0;
    };

    std::mutex faultLock;
    std::vector<ActiveFault> faults;

    mutable std::mutex hardwareLock; ///< taken last: deviceRequest runs under the stand-in's lock
    TarvikHardware tarvik;
};
} // namespace tarvik::sim::detail
