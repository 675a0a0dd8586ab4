#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

#include "platform/detail/CFObjects.h"

namespace
{
std::atomic<int> liveObjects { 0 };

enum : CFTypeID
{
    stringType = 7,
    numberType = 22,
    dictionaryType = 18,
    uuidType = 29,
    runLoopType = 43,
    runLoopSourceType = 46
};

std::u16string utf16FromUtf8 (const char* text)
{
    const juce::String s { juce::CharPointer_UTF8 (text) };
    const auto utf16 = s.toUTF16();
    std::u16string result;
    for (auto* unit = utf16.getAddress(); *unit != 0; ++unit)
        result.push_back ((char16_t) *unit);
    return result;
}

juce::String juceString (const std::u16string& text)
{
    std::u16string terminated (text);
    return juce::String (juce::CharPointer_UTF16 (reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (terminated.c_str())));
}

std::mutex immortalLock;
} // namespace

// ---- Objects ----------------------------------------------------------------------------------
TarvikCFObject::TarvikCFObject() { ++liveObjects; }
TarvikCFObject::~TarvikCFObject() { --liveObjects; }

TarvikCFString::TarvikCFString (std::u16string textToUse)
    : text (std::move (textToUse)), utf8 (juceString (text).toStdString())
{
}

CFTypeID TarvikCFString::typeId() const { return stringType; }
bool TarvikCFString::equals (const TarvikCFObject& other) const
{
    auto* s = dynamic_cast<const TarvikCFString*> (&other);
    return s != nullptr && s->text == text;
}

CFTypeID TarvikCFNumber::typeId() const { return numberType; }
bool TarvikCFNumber::equals (const TarvikCFObject& other) const
{
    auto* n = dynamic_cast<const TarvikCFNumber*> (&other);
    if (n == nullptr)
        return false;
    if (! isFloat && ! n->isFloat)
        return integer == n->integer;
    const double a = isFloat ? real : (double) integer;
    const double b = n->isFloat ? n->real : (double) n->integer;
    return ! (a < b) && ! (b < a);
}

TarvikCFDictionary::~TarvikCFDictionary()
{
    for (auto& [key, value] : entries)
    {
        CFRelease (key);
        CFRelease (value);
    }
}
CFTypeID TarvikCFDictionary::typeId() const { return dictionaryType; }
CFTypeID TarvikCFUUID::typeId() const { return uuidType; }
CFTypeID TarvikCFRunLoop::typeId() const { return runLoopType; }
CFTypeID TarvikCFRunLoopSource::typeId() const { return runLoopSourceType; }

namespace tarvik::platform::detail
{
const TarvikCFObject* cfObject (CFTypeRef ref) { return static_cast<const TarvikCFObject*> (ref); }

CFStringRef makeString (const std::string& utf8)
{
    return new TarvikCFString (utf16FromUtf8 (utf8.c_str()));
}

std::string toUtf8 (CFStringRef string) { return string != nullptr ? string->utf8 : std::string(); }

CFNumberRef makeNumber (SInt64 value)
{
    auto* n = new TarvikCFNumber();
    n->integer = value;
    return n;
}

int liveCFObjects() { return liveObjects.load(); }

void markImmortal (TarvikCFObject& object)
{
    if (! object.immortal)
    {
        object.immortal = true;
        --liveObjects;
    }
}
} // namespace tarvik::platform::detail

// ---- Reference counting -----------------------------------------------------------------------
CFTypeRef CFRetain (CFTypeRef object)
{
    jassert (object != nullptr);
    if (auto* o = tarvik::platform::detail::cfObject (object); o != nullptr && ! o->immortal)
        ++const_cast<TarvikCFObject*> (o)->references;
    return object;
}

void CFRelease (CFTypeRef object)
{
    jassert (object != nullptr);
    auto* o = const_cast<TarvikCFObject*> (tarvik::platform::detail::cfObject (object));
    if (o == nullptr || o->immortal)
        return;
    if (--o->references == 0)
        delete o;
}

CFIndex CFGetRetainCount (CFTypeRef object)
{
    auto* o = tarvik::platform::detail::cfObject (object);
    return o->immortal ? std::numeric_limits<CFIndex>::max() : o->references.load();
}

CFTypeID CFGetTypeID (CFTypeRef object) { return tarvik::platform::detail::cfObject (object)->typeId(); }

Boolean CFEqual (CFTypeRef a, CFTypeRef b)
{
    if (a == b)
        return true;
    if (a == nullptr || b == nullptr)
        return false;
    return tarvik::platform::detail::cfObject (a)->equals (*tarvik::platform::detail::cfObject (b));
}

