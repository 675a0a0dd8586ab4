#pragma once

#include "platform/MacPlatform.h"

#include <atomic>

/** Every CoreAudio property the panel reads or writes, each named once here.

    The input side is gInAudioObjectID and the output side gOutAudioObjectID; scope
    'inpt' always goes to the first, 'outp' to the second. An operation on a side whose
    id is 0 fails like any other failed property call.
*/

/** The CoreAudio object of the TARVIK's input side; 0 = none. */
extern std::atomic<AudioObjectID> gInAudioObjectID;

/** The CoreAudio object of the TARVIK's output side; 0 = none. */
extern std::atomic<AudioObjectID> gOutAudioObjectID;

/** The standard stream format: four channels of packed 24-bit signed integers at the given rate. */
AudioStreamBasicDescription hw_standardStreamFormat (Float64 sampleRate);

/** The 32 kHz stream format: two channels of 16-bit signed integers at 32000 Hz. */
AudioStreamBasicDescription hw_32kStreamFormat();

//==============================================================================
// Binding reads, on any listed device with the pass's scope.

/** Reads the byte size of the system's device list. */
OSStatus hw_readDeviceListSize (UInt32* dataSize);

/** Reads the system's device list into a buffer of dataSize bytes. */
OSStatus hw_readDeviceList (UInt32* dataSize, AudioObjectID* devices);

/** Reads the device's UID; the caller releases the string. */
OSStatus hw_readDeviceUID (AudioObjectID device, AudioObjectPropertyScope scope, CFStringRef* uid);

/** Reads the device's name; the caller releases the string. */
OSStatus hw_readDeviceName (AudioObjectID device, AudioObjectPropertyScope scope, CFStringRef* name);

/** Reads the device's manufacturer; the caller releases the string. */
OSStatus hw_readDeviceManufacturer (AudioObjectID device, AudioObjectPropertyScope scope, CFStringRef* manufacturer);

/** Reads the byte size of the device's stream configuration in the scope's direction. */
OSStatus hw_readStreamConfigurationSize (AudioObjectID device, AudioObjectPropertyScope scope, UInt32* dataSize);

/** Reads the device's stream configuration into a buffer of dataSize bytes. */
OSStatus hw_readStreamConfiguration (AudioObjectID device, AudioObjectPropertyScope scope,
                                     UInt32* dataSize, AudioBufferList* streams);

/** Watches every property of the device with myAudioObjectPropertyListenerProc. */
OSStatus hw_addPropertyListener (AudioObjectID device, void* clientData);

//==============================================================================
// Reads of the property listener, on the notifying object.

OSStatus hw_readNotifiedUInt32 (AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32* value);
OSStatus hw_readNotifiedFloat32 (AudioObjectID object, const AudioObjectPropertyAddress& address, Float32* value);
OSStatus hw_readNotifiedRate (AudioObjectID object, const AudioObjectPropertyAddress& address, Float64* rate);

/** Reads the input data source of the object, whatever scope was notified. */
OSStatus hw_readDataSource (AudioObjectID object, UInt32* source);

//==============================================================================
// Channel operations: scope 'inpt' or 'outp', channel 1 or 2.

OSStatus hw_readChannelVolume (AudioObjectPropertyScope scope, UInt32 channel, Float32* decibels);
OSStatus hw_writeChannelVolume (AudioObjectPropertyScope scope, UInt32 channel, Float32 decibels);
OSStatus hw_readChannelMute (AudioObjectPropertyScope scope, UInt32 channel, UInt32* muted);
OSStatus hw_writeChannelMute (AudioObjectPropertyScope scope, UInt32 channel, UInt32 muted);

//==============================================================================
// Stream format and rate.

/** Writes the standard stream format at the rate to the input side, then to the output side. */
void hw_writeStreamFormatAtRate (Float64 sampleRate);

/** Writes the 32 kHz stream format to the input side, then to the output side. */
void hw_write32kStreamFormat();

OSStatus hw_readNominalRate (AudioObjectID side, Float64* sampleRate);
OSStatus hw_writeNominalRate (AudioObjectID side, Float64 sampleRate);
