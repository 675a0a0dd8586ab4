#pragma once

#include "platform/MacPlatform.h"

/** The TARVIK's raw USB control channel, used only to switch its internal loopback.

    It watches for the interface by its USB vendor and product id on a notification
    port of its own, opens and configures the device when it arrives and forgets it
    when it goes. Everything here runs on the message thread.
*/

/** The opened and configured USB device interface of the TARVIK; null while none is held. */
extern IOUSBDeviceInterface** gUSBdevice;

/** Registers the raw-device arrival and removal notifications and opens a TARVIK
    that is already attached. Call once, on the message thread.
*/
void RegisterRawDeviceNotifications();

/** Closes and releases the held device interface, if any, and drains the removal notifications. */
void CloseRawDevice();

/** Arrival callback: opens and configures every matching device the iterator yields. */
void RawDeviceAdded (void* refCon, io_iterator_t iterator);

/** Removal callback: releases the terminated objects; when the held device is among them it
    is closed and forgotten, and a matching device still attached, if any, is opened instead.
*/
void RawDeviceRemoved (void* refCon, io_iterator_t iterator);

/** Switches the loopback off (mode 0) or on (mode 1).

    @returns kIOReturnSuccess when the device took all three requests, kIOReturnNoDevice
             when no device is held, otherwise the status of the request that failed
             (the device is then closed and forgotten).
*/
IOReturn ubs_hw_toggleLoopbackMode (unsigned int mode);