// ---- Strings ----------------------------------------------------------------------------------
CFTypeID CFStringGetTypeID() { return stringType; }

CFStringRef CFStringCreateWithCString (CFAllocatorRef, const char* cString, CFStringEncoding encoding)
{
    if (cString == nullptr)
        return nullptr;

    if (encoding == kCFStringEncodingASCII)
    {
        for (auto* p = cString; *p != 0; ++p)
            if ((unsigned char) *p > 127)
                return nullptr;
    }
    else if (encoding == kCFStringEncodingUTF8)
    {
        if (! juce::CharPointer_UTF8::isValidString (cString, std::numeric_limits<int>::max()))
            return nullptr;
    }
    else if (encoding != kCFStringEncodingMacRoman)
    {
        return nullptr;
    }

    return new TarvikCFString (utf16FromUtf8 (cString));
}

CFStringRef CFStringCreateWithCharacters (CFAllocatorRef, const UniChar* characters, CFIndex numCharacters)
{
    return new TarvikCFString (std::u16string (reinterpret_cast<const char16_t*> (characters), (size_t) numCharacters));
}

CFIndex CFStringGetLength (CFStringRef string) { return (CFIndex) string->text.size(); }

void CFStringGetCharacters (CFStringRef string, CFRange range, UniChar* buffer)
{
    jassert (range.location >= 0 && range.location + range.length <= (CFIndex) string->text.size());
    std::memcpy (buffer, string->text.data() + range.location, (size_t) range.length * sizeof (UniChar));
}

Boolean CFStringGetCString (CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding)
{
    if (string == nullptr || buffer == nullptr || bufferSize <= 0)
        return false;

    if (encoding == kCFStringEncodingASCII)
        for (auto c : string->text)
            if (c > 127)
                return false;

    if ((CFIndex) string->utf8.size() + 1 > bufferSize)
        return false;

    std::memcpy (buffer, string->utf8.c_str(), string->utf8.size() + 1);
    return true;
}

const char* CFStringGetCStringPtr (CFStringRef string, CFStringEncoding encoding)
{
    return encoding == kCFStringEncodingUTF8 && string != nullptr ? string->utf8.c_str() : nullptr;
}

CFIndex CFStringGetMaximumSizeForEncoding (CFIndex length, CFStringEncoding encoding)
{
    return encoding == kCFStringEncodingUTF8 ? length * 3 : length;
}

CFComparisonResult CFStringCompare (CFStringRef a, CFStringRef b, CFStringCompareFlags options)
{
    const auto sa = juceString (a->text), sb = juceString (b->text);
    const int r = (options & kCFCompareCaseInsensitive) != 0 ? sa.compareIgnoreCase (sb) : sa.compare (sb);
    return r < 0 ? kCFCompareLessThan : (r > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo);
}

CFStringRef TarvikCFStringMakeConstant (const char* cString)
{
    // Never destroyed: objects that outlive this map's static destruction (the world's
    // dictionaries) still hold and release these keys at exit.
    static auto& constants = *new std::map<std::string, std::unique_ptr<TarvikCFString>>();
    const std::lock_guard<std::mutex> lock (immortalLock);

    auto& entry = constants[cString];
    if (entry == nullptr)
    {
        entry = std::make_unique<TarvikCFString> (utf16FromUtf8 (cString));
        tarvik::platform::detail::markImmortal (*entry);
    }
    return entry.get();
}

// ---- Numbers ----------------------------------------------------------------------------------
CFTypeID CFNumberGetTypeID() { return numberType; }

CFNumberRef CFNumberCreate (CFAllocatorRef, CFNumberType type, const void* valuePtr)
{
    if (valuePtr == nullptr)
        return nullptr;

    auto* n = new TarvikCFNumber();
    switch (type)
    {
        case kCFNumberSInt8Type: n->integer = *static_cast<const SInt8*> (valuePtr); break;
        case kCFNumberSInt16Type: n->integer = *static_cast<const SInt16*> (valuePtr); break;
        case kCFNumberSInt32Type:
        case kCFNumberIntType: n->integer = *static_cast<const SInt32*> (valuePtr); break;
        case kCFNumberSInt64Type:
        case kCFNumberLongLongType: n->integer = *static_cast<const SInt64*> (valuePtr); break;
        case kCFNumberFloat32Type:
            n->isFloat = true;
            n->real = *static_cast<const Float32*> (valuePtr);
            break;
        case kCFNumberFloat64Type:
        case kCFNumberDoubleType:
            n->isFloat = true;
            n->real = *static_cast<const Float64*> (valuePtr);
            break;
        default:
            delete n;
            return nullptr;
    }
    return n;
}

