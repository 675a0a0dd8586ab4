#pragma once

// The objects behind the opaque CoreFoundation references.

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include <juce_core/juce_core.h>

#include "platform/CoreFoundation.h"

struct TarvikCFObject
{
    TarvikCFObject();
    virtual ~TarvikCFObject();
    virtual CFTypeID typeId() const = 0;
    virtual bool equals (const TarvikCFObject& other) const { return this == &other; }

    std::atomic<long> references { 1 };
    bool immortal = false;

    TarvikCFObject (const TarvikCFObject&) = delete;
    TarvikCFObject& operator= (const TarvikCFObject&) = delete;
};

struct TarvikCFString final : TarvikCFObject
{
    explicit TarvikCFString (std::u16string textToUse);
    CFTypeID typeId() const override;
    bool equals (const TarvikCFObject& other) const override;

    std::u16string text;
    std::string utf8;
};

struct TarvikCFNumber final : TarvikCFObject
{
    CFTypeID typeId() const override;
    bool equals (const TarvikCFObject& other) const override;

    bool isFloat = false;
    SInt64 integer = 0;
    double real = 0.0;
};

struct TarvikCFDictionary final : TarvikCFObject
{
    ~TarvikCFDictionary() override;
    CFTypeID typeId() const override;

    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
};

struct TarvikCFUUID final : TarvikCFObject
{
    CFTypeID typeId() const override;
    CFUUIDBytes bytes {};
};

struct TarvikCFRunLoop final : TarvikCFObject
{
    CFTypeID typeId() const override;
    juce::Thread::ThreadID thread = nullptr;
};

struct TarvikIONotificationPort;

struct TarvikCFRunLoopSource final : TarvikCFObject
{
    CFTypeID typeId() const override;
    TarvikIONotificationPort* port = nullptr;
    CFRunLoopRef runLoop = nullptr;
};

namespace tarvik::platform::detail
{
const TarvikCFObject* cfObject (CFTypeRef ref);
CFStringRef makeString (const std::string& utf8);
std::string toUtf8 (CFStringRef string);
CFNumberRef makeNumber (SInt64 value);
int liveCFObjects();
/** Keeps the object for the life of the process, outside the live count. */
void markImmortal (TarvikCFObject& object);
} // namespace tarvik::platform::detail
