#pragma once

// CoreAudio hardware properties as the device link uses them. Use the named constants:
// four-character literals such as 'vold' draw multi-character warnings here.

#include "platform/CoreFoundation.h"

typedef UInt32 AudioObjectID;
typedef UInt32 AudioDeviceID;
typedef UInt32 AudioObjectPropertySelector;
typedef UInt32 AudioObjectPropertyScope;
typedef UInt32 AudioObjectPropertyElement;
typedef UInt32 AudioFormatID;
typedef UInt32 AudioFormatFlags;

/** A four-character code as its big-endian 32-bit value. */
constexpr UInt32 TarvikFourCC (const char (&code)[5])
{
    return ((UInt32) (UInt8) code[0] << 24) | ((UInt32) (UInt8) code[1] << 16)
         | ((UInt32) (UInt8) code[2] << 8) | (UInt32) (UInt8) code[3];
}

struct AudioObjectPropertyAddress
{
    AudioObjectPropertySelector mSelector;
    AudioObjectPropertyScope mScope;
    AudioObjectPropertyElement mElement;
};

typedef OSStatus (*AudioObjectPropertyListenerProc) (AudioObjectID inObjectID,
                                                     UInt32 inNumberAddresses,
                                                     const AudioObjectPropertyAddress* inAddresses,
                                                     void* inClientData);

struct AudioStreamBasicDescription
{
    Float64 mSampleRate;
    AudioFormatID mFormatID;
    AudioFormatFlags mFormatFlags;
    UInt32 mBytesPerPacket;
    UInt32 mFramesPerPacket;
    UInt32 mBytesPerFrame;
    UInt32 mChannelsPerFrame;
    UInt32 mBitsPerChannel;
    UInt32 mReserved;
};

struct AudioBuffer
{
    UInt32 mNumberChannels;
    UInt32 mDataByteSize;
    void* mData;
};

struct AudioBufferList
{
    UInt32 mNumberBuffers;
    AudioBuffer mBuffers[1];
};

// ---- Objects, scopes, elements ------------------------------------------------------------
constexpr AudioObjectID kAudioObjectUnknown = 0;
constexpr AudioObjectID kAudioObjectSystemObject = 1;

constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = TarvikFourCC ("glob");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeInput = TarvikFourCC ("inpt");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = TarvikFourCC ("outp");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeWildcard = TarvikFourCC ("****");
constexpr AudioObjectPropertyScope kAudioDevicePropertyScopeInput = kAudioObjectPropertyScopeInput;
constexpr AudioObjectPropertyScope kAudioDevicePropertyScopeOutput = kAudioObjectPropertyScopeOutput;

constexpr AudioObjectPropertySelector kAudioObjectPropertySelectorWildcard = TarvikFourCC ("****");
constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;
constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMaster = 0;
constexpr AudioObjectPropertyElement kAudioObjectPropertyElementWildcard = 0xFFFFFFFF;

// ---- Selectors ----------------------------------------------------------------------------
constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = TarvikFourCC ("dev#");
constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceUID = TarvikFourCC ("uid ");
constexpr AudioObjectPropertySelector kAudioObjectPropertyName = TarvikFourCC ("lnam");
constexpr AudioObjectPropertySelector kAudioObjectPropertyManufacturer = TarvikFourCC ("lmak");
constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamConfiguration = TarvikFourCC ("slay");
constexpr AudioObjectPropertySelector kAudioDevicePropertyVolumeDecibels = TarvikFourCC ("vold");
constexpr AudioObjectPropertySelector kAudioDevicePropertyVolumeScalar = TarvikFourCC ("volm");
constexpr AudioObjectPropertySelector kAudioDevicePropertyMute = TarvikFourCC ("mute");
constexpr AudioObjectPropertySelector kAudioDevicePropertyPlayThru = TarvikFourCC ("thru");
constexpr AudioObjectPropertySelector kAudioDevicePropertyDataSource = TarvikFourCC ("ssrc");
constexpr AudioObjectPropertySelector kAudioDevicePropertyNominalSampleRate = TarvikFourCC ("nsrt");
constexpr AudioObjectPropertySelector kAudioStreamPropertyPhysicalFormat = TarvikFourCC ("pft ");

// ---- Formats ------------------------------------------------------------------------------
constexpr AudioFormatID kAudioFormatLinearPCM = TarvikFourCC ("lpcm");
constexpr AudioFormatFlags kAudioFormatFlagIsFloat = 0x1;
constexpr AudioFormatFlags kAudioFormatFlagIsBigEndian = 0x2;
constexpr AudioFormatFlags kAudioFormatFlagIsSignedInteger = 0x4;
constexpr AudioFormatFlags kAudioFormatFlagIsPacked = 0x8;

// ---- Status codes -------------------------------------------------------------------------
constexpr OSStatus kAudioHardwareNoError = 0;
constexpr OSStatus kAudioHardwareNotRunningError = (OSStatus) TarvikFourCC ("stop");
constexpr OSStatus kAudioHardwareUnspecifiedError = (OSStatus) TarvikFourCC ("what");
constexpr OSStatus kAudioHardwareUnknownPropertyError = (OSStatus) TarvikFourCC ("who?");
constexpr OSStatus kAudioHardwareBadPropertySizeError = (OSStatus) TarvikFourCC ("!siz");
constexpr OSStatus kAudioHardwareIllegalOperationError = (OSStatus) TarvikFourCC ("nope");
constexpr OSStatus kAudioHardwareBadObjectError = (OSStatus) TarvikFourCC ("!obj");
constexpr OSStatus kAudioDeviceUnsupportedFormatError = (OSStatus) TarvikFourCC ("!dat");

// ---- Calls --------------------------------------------------------------------------------
OSStatus AudioObjectGetPropertyDataSize (AudioObjectID inObjectID,
                                         const AudioObjectPropertyAddress* inAddress,
                                         UInt32 inQualifierDataSize,
                                         const void* inQualifierData,
                                         UInt32* outDataSize);

/** CFStringRef values are returned with a reference that the caller releases. */
OSStatus AudioObjectGetPropertyData (AudioObjectID inObjectID,
                                     const AudioObjectPropertyAddress* inAddress,
                                     UInt32 inQualifierDataSize,
                                     const void* inQualifierData,
                                     UInt32* ioDataSize,
                                     void* outData);

OSStatus AudioObjectSetPropertyData (AudioObjectID inObjectID,
                                     const AudioObjectPropertyAddress* inAddress,
                                     UInt32 inQualifierDataSize,
                                     const void* inQualifierData,
                                     UInt32 inDataSize,
                                     const void* inData);

/** Listeners run on the stand-in's notification thread, after the change. Adding the same
    (address, proc, client data) again keeps one registration. */
OSStatus AudioObjectAddPropertyListener (AudioObjectID inObjectID,
                                         const AudioObjectPropertyAddress* inAddress,
                                         AudioObjectPropertyListenerProc inListener,
                                         void* inClientData);

OSStatus AudioObjectRemovePropertyListener (AudioObjectID inObjectID,
                                            const AudioObjectPropertyAddress* inAddress,
                                            AudioObjectPropertyListenerProc inListener,
                                            void* inClientData);