Boolean CFNumberGetValue (CFNumberRef number, CFNumberType type, void* valuePtr)
{
    if (number == nullptr || valuePtr == nullptr)
        return false;

    const double asReal = number->isFloat ? number->real : (double) number->integer;
    const SInt64 asInteger = number->isFloat ? (SInt64) number->real : number->integer;
    const bool integral = ! number->isFloat || std::trunc (number->real) == number->real;

    auto storeInteger = [&] (auto* out, auto low, auto high) -> Boolean
    {
        using T = std::remove_pointer_t<decltype (out)>;
        *out = (T) asInteger;
        return integral && asInteger >= (SInt64) low && asInteger <= (SInt64) high;
    };

    switch (type)
    {
        case kCFNumberSInt8Type: return storeInteger (static_cast<SInt8*> (valuePtr), INT8_MIN, INT8_MAX);
        case kCFNumberSInt16Type: return storeInteger (static_cast<SInt16*> (valuePtr), INT16_MIN, INT16_MAX);
        case kCFNumberSInt32Type:
        case kCFNumberIntType: return storeInteger (static_cast<SInt32*> (valuePtr), INT32_MIN, INT32_MAX);
        case kCFNumberSInt64Type:
        case kCFNumberLongLongType: *static_cast<SInt64*> (valuePtr) = asInteger; return integral;
        case kCFNumberFloat32Type: *static_cast<Float32*> (valuePtr) = (Float32) asReal; return true;
        case kCFNumberFloat64Type:
        case kCFNumberDoubleType: *static_cast<Float64*> (valuePtr) = asReal; return true;
        default: return false;
    }
}

// ---- Dictionaries -----------------------------------------------------------------------------
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks { 0 };
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks { 0 };

CFTypeID CFDictionaryGetTypeID() { return dictionaryType; }

CFMutableDictionaryRef CFDictionaryCreateMutable (CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks*,
                                                  const CFDictionaryValueCallBacks*)
{
    return new TarvikCFDictionary();
}

const void* CFDictionaryGetValue (CFDictionaryRef dictionary, const void* key)
{
    if (dictionary == nullptr || key == nullptr)
        return nullptr;
    for (auto& [k, v] : dictionary->entries)
        if (CFEqual (k, key))
            return v;
    return nullptr;
}

void CFDictionarySetValue (CFMutableDictionaryRef dictionary, const void* key, const void* value)
{
    if (dictionary == nullptr || key == nullptr || value == nullptr)
        return;
    CFRetain (value);
    for (auto& entry : dictionary->entries)
    {
        if (CFEqual (entry.first, key))
        {
            CFRelease (entry.second);
            entry.second = value;
            return;
        }
    }
    dictionary->entries.emplace_back (CFRetain (key), value);
}

void CFDictionaryRemoveValue (CFMutableDictionaryRef dictionary, const void* key)
{
    auto& entries = dictionary->entries;
    for (auto it = entries.begin(); it != entries.end(); ++it)
    {
        if (CFEqual (it->first, key))
        {
            CFRelease (it->first);
            CFRelease (it->second);
            entries.erase (it);
            return;
        }
    }
}

CFIndex CFDictionaryGetCount (CFDictionaryRef dictionary) { return (CFIndex) dictionary->entries.size(); }

// ---- UUIDs ------------------------------------------------------------------------------------
CFUUIDRef CFUUIDGetConstantUUIDWithBytes (CFAllocatorRef,
                                          UInt8 b0, UInt8 b1, UInt8 b2, UInt8 b3, UInt8 b4, UInt8 b5, UInt8 b6, UInt8 b7,
                                          UInt8 b8, UInt8 b9, UInt8 b10, UInt8 b11, UInt8 b12, UInt8 b13, UInt8 b14, UInt8 b15)
{
    static auto& constants = *new std::vector<std::unique_ptr<TarvikCFUUID>>(); // never destroyed, as above
    const CFUUIDBytes bytes { b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15 };

    const std::lock_guard<std::mutex> lock (immortalLock);
    for (auto& c : constants)
        if (std::memcmp (&c->bytes, &bytes, sizeof (bytes)) == 0)
            return c.get();

    auto uuid = std::make_unique<TarvikCFUUID>();
    uuid->bytes = bytes;
    tarvik::platform::detail::markImmortal (*uuid);
    constants.push_back (std::move (uuid));
    return constants.back().get();
}

CFUUIDBytes CFUUIDGetUUIDBytes (CFUUIDRef uuid) { return uuid->bytes; }

CFUUIDRef CFUUIDCreateFromUUIDBytes (CFAllocatorRef, CFUUIDBytes bytes)
{
    auto* uuid = new TarvikCFUUID();
    uuid->bytes = bytes;
    return uuid;
}
