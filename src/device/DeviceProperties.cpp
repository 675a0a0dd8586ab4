#include "device/DeviceProperties.h"

#include "device/RegisterDeviceCallBacksMac.h"

std::atomic<AudioObjectID> gInAudioObjectID { kAudioObjectUnknown };
std::atomic<AudioObjectID> gOutAudioObjectID { kAudioObjectUnknown };

static_assert (std::atomic<AudioObjectID>::is_always_lock_free, "the ids are read on the notification thread");
static_assert (sizeof (AudioStreamBasicDescription) == 40, "the stream format is written as 40 bytes");

namespace
{
AudioObjectID sideObject (AudioObjectPropertyScope scope)
{
    return scope == kAudioObjectPropertyScopeInput ? gInAudioObjectID.load() : gOutAudioObjectID.load();
}

template <typename Value>
OSStatus readProperty (AudioObjectID object, const AudioObjectPropertyAddress& address, Value* value)
{
    UInt32 dataSize = sizeof (Value);
    return AudioObjectGetPropertyData (object, &address, 0, nullptr, &dataSize, value);
}

template <typename Value>
OSStatus writeProperty (AudioObjectID object, const AudioObjectPropertyAddress& address, const Value& value)
{
    return AudioObjectSetPropertyData (object, &address, 0, nullptr, sizeof (Value), &value);
}

AudioStreamBasicDescription linearPCM (Float64 sampleRate, UInt32 channels, UInt32 bitsPerChannel)
{
    const UInt32 bytesPerFrame = channels * (bitsPerChannel / 8);

    AudioStreamBasicDescription format {};
    format.mSampleRate = sampleRate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    format.mBytesPerPacket = bytesPerFrame;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = bytesPerFrame;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = bitsPerChannel;
    format.mReserved = 0;
    return format;
}

const AudioObjectPropertyAddress devicesAddress { kAudioHardwarePropertyDevices,
                                                  kAudioObjectPropertyScopeGlobal, 0 };

const AudioObjectPropertyAddress everyPropertyAddress { kAudioObjectPropertySelectorWildcard,
                                                        kAudioObjectPropertyScopeWildcard,
                                                        kAudioObjectPropertyElementWildcard };

const AudioObjectPropertyAddress nominalRateAddress { kAudioDevicePropertyNominalSampleRate,
                                                      kAudioObjectPropertyScopeWildcard, 0 };
} // namespace

AudioStreamBasicDescription hw_standardStreamFormat (Float64 sampleRate)
{
    return linearPCM (sampleRate, 4, 24);
}

AudioStreamBasicDescription hw_32kStreamFormat()
{
    return linearPCM (32000.0, 2, 16);
}

//==============================================================================
OSStatus hw_readDeviceListSize (UInt32* dataSize)
{
    return AudioObjectGetPropertyDataSize (kAudioObjectSystemObject, &devicesAddress, 0, nullptr, dataSize);
}

OSStatus hw_readDeviceList (UInt32* dataSize, AudioObjectID* devices)
{
    return AudioObjectGetPropertyData (kAudioObjectSystemObject, &devicesAddress, 0, nullptr, dataSize, devices);
}

OSStatus hw_readDeviceUID (AudioObjectID device, AudioObjectPropertyScope scope, CFStringRef* uid)
{
    return readProperty (device, { kAudioDevicePropertyDeviceUID, scope, 0 }, uid);
}

OSStatus hw_readDeviceName (AudioObjectID device, AudioObjectPropertyScope scope, CFStringRef* name)
{
    return readProperty (device, { kAudioObjectPropertyName, scope, 0 }, name);
}

OSStatus hw_readDeviceManufacturer (AudioObjectID device, AudioObjectPropertyScope scope, CFStringRef* manufacturer)
{
    return readProperty (device, { kAudioObjectPropertyManufacturer, scope, 0 }, manufacturer);
}

OSStatus hw_readStreamConfigurationSize (AudioObjectID device, AudioObjectPropertyScope scope, UInt32* dataSize)
{
    const AudioObjectPropertyAddress address { kAudioDevicePropertyStreamConfiguration, scope, 0 };
    return AudioObjectGetPropertyDataSize (device, &address, 0, nullptr, dataSize);
}

OSStatus hw_readStreamConfiguration (AudioObjectID device, AudioObjectPropertyScope scope,
                                     UInt32* dataSize, AudioBufferList* streams)
{
    const AudioObjectPropertyAddress address { kAudioDevicePropertyStreamConfiguration, scope, 0 };
    return AudioObjectGetPropertyData (device, &address, 0, nullptr, dataSize, streams);
}

OSStatus hw_addPropertyListener (AudioObjectID device, void* clientData)
{
    return AudioObjectAddPropertyListener (device, &everyPropertyAddress, myAudioObjectPropertyListenerProc, clientData);
}

//==============================================================================
OSStatus hw_readNotifiedUInt32 (AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32* value)
{
    return readProperty (object, address, value);
}

OSStatus hw_readNotifiedFloat32 (AudioObjectID object, const AudioObjectPropertyAddress& address, Float32* value)
{
    return readProperty (object, address, value);
}

OSStatus hw_readNotifiedRate (AudioObjectID object, const AudioObjectPropertyAddress& address, Float64* rate)
{
    return readProperty (object, address, rate);
}

OSStatus hw_readDataSource (AudioObjectID object, UInt32* source)
{
    return readProperty (object, { kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeInput, 0 }, source);
}

//==============================================================================
OSStatus hw_readChannelVolume (AudioObjectPropertyScope scope, UInt32 channel, Float32* decibels)
{
    return readProperty (sideObject (scope), { kAudioDevicePropertyVolumeDecibels, scope, channel }, decibels);
}

OSStatus hw_writeChannelVolume (AudioObjectPropertyScope scope, UInt32 channel, Float32 decibels)
{
    return writeProperty (sideObject (scope), { kAudioDevicePropertyVolumeDecibels, scope, channel }, decibels);
}

OSStatus hw_readChannelMute (AudioObjectPropertyScope scope, UInt32 channel, UInt32* muted)
{
    return readProperty (sideObject (scope), { kAudioDevicePropertyMute, scope, channel }, muted);
}

OSStatus hw_writeChannelMute (AudioObjectPropertyScope scope, UInt32 channel, UInt32 muted)
{
    return writeProperty (sideObject (scope), { kAudioDevicePropertyMute, scope, channel }, muted);
}

//==============================================================================
void hw_writeStreamFormatAtRate (Float64 sampleRate)
{
    const auto format = hw_standardStreamFormat (sampleRate);

    for (const auto scope : { kAudioObjectPropertyScopeInput, kAudioObjectPropertyScopeOutput })
        writeProperty (sideObject (scope), { kAudioStreamPropertyPhysicalFormat, scope, 0 }, format);
}

void hw_write32kStreamFormat()
{
    const auto format = hw_32kStreamFormat();
    const AudioObjectPropertyAddress address { kAudioStreamPropertyPhysicalFormat, kAudioObjectPropertyScopeWildcard, 0 };

    writeProperty (gInAudioObjectID.load(), address, format);
    writeProperty (gOutAudioObjectID.load(), address, format);
}

OSStatus hw_readNominalRate (AudioObjectID side, Float64* sampleRate)
{
    return readProperty (side, nominalRateAddress, sampleRate);
}

OSStatus hw_writeNominalRate (AudioObjectID side, Float64 sampleRate)
{
    return writeProperty (side, nominalRateAddress, sampleRate);
}
