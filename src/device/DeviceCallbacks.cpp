#include "device/DeviceCallbacks.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

DeviceCallbackStruct mydeviceStruct {};

namespace
{
// How long a delivery from another thread waits before it asks for the lock again, after
// the framework refused it without waiting.
constexpr std::chrono::milliseconds minimumRetryPause { 1 };
constexpr std::chrono::milliseconds maximumRetryPause { 50 };

/** A delivery from another thread that waits for the message-manager lock. */
struct PendingDelivery
{
    juce::MessageManager::Lock lock;
    bool abandoned = false; // guarded by deliveryMutex
};

std::mutex deliveryMutex;
std::condition_variable deliveryAbandoned;                        // signalled under deliveryMutex
std::vector<PendingDelivery*> pendingDeliveries;                  // guarded by deliveryMutex
std::vector<std::unique_ptr<PendingDelivery>> retiredDeliveries; // guarded by deliveryMutex
bool frameworkShutDown = false;                                   // guarded by deliveryMutex

/** Deletes the deliveries that are done with. Runs on the message thread, in a message of
    its own: every message that granted one of their locks has finished by then.
*/
void deleteRetiredDeliveries()
{
    std::vector<std::unique_ptr<PendingDelivery>> done;

    {
        const std::lock_guard<std::mutex> guard (deliveryMutex);
        done.swap (retiredDeliveries);
    }
}

// Call with deliveryMutex held, on the message thread.
void abandonPendingDeliveries()
{
    for (auto* delivery : pendingDeliveries)
    {
        delivery->abandoned = true;
        delivery->lock.abort();
    }

    deliveryAbandoned.notify_all();
}

/** Once the framework shuts down the message loop never runs again: a delivery still
    waiting for the lock would wait forever, so it is abandoned instead.
*/
struct ShutdownWatch final : public juce::DeletedAtShutdown
{
    ShutdownWatch() = default;

    ~ShutdownWatch() override
    {
        {
            const std::lock_guard<std::mutex> guard (deliveryMutex);
            frameworkShutDown = true;
            abandonPendingDeliveries();
        }

        // The message that would have deleted them will never be dispatched.
        deleteRetiredDeliveries();
    }

    JUCE_DECLARE_NON_COPYABLE (ShutdownWatch)
};

void deliver (const DeviceCallbackStruct& device, VYR_CallbackEvent event)
{
    if (device.userData != nullptr && device.eventCallback != nullptr)
        device.eventCallback (device.userData, nullptr, event);
}

/** Lets go of a delivery's lock. The message thread may still be signalling the lock's
    event when tryEnter has already returned, so the lock is deleted there, after the
    message that granted it has finished.
*/
void release (std::unique_ptr<PendingDelivery> delivery)
{
    delivery->lock.exit();

    // Posted under the mutex, so that the framework's shutdown, which takes it first, never
    // meets a post half done.
    const std::lock_guard<std::mutex> guard (deliveryMutex);

    // Once the loop has stopped, no message thread signals any lock any more.
    if (frameworkShutDown)
        return;

    retiredDeliveries.push_back (std::move (delivery));
    juce::MessageManager::callAsync (deleteRetiredDeliveries);
}

void deliverFromOtherThread (const DeviceCallbackStruct& device, VYR_CallbackEvent event)
{
    auto owned = std::make_unique<PendingDelivery>();
    auto& delivery = *owned;

    {
        const std::lock_guard<std::mutex> guard (deliveryMutex);

        if (frameworkShutDown || juce::MessageManager::getInstanceWithoutCreating() == nullptr)
            return;

        pendingDeliveries.push_back (&delivery);
    }

    bool locked = false;
    auto pause = minimumRetryPause;

    for (;;)
    {
        {
            const std::lock_guard<std::mutex> guard (deliveryMutex);

            if (delivery.abandoned)
                break;
        }

        // tryEnter waits while the message thread is busy, but once the quit message has been
        // posted it gives up at once, every time, until the framework shuts down: retrying
        // straight away would spin a core for as long. Only an abandoned delivery stops trying.
        if (delivery.lock.tryEnter())
        {
            locked = true;
            break;
        }

        std::unique_lock<std::mutex> guard (deliveryMutex);
        deliveryAbandoned.wait_for (guard, pause, [&delivery] { return delivery.abandoned; });
        pause = std::min (pause * 2, maximumRetryPause);
    }

    {
        const std::lock_guard<std::mutex> guard (deliveryMutex);
        pendingDeliveries.erase (std::find (pendingDeliveries.begin(), pendingDeliveries.end(), &delivery));
    }

    // The owner may have been withdrawn while this thread waited: look again under the lock.
    if (locked)
        deliver (device, event);

    release (std::move (owned));
}
} // namespace

void FillTarvikRegistration (void* owner, DeviceEventCallback sink)
{
    mydeviceStruct.vendorId = kVYRUSBVendorID;
    mydeviceStruct.productId = kTarvikUSBProductID;
    mydeviceStruct.userData = owner;
    mydeviceStruct.usbProductName = "TARVIK";
    mydeviceStruct.coreAudioName = "TARVIK";
    mydeviceStruct.vendorName = "VYR Zelvatek GmbH";
    mydeviceStruct.eventCallback = sink;
}

void SendDeviceEvent (void* refcon, VYR_CallbackEvent event)
{
    const auto* device = static_cast<const DeviceCallbackStruct*> (refcon);

    if (device == nullptr)
        return;

    if (juce::MessageManager::existsAndIsCurrentThread())
        deliver (*device, event);
    else
        deliverFromOtherThread (*device, event);
}

void WithdrawDeviceUserData()
{
    jassert (juce::MessageManager::existsAndIsLockedByCurrentThread());

    mydeviceStruct.userData = nullptr;

    const std::lock_guard<std::mutex> guard (deliveryMutex);
    abandonPendingDeliveries();
}

void WatchFrameworkShutdown()
{
    static bool watching = false;

    if (! watching)
    {
        watching = true;
        new ShutdownWatch();
    }
}
