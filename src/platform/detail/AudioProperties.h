#pragma once

#include "platform/detail/World.h"

namespace tarvik::platform::detail::audio
{
/** The device's rates; some lie outside what the panel offers so that other programs can pick them. */
bool isSupportedRate (double rate);

/** Four channels of packed 24-bit integers at a rate, or two of 16-bit at 32 kHz. */
AudioStreamBasicDescription standardFormat (double rate);
AudioStreamBasicDescription format32k();

// All with the world's lock held.
OSStatus propertySize (World& w, AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32& size);
OSStatus readProperty (World& w, AudioObjectID object, const AudioObjectPropertyAddress& address,
                       UInt32& ioSize, void* out);
/** Logs the write; a non-zero injected status fails it without touching the device. */
OSStatus writeProperty (World& w, AudioObjectID object, const AudioObjectPropertyAddress& address,
                        UInt32 size, const void* data, bool external, OSStatus injected);
} // namespace tarvik::platform::detail::audio
