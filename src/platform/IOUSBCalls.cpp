#include <cstring>
#include <type_traits>

#include "platform/detail/World.h"

using namespace tarvik::platform::detail;
using tarvik::platform::Call;

namespace
{
struct InterfaceState
{
    std::atomic<ULONG> references { 1 };
    std::shared_ptr<UsbService> service;
    bool open = false;
    UInt8 configuration = 0;
    IOUSBConfigurationDescriptor descriptor {};
};

// The caller's interface pointer points at the table pointer, the first member.
struct PlugInInstance
{
    IOCFPlugInInterface* table;
    InterfaceState* state;
};

struct DeviceInstance
{
    IOUSBDeviceInterface* table;
    InterfaceState* state;
};

template <typename Instance>
InterfaceState& stateOf (void* self)
{
    return *static_cast<Instance*> (self)->state;
}

bool sameUuid (const CFUUIDBytes& a, CFUUIDRef b)
{
    const auto bytes = CFUUIDGetUUIDBytes (b);
    return std::memcmp (&a, &bytes, sizeof (bytes)) == 0;
}

using EventKind = tarvik::platform::UsbDeviceEventRecord::Kind;

void logDeviceEvent (World& w, const InterfaceState& state, EventKind kind)
{
    World::appendToLog (w.usbDeviceEvents, tarvik::platform::UsbDeviceEventRecord {
                                               kind, state.service->simId, state.service->description.firmware, state.open });
}

template <typename Instance>
ULONG release (void* self)
{
    auto* instance = static_cast<Instance*> (self);
    const ULONG left = --instance->state->references;
    if (left == 0)
    {
        auto& w = world();
        const std::lock_guard<std::mutex> guard (w.lock);
        if constexpr (std::is_same_v<Instance, DeviceInstance>)
            logDeviceEvent (w, *instance->state, EventKind::released);
        if (instance->state->open && instance->state->service->openedBy == self)
            instance->state->service->openedBy = nullptr;
        --w.liveUsbInterfaces;
        delete instance->state;
        delete instance;
    }
    return left;
}

template <typename Instance>
ULONG addRef (void* self)
{
    return ++stateOf<Instance> (self).references;
}

HRESULT queryInterface (void* self, REFIID iid, LPVOID* ppv);

IOReturn deviceOpen (void* self)
{
    if (auto status = injectedFailure (Call::USBDeviceOpen))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto& state = stateOf<DeviceInstance> (self);
    if (! state.service->attached)
        return kIOReturnNoDevice;
    if (state.service->openedBy != nullptr && state.service->openedBy != self)
        return kIOReturnExclusiveAccess;
    state.service->openedBy = self;
    logDeviceEvent (w, state, EventKind::opened);
    state.open = true;
    return kIOReturnSuccess;
}

IOReturn deviceClose (void* self)
{
    if (auto status = injectedFailure (Call::USBDeviceClose))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto& state = stateOf<DeviceInstance> (self);
    if (! state.open)
        return kIOReturnNotOpen;
    state.open = false;
    logDeviceEvent (w, state, EventKind::closed);
    if (state.service->openedBy == self)
        state.service->openedBy = nullptr;
    return kIOReturnSuccess;
}

IOReturn readId (void* self, UInt16* out, Call call, const std::optional<SInt32> tarvik::platform::UsbDeviceDescription::*field)
{
    if (out == nullptr)
        return kIOReturnBadArgument;
    if (auto status = injectedFailure (call))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    *out = (UInt16) (stateOf<DeviceInstance> (self).service->description.*field).value_or (0);
    return kIOReturnSuccess;
}

IOReturn getVendor (void* self, UInt16* out)
{
    return readId (self, out, Call::GetDeviceVendor, &tarvik::platform::UsbDeviceDescription::vendorId);
}

IOReturn getProduct (void* self, UInt16* out)
{
    return readId (self, out, Call::GetDeviceProduct, &tarvik::platform::UsbDeviceDescription::productId);
}

IOReturn getRelease (void* self, UInt16* out)
{
    if (out == nullptr)
        return kIOReturnBadArgument;
    if (auto status = injectedFailure (Call::GetDeviceReleaseNumber))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    *out = stateOf<DeviceInstance> (self).service->description.releaseNumber;
    return kIOReturnSuccess;
}

IOReturn getNumberOfConfigurations (void* self, UInt8* out)
{
    if (out == nullptr)
        return kIOReturnBadArgument;
    if (auto status = injectedFailure (Call::GetNumberOfConfigurations))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    *out = stateOf<DeviceInstance> (self).service->description.numberOfConfigurations;
    return kIOReturnSuccess;
}

IOReturn getConfigurationDescriptor (void* self, UInt8 index, IOUSBConfigurationDescriptorPtr* out)
{
    if (out == nullptr)
        return kIOReturnBadArgument;
    if (auto status = injectedFailure (Call::GetConfigurationDescriptorPtr))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto& state = stateOf<DeviceInstance> (self);
    const auto& description = state.service->description;
    if (index >= description.numberOfConfigurations)
        return kIOReturnBadArgument;

    state.descriptor = {};
    state.descriptor.bLength = 9;
    state.descriptor.bDescriptorType = 2;
    state.descriptor.wTotalLength = 9;
    state.descriptor.bNumInterfaces = 3;
    state.descriptor.bConfigurationValue = (UInt8) (description.configurationValue + index);
    state.descriptor.bmAttributes = 0x80;
    state.descriptor.MaxPower = 250;
    *out = &state.descriptor;
    return kIOReturnSuccess;
}

IOReturn getConfiguration (void* self, UInt8* out)
{
    if (out == nullptr)
        return kIOReturnBadArgument;
    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    *out = stateOf<DeviceInstance> (self).configuration;
    return kIOReturnSuccess;
}

IOReturn setConfiguration (void* self, UInt8 value)
{
    if (auto status = injectedFailure (Call::SetConfiguration))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto& state = stateOf<DeviceInstance> (self);
    const auto& description = state.service->description;
    if (! state.open)
        return kIOReturnNotOpen;
    if (! state.service->attached)
        return kIOReturnNoDevice;
    if (value < description.configurationValue || value >= description.configurationValue + description.numberOfConfigurations)
        return kIOReturnBadArgument;
    state.configuration = value;
    return kIOReturnSuccess;
}

IOReturn deviceRequest (void* self, IOUSBDevRequest* req)
{
    if (req == nullptr)
        return kIOReturnBadArgument;

    tarvik::platform::UsbTransferRecord transfer;
    transfer.bmRequestType = req->bmRequestType;
    transfer.bRequest = req->bRequest;
    transfer.wValue = req->wValue;
    transfer.wIndex = req->wIndex;
    transfer.wLength = req->wLength;
    if ((req->bmRequestType & 0x80) == 0 && req->pData != nullptr)
    {
        auto* bytes = static_cast<const UInt8*> (req->pData);
        transfer.data.assign (bytes, bytes + req->wLength);
    }

    const auto injected = injectedFailure (Call::DeviceRequest);

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto& state = stateOf<DeviceInstance> (self);
    transfer.firmware = state.service->description.firmware;

    if (injected != 0)
        transfer.status = injected;
    else if (! state.service->attached)
        transfer.status = kIOReturnNoDevice;
    else if (! state.open)
        transfer.status = kIOReturnNotOpen;
    else if (transfer.firmware != 0)
        transfer.status = firmwareAnswer (transfer.firmware, *req);
    else
        transfer.status = kIOReturnSuccess;

    req->wLenDone = transfer.status == kIOReturnSuccess ? req->wLength : 0;
    World::appendToLog (w.transfers, transfer);
    return transfer.status;
}

IOCFPlugInInterface plugInTable {
    nullptr, &queryInterface, &addRef<PlugInInstance>, &release<PlugInInstance>
};

IOUSBDeviceInterface deviceTable {
    nullptr,
    &queryInterface,
    &addRef<DeviceInstance>,
    &release<DeviceInstance>,
    &deviceOpen,
    &deviceClose,
    &getVendor,
    &getProduct,
    &getRelease,
    &getNumberOfConfigurations,
    &getConfigurationDescriptor,
    &getConfiguration,
    &setConfiguration,
    &deviceRequest,
};

// Both tables share this: the plug-in hands out the device interface, and either answers
// for itself.
HRESULT queryInterface (void* self, REFIID iid, LPVOID* ppv)
{
    if (ppv == nullptr)
        return E_FAIL;
    *ppv = nullptr;

    if (auto status = injectedFailure (Call::QueryInterface))
        return status;

    const bool isPlugIn = *static_cast<void* const*> (self) == static_cast<void*> (&plugInTable);

    if (sameUuid (iid, kIOUSBDeviceInterfaceID))
    {
        if (! isPlugIn)
        {
            addRef<DeviceInstance> (self);
            *ppv = self;
            return S_OK;
        }

        auto& w = world();
        const std::lock_guard<std::mutex> guard (w.lock);
        auto* state = new InterfaceState();
        state->service = stateOf<PlugInInstance> (self).service;
        ++w.liveUsbInterfaces;
        *ppv = new DeviceInstance { &deviceTable, state };
        return S_OK;
    }

    if (isPlugIn && sameUuid (iid, kIOCFPlugInInterfaceID))
    {
        addRef<PlugInInstance> (self);
        *ppv = self;
        return S_OK;
    }

    return E_NOINTERFACE;
}
} // namespace

