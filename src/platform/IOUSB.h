#pragma once

// The IOKit USB device interface, reached through the plug-in mechanism. Interfaces are
// pointers to pointers to function tables: call them as (*dev)->DeviceRequest (dev, &request).

#include "platform/IOKit.h"

typedef SInt32 HRESULT;
typedef UInt32 ULONG;
typedef void* LPVOID;
typedef CFUUIDBytes REFIID;

#define S_OK ((HRESULT) 0)
#define E_NOINTERFACE ((HRESULT) 0x80000004)
#define E_FAIL ((HRESULT) 0x80000008)

#define kIOUSBDeviceClassName "IOUSBDevice"
#define kUSBVendorString "USB Vendor Name"
#define kUSBProductString "USB Product Name"
#define kUSBVendorID "idVendor"
#define kUSBProductID "idProduct"
#define kUSBDeviceReleaseNumber "bcdDevice"

#define kIOUSBPipeStalled ((IOReturn) 0xE000404F)

// Request type fields for USBmakebmRequestType.
enum
{
    kUSBOut = 0,
    kUSBIn = 1
};
enum
{
    kUSBStandard = 0,
    kUSBClass = 1,
    kUSBVendor = 2
};
enum
{
    kUSBDevice = 0,
    kUSBInterface = 1,
    kUSBEndpoint = 2
};
#define USBmakebmRequestType(direction, type, recipient) \
    ((UInt8) ((((direction) & 1) << 7) | (((type) & 3) << 5) | ((recipient) & 0x1F)))

struct IOUSBDevRequest
{
    UInt8 bmRequestType;
    UInt8 bRequest;
    UInt16 wValue;
    UInt16 wIndex;
    UInt16 wLength;
    void* pData;
    UInt32 wLenDone;
};

#pragma pack(push, 1)
struct IOUSBConfigurationDescriptor
{
    UInt8 bLength;
    UInt8 bDescriptorType;
    UInt16 wTotalLength;
    UInt8 bNumInterfaces;
    UInt8 bConfigurationValue;
    UInt8 iConfiguration;
    UInt8 bmAttributes;
    UInt8 MaxPower;
};
#pragma pack(pop)
typedef IOUSBConfigurationDescriptor* IOUSBConfigurationDescriptorPtr;

/** The generic plug-in interface, from which the device interface is queried. */
struct IOCFPlugInInterface
{
    void* _reserved;
    HRESULT (*QueryInterface) (void* thisPointer, REFIID iid, LPVOID* ppv);
    ULONG (*AddRef) (void* thisPointer);
    ULONG (*Release) (void* thisPointer);
};

/** The basic USB device interface. */
struct IOUSBDeviceInterface
{
    void* _reserved;
    HRESULT (*QueryInterface) (void* thisPointer, REFIID iid, LPVOID* ppv);
    ULONG (*AddRef) (void* thisPointer);
    ULONG (*Release) (void* thisPointer);
    IOReturn (*USBDeviceOpen) (void* self);
    IOReturn (*USBDeviceClose) (void* self);
    IOReturn (*GetDeviceVendor) (void* self, UInt16* devVendor);
    IOReturn (*GetDeviceProduct) (void* self, UInt16* devProduct);
    IOReturn (*GetDeviceReleaseNumber) (void* self, UInt16* devRelNum);
    IOReturn (*GetNumberOfConfigurations) (void* self, UInt8* numConfig);
    IOReturn (*GetConfigurationDescriptorPtr) (void* self, UInt8 configIndex, IOUSBConfigurationDescriptorPtr* desc);
    IOReturn (*GetConfiguration) (void* self, UInt8* configNum);
    IOReturn (*SetConfiguration) (void* self, UInt8 configNum);
    /** Synchronous control transfer on the default pipe, no time-out. */
    IOReturn (*DeviceRequest) (void* self, IOUSBDevRequest* req);
};

#define kIOUSBDeviceUserClientTypeID \
    CFUUIDGetConstantUUIDWithBytes (nullptr, 0x7A, 0x31, 0x5E, 0x02, 0x4C, 0x11, 0x4B, 0x9E, \
                                    0x91, 0x0D, 0x3A, 0x6F, 0x20, 0x55, 0xC1, 0x01)
#define kIOCFPlugInInterfaceID \
    CFUUIDGetConstantUUIDWithBytes (nullptr, 0x7A, 0x31, 0x5E, 0x02, 0x4C, 0x11, 0x4B, 0x9E, \
                                    0x91, 0x0D, 0x3A, 0x6F, 0x20, 0x55, 0xC1, 0x02)
#define kIOUSBDeviceInterfaceID \
    CFUUIDGetConstantUUIDWithBytes (nullptr, 0x7A, 0x31, 0x5E, 0x02, 0x4C, 0x11, 0x4B, 0x9E, \
                                    0x91, 0x0D, 0x3A, 0x6F, 0x20, 0x55, 0xC1, 0x03)

/** Creates the plug-in for a USB device service; release it with its Release. */
kern_return_t IOCreatePlugInInterfaceForService (io_service_t service,
                                                 CFUUIDRef pluginType,
                                                 CFUUIDRef interfaceType,
                                                 IOCFPlugInInterface*** theInterface,
                                                 SInt32* theScore);
kern_return_t IODestroyPlugInInterface (IOCFPlugInInterface** plugin);
