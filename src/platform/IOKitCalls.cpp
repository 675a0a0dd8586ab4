#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/detail/World.h"

using namespace tarvik::platform::detail;
using tarvik::platform::Call;

namespace
{
constexpr mach_port_t taskPort = 0x103;

template <typename Object>
std::shared_ptr<Object> lookUpAs (World& w, io_object_t handle)
{
    return std::dynamic_pointer_cast<Object> (w.lookUp (handle));
}
} // namespace

// ---- Mach ---------------------------------------------------------------------------------------
mach_port_t mach_task_self() { return taskPort; }

kern_return_t mach_port_deallocate (ipc_space_t task, mach_port_name_t name)
{
    if (auto status = injectedFailure (Call::mach_port_deallocate))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    if (task != taskPort || w.masterPorts.erase (name) == 0)
        return KERN_INVALID_NAME;
    return KERN_SUCCESS;
}

// ---- Registry and notifications -----------------------------------------------------------------
kern_return_t IOMasterPort (mach_port_t, mach_port_t* masterPort)
{
    if (masterPort == nullptr)
        return kIOReturnBadArgument;

    if (auto status = injectedFailure (Call::IOMasterPort))
    {
        *masterPort = MACH_PORT_NULL;
        return status;
    }

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    *masterPort = w.nextMachPort;
    w.nextMachPort += 4;
    w.masterPorts.insert (*masterPort);
    return kIOReturnSuccess;
}

CFMutableDictionaryRef IOServiceMatching (const char* name)
{
    if (name == nullptr || injectedFailure (Call::IOServiceMatching) != 0)
        return nullptr;

    auto* dictionary = CFDictionaryCreateMutable (kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                  &kCFTypeDictionaryValueCallBacks);
    auto* className = makeString (name);
    CFDictionarySetValue (dictionary, CFSTR (kIOProviderClassKey), className);
    CFRelease (className);
    return dictionary;
}

IONotificationPortRef IONotificationPortCreate (mach_port_t)
{
    if (injectedFailure (Call::IONotificationPortCreate) != 0)
        return nullptr;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    w.ports.push_back (std::make_unique<TarvikIONotificationPort>());
    return w.ports.back().get();
}

void IONotificationPortDestroy (IONotificationPortRef notifyPort)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    for (auto& n : w.notifications)
        if (n->port == notifyPort)
            n->port = nullptr;

    for (auto& weak : w.powerConnections)
        if (auto c = weak.lock(); c != nullptr && c->port == notifyPort)
            c->port = nullptr;

    auto& ports = w.ports;
    ports.erase (std::remove_if (ports.begin(), ports.end(), [&] (auto& p) { return p.get() == notifyPort; }), ports.end());
}

namespace
{
// The real calls dereference the port: a caller that passes the null port of a failed
// IONotificationPortCreate must end here as it would end there, not carry on quietly.
[[noreturn]] void nullNotificationPort (const char* call)
{
    std::fprintf (stderr, "%s: null IONotificationPortRef\n", call);
    std::fflush (stderr);
    std::abort();
}
} // namespace

CFRunLoopSourceRef IONotificationPortGetRunLoopSource (IONotificationPortRef notifyPort)
{
    if (notifyPort == nullptr)
        nullNotificationPort ("IONotificationPortGetRunLoopSource");

    return notifyPort->source;
}

kern_return_t IOServiceAddMatchingNotification (IONotificationPortRef notifyPort,
                                                const char* notificationType,
                                                CFDictionaryRef matching,
                                                IOServiceMatchingCallback callback,
                                                void* refCon,
                                                io_iterator_t* notification)
{
    if (notification != nullptr)
        *notification = 0;

    if (matching == nullptr)
        return kIOReturnBadArgument;

    if (notifyPort == nullptr)
        nullNotificationPort ("IOServiceAddMatchingNotification");

    // The dictionary's reference is consumed whatever happens.
    if (notificationType == nullptr || callback == nullptr || notification == nullptr)
    {
        CFRelease (matching);
        return kIOReturnBadArgument;
    }

    if (auto status = injectedFailure (Call::IOServiceAddMatchingNotification))
    {
        CFRelease (matching);
        return status;
    }

    const bool arrival = std::strcmp (notificationType, kIOFirstMatchNotification) == 0
                      || std::strcmp (notificationType, kIOMatchedNotification) == 0
                      || std::strcmp (notificationType, kIOPublishNotification) == 0;
    if (! arrival && std::strcmp (notificationType, kIOTerminatedNotification) != 0)
    {
        CFRelease (matching);
        return kIOReturnUnsupported;
    }

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    auto n = std::make_shared<MatchNotification>();
    n->port = notifyPort;
    n->arrival = arrival;
    n->matching = matching;
    n->callback = callback;
    n->refcon = refCon;

    auto iterator = std::make_shared<IteratorObject>();
    iterator->notification = n;
    n->iterator = iterator;
    w.notifications.push_back (n);

    if (arrival)
    {
        for (auto& s : w.services)
            if (serviceMatches (*s, matching))
                iterator->pending.push_back (s);
    }

    *notification = w.handOut (iterator);
    return kIOReturnSuccess;
}

