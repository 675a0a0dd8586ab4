#pragma once

// The state behind the stand-in: the registry, notifications and audio objects. One lock
// guards all of it; no callback is ever called under it.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/Backend.h"
#include "platform/EmulatedSystem.h"
#include "platform/IOUSB.h"
#include "platform/detail/CFObjects.h"

struct TarvikIONotificationPort
{
    TarvikIONotificationPort();
    ~TarvikIONotificationPort();

    TarvikCFRunLoopSource* source = nullptr;
};

namespace tarvik::platform::detail
{
/** A kernel object reached through an io_object_t handle. */
struct KernelObject
{
    virtual ~KernelObject() = default;
    io_object_t handle = 0;
    int userReferences = 0;
};

struct UsbService final : KernelObject
{
    ~UsbService() override;

    int simId = 0;
    bool attached = true;
    UsbDeviceDescription description;
    CFMutableDictionaryRef properties = nullptr;
    const void* openedBy = nullptr;
};

struct MatchNotification;

struct IteratorObject final : KernelObject
{
    std::deque<std::shared_ptr<UsbService>> pending;
    bool armed = false;
    std::shared_ptr<MatchNotification> notification;
};

struct MatchNotification
{
    ~MatchNotification();

    TarvikIONotificationPort* port = nullptr;
    bool arrival = true;
    CFDictionaryRef matching = nullptr;
    IOServiceMatchingCallback callback = nullptr;
    void* refcon = nullptr;
    std::weak_ptr<IteratorObject> iterator;
};

struct PowerConnection final : KernelObject
{
    TarvikIONotificationPort* port = nullptr;
    IOServiceInterestCallback callback = nullptr;
    void* refcon = nullptr;
};

struct PlainObject final : KernelObject
{
};

struct Listener
{
    AudioObjectPropertyAddress address;
    AudioObjectPropertyListenerProc proc;
    void* clientData;
};

struct DirectionState
{
    UInt32 streams = 0;
    float volumeDb[2] { 0.0f, 0.0f };
    UInt32 mute[2] { 0, 0 };
    UInt32 dataSource = 0;
};

struct AudioDevice
{
    AudioObjectID id = 0;
    std::string name, manufacturer, uid;
    DirectionState direction[2]; // input, output
    UInt32 playThru = 0;
    double rate = 48000.0;
    bool format32k = false;
    int visibleFromRead = 0; ///< listed once this many device-list reads have happened
    std::vector<Listener> listeners;
    UInt64 pendingChange = 0;
};

struct World
{
    std::mutex lock;

    // IOKit
    std::map<io_object_t, std::shared_ptr<KernelObject>> handles;
    io_object_t nextHandle = 0x1003;
    std::vector<std::shared_ptr<UsbService>> services;
    std::vector<std::shared_ptr<MatchNotification>> notifications;
    std::vector<std::unique_ptr<TarvikIONotificationPort>> ports;
    std::set<mach_port_t> masterPorts;
    mach_port_t nextMachPort = 0x2603;
    std::vector<std::weak_ptr<PowerConnection>> powerConnections;
    std::set<intptr_t> allowedPowerChanges;
    intptr_t nextPowerNotification = 0x5100;
    int nextUsbSimId = 1;
    int liveUsbInterfaces = 0;

    // CoreAudio
    std::vector<std::shared_ptr<AudioDevice>> audioDevices;
    std::vector<Listener> systemListeners;
    AudioObjectID nextAudioObject = 0x2A;
    int deviceListReads = 0;
    int rateChangeDelayMs = 0;
    UInt64 nextChangeToken = 1;

    // The logs keep the most recent entries only: the program runs the stand-in for as
    // long as the user keeps it open, and every fader move is a property write.
    static constexpr size_t logCapacity = 20000;

    template <typename Entry>
    static void appendToLog (std::vector<Entry>& log, Entry entry)
    {
        if (log.size() >= 2 * logCapacity)
            log.erase (log.begin(), log.begin() + (std::ptrdiff_t) (log.size() - logCapacity));

        log.push_back (std::move (entry));
    }

    std::vector<PropertyWrite> propertyWrites;
    std::vector<UsbTransferRecord> transfers;
    std::vector<UsbDeviceEventRecord> usbDeviceEvents;

    // Helpers, all called with the lock held.
    io_object_t handOut (const std::shared_ptr<KernelObject>& object);
    std::shared_ptr<KernelObject> lookUp (io_object_t handle) const;
    void addService (const std::shared_ptr<UsbService>& service);
    void removeService (const std::shared_ptr<UsbService>& service);
    std::shared_ptr<AudioDevice> audioDevice (AudioObjectID id) const;
    bool isListed (const AudioDevice& device) const;
    void notifyListeners (AudioObjectID object, const std::vector<AudioObjectPropertyAddress>& changed);
    void clear();
};

World& world();

/** Posts work to the run loop a notification port's source was added to; work whose port
    has no run loop, or that outlives a reset, is dropped. Lock held or not. */
void postToPort (TarvikIONotificationPort* port, std::function<void()> work);

/** The generation of the stand-in; a reset moves it on, so stale deliveries are dropped. */
UInt64 generation();
void advanceGeneration();

/** The status the backend fails this call with, or 0 (also without a backend). */
OSStatus injectedFailure (Call call, AudioObjectID object = 0, const AudioObjectPropertyAddress* address = nullptr);

/** What a device's firmware answers a request, through the backend; lock held. */
IOReturn firmwareAnswer (int firmware, const IOUSBDevRequest& request);

/** Whether a USB service fits a matching dictionary: its class, then every other key by value. */
bool serviceMatches (const UsbService& service, CFDictionaryRef matching);

} // namespace tarvik::platform::detail
