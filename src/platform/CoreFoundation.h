#pragma once

// CoreFoundation as the device link uses it: reference counting, strings,
// numbers, dictionaries, UUIDs and the run loop. Object references are opaque.

#include <cstddef>
#include <cstdint>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;
typedef unsigned char Boolean;
typedef SInt32 OSStatus;
typedef UInt16 UniChar;

typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef UInt32 CFStringEncoding;

struct CFRange
{
    CFIndex location;
    CFIndex length;
};

inline CFRange CFRangeMake (CFIndex location, CFIndex length) { return { location, length }; }

struct TarvikCFAllocator;
struct TarvikCFString;
struct TarvikCFNumber;
struct TarvikCFDictionary;
struct TarvikCFUUID;
struct TarvikCFRunLoop;
struct TarvikCFRunLoopSource;

typedef const void* CFTypeRef;
typedef const TarvikCFAllocator* CFAllocatorRef;
typedef const TarvikCFString* CFStringRef;
typedef TarvikCFString* CFMutableStringRef;
typedef const TarvikCFNumber* CFNumberRef;
typedef const TarvikCFDictionary* CFDictionaryRef;
typedef TarvikCFDictionary* CFMutableDictionaryRef;
typedef const TarvikCFUUID* CFUUIDRef;
typedef TarvikCFRunLoop* CFRunLoopRef;
typedef TarvikCFRunLoopSource* CFRunLoopSourceRef;
typedef CFStringRef CFRunLoopMode;

/** The default allocator is the null allocator reference, as on the real platform. */
#define kCFAllocatorDefault ((CFAllocatorRef) nullptr)

// ---- Reference counting -------------------------------------------------------------------
CFTypeRef CFRetain (CFTypeRef object);
void CFRelease (CFTypeRef object);
CFIndex CFGetRetainCount (CFTypeRef object);
CFTypeID CFGetTypeID (CFTypeRef object);
Boolean CFEqual (CFTypeRef a, CFTypeRef b);

// ---- Strings ------------------------------------------------------------------------------
enum : CFStringEncoding
{
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100
};

typedef CFIndex CFComparisonResult;
enum : CFComparisonResult
{
    kCFCompareLessThan = -1,
    kCFCompareEqualTo = 0,
    kCFCompareGreaterThan = 1
};

typedef CFOptionFlags CFStringCompareFlags;
enum : CFStringCompareFlags
{
    kCFCompareCaseInsensitive = 1
};

CFTypeID CFStringGetTypeID();
CFStringRef CFStringCreateWithCString (CFAllocatorRef allocator, const char* cString, CFStringEncoding encoding);
CFStringRef CFStringCreateWithCharacters (CFAllocatorRef allocator, const UniChar* characters, CFIndex numCharacters);
/** Length in UTF-16 code units. */
CFIndex CFStringGetLength (CFStringRef string);
void CFStringGetCharacters (CFStringRef string, CFRange range, UniChar* buffer);
/** Copies the string into a NUL-terminated buffer; false when it does not fit or cannot be encoded. */
Boolean CFStringGetCString (CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
/** May return null, as on the real platform; fall back to CFStringGetCString. */
const char* CFStringGetCStringPtr (CFStringRef string, CFStringEncoding encoding);
CFIndex CFStringGetMaximumSizeForEncoding (CFIndex length, CFStringEncoding encoding);
CFComparisonResult CFStringCompare (CFStringRef a, CFStringRef b, CFStringCompareFlags options);

/** Backs CFSTR: an immortal string, the same object for the same text. */
CFStringRef TarvikCFStringMakeConstant (const char* cString);
#define CFSTR(cStr) TarvikCFStringMakeConstant ("" cStr "")

// ---- Numbers ------------------------------------------------------------------------------
typedef CFIndex CFNumberType;
enum : CFNumberType
{
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberIntType = 9,
    kCFNumberLongLongType = 11,
    kCFNumberDoubleType = 13
};

CFTypeID CFNumberGetTypeID();
CFNumberRef CFNumberCreate (CFAllocatorRef allocator, CFNumberType type, const void* valuePtr);
/** Stores the value converted to the type; false when the conversion lost information. */
Boolean CFNumberGetValue (CFNumberRef number, CFNumberType type, void* valuePtr);

// ---- Dictionaries -------------------------------------------------------------------------
struct CFDictionaryKeyCallBacks
{
    CFIndex version;
};

struct CFDictionaryValueCallBacks
{
    CFIndex version;
};

/** Keys and values are retained and compared with CFEqual; other callbacks are not supported. */
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFTypeID CFDictionaryGetTypeID();
CFMutableDictionaryRef CFDictionaryCreateMutable (CFAllocatorRef allocator,
                                                  CFIndex capacity,
                                                  const CFDictionaryKeyCallBacks* keyCallBacks,
                                                  const CFDictionaryValueCallBacks* valueCallBacks);
/** The value is not retained for the caller. */
const void* CFDictionaryGetValue (CFDictionaryRef dictionary, const void* key);
void CFDictionarySetValue (CFMutableDictionaryRef dictionary, const void* key, const void* value);
void CFDictionaryRemoveValue (CFMutableDictionaryRef dictionary, const void* key);
CFIndex CFDictionaryGetCount (CFDictionaryRef dictionary);

// ---- UUIDs --------------------------------------------------------------------------------
struct CFUUIDBytes
{
    UInt8 byte0, byte1, byte2, byte3, byte4, byte5, byte6, byte7;
    UInt8 byte8, byte9, byte10, byte11, byte12, byte13, byte14, byte15;
};

/** Immortal, one object per value. */
CFUUIDRef CFUUIDGetConstantUUIDWithBytes (CFAllocatorRef allocator,
                                          UInt8 byte0, UInt8 byte1, UInt8 byte2, UInt8 byte3,
                                          UInt8 byte4, UInt8 byte5, UInt8 byte6, UInt8 byte7,
                                          UInt8 byte8, UInt8 byte9, UInt8 byte10, UInt8 byte11,
                                          UInt8 byte12, UInt8 byte13, UInt8 byte14, UInt8 byte15);
CFUUIDBytes CFUUIDGetUUIDBytes (CFUUIDRef uuid);
CFUUIDRef CFUUIDCreateFromUUIDBytes (CFAllocatorRef allocator, CFUUIDBytes bytes);

// ---- Run loop -----------------------------------------------------------------------------
extern const CFRunLoopMode kCFRunLoopDefaultMode;
extern const CFRunLoopMode kCFRunLoopCommonModes;

/** The calling thread's run loop. Only the message thread's run loop ever delivers anything:
    no other thread runs one here. */
CFRunLoopRef CFRunLoopGetCurrent();
/** The message thread's run loop. */
CFRunLoopRef CFRunLoopGetMain();
void CFRunLoopAddSource (CFRunLoopRef runLoop, CFRunLoopSourceRef source, CFRunLoopMode mode);
void CFRunLoopRemoveSource (CFRunLoopRef runLoop, CFRunLoopSourceRef source, CFRunLoopMode mode);
