#pragma once

#include "device/DeviceCallbacks.h"
#include "platform/MacPlatform.h"

/** Presence, binding, property listener, power and sample rate of the TARVIK.

    The owner fills mydeviceStruct, then calls RegisterDeviceCallBacks() once on the
    message thread. From then on the USB presence and power callbacks run on the message
    thread and the property listener on CoreAudio's notification thread; every event
    reaches the sink in mydeviceStruct until the owner calls WithdrawDeviceUserData().
*/

/** The connection of the system power registration; power changes are allowed on it. */
extern io_connect_t root_port;

/** The IOKit master port of the presence notifications. */
extern mach_port_t gMasterDevicePort;

/** The notification port of both presence notifications. */
extern IONotificationPortRef gNotifyPort;

/** The run-loop source of gNotifyPort. */
extern CFRunLoopSourceRef gRunLoopSource;

/** Registers for system power notifications, then for the USB presence notifications,
    and runs both presence callbacks once, so that a TARVIK already attached is bound and
    EventDevicePlugged sent before this returns. Call once, on the message thread, after
    mydeviceStruct has been filled. The registrations last for the life of the process.
*/
void RegisterDeviceCallBacks();

/** Matching callback of every USB device that is present or arrives: binds the TARVIK. A
    TARVIK that has gone again by the time its arrival is handled is passed over.
*/
void USBPlugCallback (void* refcon, io_iterator_t iterator);

/** Matching callback of every USB device that goes away: reports the TARVIK's removal,
    unless a TARVIK whose arrival was reported is still attached or the removal was already
    reported.
*/
void USBRemoveCallback (void* refcon, io_iterator_t iterator);

/** System power callback: allows sleep at once and forwards the power events. */
void MySleepCallBack (void* refcon, io_service_t service, natural_t messageType, void* messageArgument);

/** Finds the CoreAudio devices of the TARVIK's input and output sides by name and
    manufacturer, watches them with the property listener and records them in
    gInAudioObjectID and gOutAudioObjectID. A side found nowhere keeps its previous id.
*/
void CreateInputDeviceArray (CFStringRef name, CFStringRef manufacturer, void* refcon);

/** The CoreAudio property listener: reports changes of the watched properties to the sink
    and keeps the input and output nominal rates equal. Always returns 0.
*/
OSStatus myAudioObjectPropertyListenerProc (AudioObjectID objectID, UInt32 addressCount,
                                            const AudioObjectPropertyAddress* addresses, void* clientData);

/** Brings both sides to one nominal rate, the output side's, and returns it in Hz; 0 when
    the rate cannot be read or the sides do not agree. May block for about 300 ms.
    Message thread only.
*/
Float64 hw_getSampleRate();
