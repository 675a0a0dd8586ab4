#include <cmath>
#include <cstring>

#include "platform/detail/AudioProperties.h"
#include "platform/detail/World.h"

using namespace tarvik::platform::detail;
using tarvik::platform::Call;

OSStatus AudioObjectGetPropertyDataSize (AudioObjectID inObjectID,
                                         const AudioObjectPropertyAddress* inAddress,
                                         UInt32,
                                         const void*,
                                         UInt32* outDataSize)
{
    if (inAddress == nullptr || outDataSize == nullptr)
        return kAudioHardwareIllegalOperationError;
    if (auto status = injectedFailure (Call::AudioObjectGetPropertyDataSize, inObjectID, inAddress))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return audio::propertySize (w, inObjectID, *inAddress, *outDataSize);
}

OSStatus AudioObjectGetPropertyData (AudioObjectID inObjectID,
                                     const AudioObjectPropertyAddress* inAddress,
                                     UInt32,
                                     const void*,
                                     UInt32* ioDataSize,
                                     void* outData)
{
    if (inAddress == nullptr || ioDataSize == nullptr || outData == nullptr)
        return kAudioHardwareIllegalOperationError;
    if (auto status = injectedFailure (Call::AudioObjectGetPropertyData, inObjectID, inAddress))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return audio::readProperty (w, inObjectID, *inAddress, *ioDataSize, outData);
}

OSStatus AudioObjectSetPropertyData (AudioObjectID inObjectID,
                                     const AudioObjectPropertyAddress* inAddress,
                                     UInt32,
                                     const void*,
                                     UInt32 inDataSize,
                                     const void* inData)
{
    if (inAddress == nullptr || inData == nullptr)
        return kAudioHardwareIllegalOperationError;

    const auto injected = injectedFailure (Call::AudioObjectSetPropertyData, inObjectID, inAddress);

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);
    return audio::writeProperty (w, inObjectID, *inAddress, inDataSize, inData, false, injected);
}

OSStatus AudioObjectAddPropertyListener (AudioObjectID inObjectID,
                                         const AudioObjectPropertyAddress* inAddress,
                                         AudioObjectPropertyListenerProc inListener,
                                         void* inClientData)
{
    if (inAddress == nullptr || inListener == nullptr)
        return kAudioHardwareIllegalOperationError;
    if (auto status = injectedFailure (Call::AudioObjectAddPropertyListener, inObjectID, inAddress))
        return status;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    std::vector<Listener>* listeners = &w.systemListeners;
    if (inObjectID != kAudioObjectSystemObject)
    {
        auto device = w.audioDevice (inObjectID);
        if (device == nullptr || ! w.isListed (*device))
            return kAudioHardwareBadObjectError;
        listeners = &device->listeners;
    }

    for (auto& l : *listeners)
        if (l.proc == inListener && l.clientData == inClientData && l.address.mSelector == inAddress->mSelector
            && l.address.mScope == inAddress->mScope && l.address.mElement == inAddress->mElement)
            return kAudioHardwareNoError;

    listeners->push_back ({ *inAddress, inListener, inClientData });
    return kAudioHardwareNoError;
}

OSStatus AudioObjectRemovePropertyListener (AudioObjectID inObjectID,
                                            const AudioObjectPropertyAddress* inAddress,
                                            AudioObjectPropertyListenerProc inListener,
                                            void* inClientData)
{
    if (inAddress == nullptr)
        return kAudioHardwareIllegalOperationError;

    auto& w = world();
    const std::lock_guard<std::mutex> guard (w.lock);

    std::vector<Listener>* listeners = &w.systemListeners;
    if (inObjectID != kAudioObjectSystemObject)
    {
        auto device = w.audioDevice (inObjectID);
        if (device == nullptr)
            return kAudioHardwareBadObjectError;
        listeners = &device->listeners;
    }

    for (auto it = listeners->begin(); it != listeners->end(); ++it)
    {
        if (it->proc == inListener && it->clientData == inClientData && it->address.mSelector == inAddress->mSelector
            && it->address.mScope == inAddress->mScope && it->address.mElement == inAddress->mElement)
        {
            listeners->erase (it);
            return kAudioHardwareNoError;
        }
    }
    return kAudioHardwareUnknownPropertyError;
}
