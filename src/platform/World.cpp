#include "platform/detail/World.h"

#include <atomic>

#include <juce_events/juce_events.h>

#include "platform/detail/NotificationThread.h"

TarvikIONotificationPort::TarvikIONotificationPort() : source (new TarvikCFRunLoopSource())
{
    source->port = this;
}

TarvikIONotificationPort::~TarvikIONotificationPort()
{
    source->port = nullptr;
    CFRelease (source);
}

namespace tarvik::platform::detail
{
namespace
{
std::atomic<UInt64> currentGeneration { 1 };
} // namespace

bool serviceMatches (const UsbService& service, CFDictionaryRef matching)
{
    for (auto& [key, value] : matching->entries)
    {
        if (CFEqual (key, CFSTR (kIOProviderClassKey)))
        {
            if (toUtf8 (static_cast<CFStringRef> (value)) != service.description.className)
                return false;
        }
        else if (! CFEqual (CFDictionaryGetValue (service.properties, key), value))
        {
            return false;
        }
    }
    return true;
}

namespace
{
void deliverWhenArmed (IteratorObject& iterator)
{
    auto notification = iterator.notification;
    if (notification == nullptr || ! iterator.armed)
        return;

    iterator.armed = false;
    std::weak_ptr<MatchNotification> weak = notification;
    postToPort (notification->port, [weak]
    {
        IOServiceMatchingCallback callback = nullptr;
        void* refcon = nullptr;
        io_iterator_t handle = 0;
        {
            const std::lock_guard<std::mutex> guard (world().lock);
            auto n = weak.lock();
            auto it = n != nullptr ? n->iterator.lock() : nullptr;
            if (it == nullptr || it->handle == 0)
                return;
            callback = n->callback;
            refcon = n->refcon;
            handle = it->handle;
        }
        callback (refcon, handle);
    });
}
} // namespace

UsbService::~UsbService()
{
    if (properties != nullptr)
        CFRelease (properties);
}

MatchNotification::~MatchNotification()
{
    if (matching != nullptr)
        CFRelease (matching);
}

World& world()
{
    static World w;
    return w;
}

io_object_t World::handOut (const std::shared_ptr<KernelObject>& object)
{
    if (object->handle == 0)
    {
        object->handle = nextHandle;
        nextHandle += 4;
        handles[object->handle] = object;
    }
    ++object->userReferences;
    return object->handle;
}

std::shared_ptr<KernelObject> World::lookUp (io_object_t handle) const
{
    auto it = handles.find (handle);
    return it != handles.end() ? it->second : nullptr;
}

void World::addService (const std::shared_ptr<UsbService>& service)
{
    services.push_back (service);

    for (auto& n : notifications)
    {
        auto iterator = n->iterator.lock();
        if (n->arrival && iterator != nullptr && serviceMatches (*service, n->matching))
        {
            iterator->pending.push_back (service);
            deliverWhenArmed (*iterator);
        }
    }
}

void World::removeService (const std::shared_ptr<UsbService>& service)
{
    service->attached = false;
    service->openedBy = nullptr;
    services.erase (std::remove (services.begin(), services.end(), service), services.end());

    for (auto& n : notifications)
    {
        auto iterator = n->iterator.lock();
        if (n->arrival || iterator == nullptr)
            continue;

        if (serviceMatches (*service, n->matching))
        {
            iterator->pending.push_back (service);
            deliverWhenArmed (*iterator);
        }
    }
}

std::shared_ptr<AudioDevice> World::audioDevice (AudioObjectID id) const
{
    for (auto& d : audioDevices)
        if (d->id == id)
            return d;
    return nullptr;
}

bool World::isListed (const AudioDevice& device) const { return deviceListReads >= device.visibleFromRead; }
} // namespace tarvik::platform::detail

namespace tarvik::platform::emulated
{
bool addressMatches (const AudioObjectPropertyAddress& pattern, const AudioObjectPropertyAddress& address)
{
    return (pattern.mSelector == kAudioObjectPropertySelectorWildcard || pattern.mSelector == address.mSelector)
        && (pattern.mScope == kAudioObjectPropertyScopeWildcard || pattern.mScope == address.mScope)
        && (pattern.mElement == kAudioObjectPropertyElementWildcard || pattern.mElement == address.mElement);
}
} // namespace tarvik::platform::emulated

namespace tarvik::platform::detail
{
void World::notifyListeners (AudioObjectID object, const std::vector<AudioObjectPropertyAddress>& changed)
{
    const std::vector<Listener>* listeners = &systemListeners;
    if (object != kAudioObjectSystemObject)
    {
        auto device = audioDevice (object);
        if (device == nullptr)
            return;
        listeners = &device->listeners;
    }

    const auto gen = generation();
    for (auto& listener : *listeners)
    {
        std::vector<AudioObjectPropertyAddress> addresses;
        for (auto& a : changed)
            if (emulated::addressMatches (listener.address, a))
                addresses.push_back (a);

        if (addresses.empty())
            continue;

        notificationThread::schedule ([gen, listener, object, addresses]
        {
            if (gen == generation())
                listener.proc (object, (UInt32) addresses.size(), addresses.data(), listener.clientData);
        });
    }
}

void World::clear()
{
    handles.clear();
    services.clear();
    notifications.clear();
    ports.clear();
    masterPorts.clear();
    powerConnections.clear();
    allowedPowerChanges.clear();
    audioDevices.clear();
    systemListeners.clear();
    deviceListReads = 0;
    rateChangeDelayMs = 0;
    propertyWrites.clear();
    transfers.clear();
    usbDeviceEvents.clear();
}

UInt64 generation() { return currentGeneration.load(); }
void advanceGeneration() { ++currentGeneration; }

void postToPort (TarvikIONotificationPort* port, std::function<void()> work)
{
    if (port == nullptr || port->source->runLoop == nullptr)
        return;

    auto* mm = juce::MessageManager::getInstanceWithoutCreating();
    if (mm == nullptr || mm->getCurrentMessageThread() != port->source->runLoop->thread)
        return; // nobody runs that run loop

    const auto gen = generation();
    juce::MessageManager::callAsync ([gen, w = std::move (work)]
    {
        if (gen == generation())
            w();
    });
}

// ---- The backend ------------------------------------------------------------------------------
namespace
{
std::atomic<Backend*> installedBackend { nullptr };
} // namespace

OSStatus injectedFailure (Call call, AudioObjectID object, const AudioObjectPropertyAddress* address)
{
    auto* backend = installedBackend.load();
    return backend != nullptr ? backend->failureFor (call, object, address) : 0;
}

IOReturn firmwareAnswer (int firmware, const IOUSBDevRequest& request)
{
    auto* backend = installedBackend.load();
    return backend != nullptr ? backend->deviceRequest (firmware, request) : kIOReturnSuccess;
}
} // namespace tarvik::platform::detail

namespace tarvik::platform
{
void setBackend (Backend* backend) { detail::installedBackend.store (backend); }
} // namespace tarvik::platform