kern_return_t IOServiceGetMatchingServices (mach_port_t, CFDictionaryRef matching, io_iterator_t* existing)
{
    if (existing != nullptr)
        *existing = 0;

    if (matching == nullptr)
        return kIOReturnBadArgument;

    // The dictionary's reference is consumed whatever happens.
    const auto status = existing == nullptr ? kIOReturnBadArgument : injectedFailure (Call::IOServiceGetMatchingServices);

    if (status == 0)
    {
        auto& w = world();
        const std::lock_guard<std::mutex> guard (w.lock);

        auto iterator = std::make_shared<IteratorObject>();
        for (auto& s : w.services)
            if (serviceMatches (*s, matching))
                iterator->pending.push_back (s);

        *existing = w.handOut (iterator);
    }

    CFRelease (matching);
    return status;
}

kern_return_t IORegistryEntryGetRegistryEntryID (io_registry_entry_t entry, uint64_t* entryID)
{
    if (entryID == nullptr)
        return kIOReturnBadArgument;
    *entryID = 0;

    if (auto status = injectedFailure (Call::IORegistryEntryGetRegistryEntryID))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    auto service = lookUpAs<UsbService> (w, entry);
    if (service == nullptr)
        return kIOReturnBadArgument;

    *entryID = (uint64_t) 0x100000000 + (uint64_t) service->simId;
    return kIOReturnSuccess;
}

io_object_t IOIteratorNext (io_iterator_t iterator)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    auto it = lookUpAs<IteratorObject> (w, iterator);
    if (it == nullptr)
        return 0;

    if (it->pending.empty())
    {
        it->armed = true;
        return 0;
    }

    auto service = it->pending.front();
    it->pending.pop_front();
    return w.handOut (service);
}

kern_return_t IOObjectRelease (io_object_t object)
{
    if (auto status = injectedFailure (Call::IOObjectRelease))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    auto o = w.lookUp (object);
    if (o == nullptr)
        return kIOReturnBadArgument;

    if (--o->userReferences > 0)
        return kIOReturnSuccess;

    w.handles.erase (o->handle);
    o->handle = 0;

    if (auto iterator = std::dynamic_pointer_cast<IteratorObject> (o))
    {
        auto& ns = w.notifications;
        ns.erase (std::remove (ns.begin(), ns.end(), iterator->notification), ns.end());
        iterator->notification.reset();
    }
    return kIOReturnSuccess;
}

kern_return_t IOObjectRetain (io_object_t object)
{
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto o = w.lookUp (object);
    if (o == nullptr)
        return kIOReturnBadArgument;
    ++o->userReferences;
    return kIOReturnSuccess;
}

kern_return_t IORegistryEntryCreateCFProperties (io_registry_entry_t entry,
                                                 CFMutableDictionaryRef* properties,
                                                 CFAllocatorRef,
                                                 IOOptionBits)
{
    if (properties == nullptr)
        return kIOReturnBadArgument;
    *properties = nullptr;

    if (auto status = injectedFailure (Call::IORegistryEntryCreateCFProperties))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    auto service = lookUpAs<UsbService> (w, entry);
    if (service == nullptr)
        return kIOReturnBadArgument;

    // A terminated service keeps its properties readable.
    auto* copy = CFDictionaryCreateMutable (kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                            &kCFTypeDictionaryValueCallBacks);
    for (auto& [key, value] : service->properties->entries)
        CFDictionarySetValue (copy, key, value);
    *properties = copy;
    return kIOReturnSuccess;
}

// ---- System power -------------------------------------------------------------------------------
io_connect_t IORegisterForSystemPower (void* refcon,
                                       IONotificationPortRef* thePortRef,
                                       IOServiceInterestCallback callback,
                                       io_object_t* notifier)
{
    if (thePortRef != nullptr)
        *thePortRef = nullptr;
    if (notifier != nullptr)
        *notifier = 0;

    if (thePortRef == nullptr || notifier == nullptr || callback == nullptr
        || injectedFailure (Call::IORegisterForSystemPower) != 0)
        return MACH_PORT_NULL;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    w.ports.push_back (std::make_unique<TarvikIONotificationPort>());
    auto connection = std::make_shared<PowerConnection>();
    connection->port = w.ports.back().get();
    connection->callback = callback;
    connection->refcon = refcon;
    w.powerConnections.push_back (connection);

    *thePortRef = connection->port;
    *notifier = w.handOut (std::make_shared<PlainObject>());
    return w.handOut (connection);
}

IOReturn IOAllowPowerChange (io_connect_t kernelPort, intptr_t notificationID)
{
    if (auto status = injectedFailure (Call::IOAllowPowerChange))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    if (lookUpAs<PowerConnection> (w, kernelPort) == nullptr)
        return kIOReturnBadArgument;

    w.allowedPowerChanges.insert (notificationID);
    return kIOReturnSuccess;
}
