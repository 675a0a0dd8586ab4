#pragma once

// IOKit as the device link uses it: the registry, matching notifications with their
// iterators, notification ports and system power.

#include "platform/CoreFoundation.h"
#include "platform/Mach.h"

typedef kern_return_t IOReturn;
typedef mach_port_t io_object_t;
typedef io_object_t io_iterator_t;
typedef io_object_t io_service_t;
typedef io_object_t io_registry_entry_t;
typedef io_object_t io_connect_t;
typedef UInt32 IOOptionBits;
typedef char io_name_t[128];

struct TarvikIONotificationPort;
typedef TarvikIONotificationPort* IONotificationPortRef;

typedef void (*IOServiceMatchingCallback) (void* refcon, io_iterator_t iterator);
typedef void (*IOServiceInterestCallback) (void* refcon, io_service_t service, natural_t messageType, void* messageArgument);

// ---- Status codes -------------------------------------------------------------------------
#define kIOReturnSuccess KERN_SUCCESS
#define kIOReturnError ((IOReturn) 0xE00002BC)
#define kIOReturnNoMemory ((IOReturn) 0xE00002BD)
#define kIOReturnNoResources ((IOReturn) 0xE00002BE)
#define kIOReturnBadArgument ((IOReturn) 0xE00002C2)
#define kIOReturnExclusiveAccess ((IOReturn) 0xE00002C5)
#define kIOReturnUnsupported ((IOReturn) 0xE00002C7)
#define kIOReturnNoDevice ((IOReturn) 0xE00002C0)
#define kIOReturnNotOpen ((IOReturn) 0xE00002CD)
#define kIOReturnNotResponding ((IOReturn) 0xE00002ED)
#define kIOReturnAborted ((IOReturn) 0xE00002EB)

// ---- Power messages -----------------------------------------------------------------------
#define kIOMessageCanSystemSleep ((natural_t) 0xE0000270)
#define kIOMessageSystemWillSleep ((natural_t) 0xE0000280)
#define kIOMessageSystemWillNotSleep ((natural_t) 0xE0000290)
#define kIOMessageSystemHasPoweredOn ((natural_t) 0xE0000300)
#define kIOMessageSystemWillPowerOn ((natural_t) 0xE0000320)

// ---- Notification types and well-known keys -----------------------------------------------
#define kIOFirstMatchNotification "IOServiceFirstMatch"
#define kIOMatchedNotification "IOServiceMatched"
#define kIOPublishNotification "IOServicePublish"
#define kIOTerminatedNotification "IOServiceTerminate"
#define kIOProviderClassKey "IOProviderClass"

#define kIOMasterPortDefault MACH_PORT_NULL

// ---- Registry and notifications -----------------------------------------------------------
kern_return_t IOMasterPort (mach_port_t bootstrapPort, mach_port_t* masterPort);

/** A new mutable dictionary { "IOProviderClass": name }, or null. */
CFMutableDictionaryRef IOServiceMatching (const char* name);

IONotificationPortRef IONotificationPortCreate (mach_port_t masterPort);
void IONotificationPortDestroy (IONotificationPortRef notifyPort);
/** Owned by the port; do not release. */
CFRunLoopSourceRef IONotificationPortGetRunLoopSource (IONotificationPortRef notifyPort);

/** Consumes one reference of matching. The arrival iterator holds every matching service present
    now, the termination iterator none; the callback fires once the iterator has been drained. */
kern_return_t IOServiceAddMatchingNotification (IONotificationPortRef notifyPort,
                                                const char* notificationType,
                                                CFDictionaryRef matching,
                                                IOServiceMatchingCallback callback,
                                                void* refCon,
                                                io_iterator_t* notification);

/** Every registered service that matches now, in an iterator of its own (release it when done).
    Consumes one reference of matching. */
kern_return_t IOServiceGetMatchingServices (mach_port_t masterPort, CFDictionaryRef matching, io_iterator_t* existing);

/** The entry's id in the registry: unique and never reused, readable after termination too. */
kern_return_t IORegistryEntryGetRegistryEntryID (io_registry_entry_t entry, uint64_t* entryID);

/** The next object with one reference for the caller, or 0 at the end. */
io_object_t IOIteratorNext (io_iterator_t iterator);
kern_return_t IOObjectRelease (io_object_t object);
kern_return_t IOObjectRetain (io_object_t object);

kern_return_t IORegistryEntryCreateCFProperties (io_registry_entry_t entry,
                                                 CFMutableDictionaryRef* properties,
                                                 CFAllocatorRef allocator,
                                                 IOOptionBits options);

// ---- System power -------------------------------------------------------------------------
/** The root power connection, or 0 (MACH_PORT_NULL) on failure. */
io_connect_t IORegisterForSystemPower (void* refcon,
                                       IONotificationPortRef* thePortRef,
                                       IOServiceInterestCallback callback,
                                       io_object_t* notifier);
IOReturn IOAllowPowerChange (io_connect_t kernelPort, intptr_t notificationID);