kern_return_t IOCreatePlugInInterfaceForService (io_service_t service,
                                                 CFUUIDRef pluginType,
                                                 CFUUIDRef interfaceType,
                                                 IOCFPlugInInterface*** theInterface,
                                                 SInt32* theScore)
{
    if (theInterface == nullptr || theScore == nullptr)
        return kIOReturnBadArgument;
    *theInterface = nullptr;
    *theScore = 0;

    if (auto status = injectedFailure (Call::IOCreatePlugInInterfaceForService))
        return status;

    if (pluginType != kIOUSBDeviceUserClientTypeID || interfaceType != kIOCFPlugInInterfaceID)
        return kIOReturnUnsupported;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    auto usb = std::dynamic_pointer_cast<UsbService> (w.lookUp (service));
    if (usb == nullptr)
        return kIOReturnBadArgument;
    if (! usb->attached)
        return kIOReturnNoDevice;

    auto* state = new InterfaceState();
    state->service = usb;
    ++w.liveUsbInterfaces;
    auto* instance = new PlugInInstance { &plugInTable, state };
    *theInterface = &instance->table;
    return kIOReturnSuccess;
}

kern_return_t IODestroyPlugInInterface (IOCFPlugInInterface** plugin)
{
    if (plugin == nullptr)
        return kIOReturnBadArgument;
    (*plugin)->Release (plugin);
    return kIOReturnSuccess;
}
