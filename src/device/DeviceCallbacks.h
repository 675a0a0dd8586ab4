#pragma once

#include <cstdint>

/** The TARVIK's USB identity: the maker's vendor id and the interface's product id. */
constexpr std::uint32_t kVYRUSBVendorID = 0x2F3D;
constexpr std::uint32_t kTarvikUSBProductID = 0x0032;

/** The events the device link reports to its one registered sink. The value 4 is not used. */
enum VYR_CallbackEvent
{
    EventDevicePlugged = 1,      ///< the TARVIK arrived and both of its CoreAudio sides are bound
    EventDeviceRemoved = 2,      ///< the TARVIK was detached
    EventPropertyChanged = 3,    ///< a watched CoreAudio property of a bound side changed
    EventSystemWillSleep = 5,    ///< the system is about to sleep
    EventSystemWillPowerOn = 6,  ///< the system is about to power on
    EventSystemHasPoweredOn = 7  ///< the system has powered on
};

/** The event sink: the owner's userData, a reserved pointer that is always null, and the event.

    It is called synchronously on the thread that detected the event: the message thread
    for everything but EventPropertyChanged, which comes from the CoreAudio notification
    thread while that thread holds the juce::MessageManagerLock.
*/
typedef void (*DeviceEventCallback) (void* userData, void* reserved, VYR_CallbackEvent event);

/** The registration record of the device link. Its address is the user data of every
    device callback; each callback finds the owner and the sink through it.
*/
struct DeviceCallbackStruct
{
    void* userData;                    ///< the owner, handed back as the sink's first argument
    std::uint32_t vendorId;            ///< compared with the USB "idVendor"
    std::uint32_t productId;           ///< compared with the USB "idProduct"
    std::uint8_t reserved[8];          ///< never written or read
    const char* usbProductName;        ///< compared with the USB "USB Product Name"
    const char* coreAudioName;         ///< the wanted CoreAudio device name
    const char* vendorName;            ///< the USB "USB Vendor Name" and the wanted CoreAudio manufacturer
    DeviceEventCallback eventCallback; ///< the event sink
};

/** The one registration record; all zero until its owner fills it. */
extern DeviceCallbackStruct mydeviceStruct;

/** Fills mydeviceStruct for the TARVIK: its USB identity and names, the owner and its sink.
    The reserved bytes are left as they are.
*/
void FillTarvikRegistration (void* owner, DeviceEventCallback sink);

/** Hands the event to the sink of the record that refcon points to.

    Nothing is sent while the record's userData is null. Off the message thread the record
    is only read, and the sink only called, while that thread holds the message-manager
    lock, so an owner that withdraws its userData on the message thread never receives an
    event afterwards. An event still waiting for the lock when the owner is withdrawn, or
    when the framework shuts down, is dropped.
*/
void SendDeviceEvent (void* refcon, VYR_CallbackEvent event);

/** Withdraws the owner from mydeviceStruct: every event from now on is dropped.

    Call it on the message thread (or while holding the juce::MessageManagerLock) before
    the owner goes away. An event from another thread is delivered only while that thread
    holds the lock, so it either reached the sink before this call or never will.
*/
void WithdrawDeviceUserData();

/** Makes the framework's shutdown drop events that wait for the message-manager lock.
    RegisterDeviceCallBacks() calls it; call it on the message thread.
*/
void WatchFrameworkShutdown();
