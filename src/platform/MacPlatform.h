#pragma once

// The platform interfaces the device link is written against. On macOS these are the
// real frameworks; elsewhere our stand-in with the simulated interface behind it.

#if defined(__APPLE__)
 #include <CoreAudio/CoreAudio.h>
 #include <CoreFoundation/CoreFoundation.h>
 #include <IOKit/IOCFPlugIn.h>
 #include <IOKit/IOKitLib.h>
 #include <IOKit/IOMessage.h>
 #include <IOKit/pwr_mgt/IOPMLib.h>
 #include <IOKit/usb/IOUSBLib.h>
 #include <mach/mach.h>
constexpr UInt32 TarvikFourCC (const char (&code)[5])
{
    return ((UInt32) (UInt8) code[0] << 24) | ((UInt32) (UInt8) code[1] << 16)
         | ((UInt32) (UInt8) code[2] << 8) | (UInt32) (UInt8) code[3];
}
#else
 #include "platform/CoreAudio.h"
 #include "platform/CoreFoundation.h"
 #include "platform/IOKit.h"
 #include "platform/IOUSB.h"
 #include "platform/Mach.h"
#endif

#include "platform/Sleep.h"
