// The CoreFoundation pieces the device link's name and id rules rest on.
#include "SimulationFixture.h"

using tarvik::test::pumpFor;

namespace
{
struct ScopedString
{
    explicit ScopedString (const char* text, CFStringEncoding encoding = kCFStringEncodingUTF8)
        : ref (CFStringCreateWithCString (kCFAllocatorDefault, text, encoding)) {}
    ~ScopedString()
    {
        if (ref != nullptr)
            CFRelease (ref);
    }
    CFStringRef ref;
};
} // namespace

TEST_F (SimulationTest, StringsCompareWithOrWithoutCaseAndCountUtf16Units)
{
    const int liveBefore = sim().liveCFObjects();
    {
        ScopedString wanted ("TARVIK", kCFStringEncodingASCII), lower ("tarvik"), longer ("TARVIK 2"), umlaut ("Zelvätek");

        EXPECT_EQ (CFStringCompare (wanted.ref, lower.ref, kCFCompareCaseInsensitive), kCFCompareEqualTo);
        EXPECT_NE (CFStringCompare (wanted.ref, lower.ref, 0), kCFCompareEqualTo);
        EXPECT_NE (CFStringCompare (wanted.ref, longer.ref, kCFCompareCaseInsensitive), kCFCompareEqualTo);
        EXPECT_EQ (CFStringGetLength (umlaut.ref), 8);

        UniChar units[8] {};
        CFStringGetCharacters (umlaut.ref, CFRangeMake (0, 8), units);
        EXPECT_EQ (units[4], 0xE4);

        char small[4] {};
        EXPECT_FALSE (CFStringGetCString (wanted.ref, small, sizeof (small), kCFStringEncodingUTF8)) << "overflowed the buffer";
        char buffer[32] {};
        EXPECT_FALSE (CFStringGetCString (umlaut.ref, buffer, sizeof (buffer), kCFStringEncodingASCII));
        EXPECT_TRUE (CFStringGetCString (umlaut.ref, buffer, sizeof (buffer), kCFStringEncodingUTF8));
        EXPECT_STREQ (buffer, "Zelvätek");

        EXPECT_EQ (ScopedString ("Zelvätek", kCFStringEncodingASCII).ref, nullptr);
        EXPECT_EQ (CFSTR ("idVendor"), CFSTR ("idVendor"));
    }
    EXPECT_EQ (sim().liveCFObjects(), liveBefore);
}

TEST_F (SimulationTest, NumbersConvertOnlyWithoutLossAndDictionariesRetainTheirValues)
{
    const int liveBefore = sim().liveCFObjects();

    const SInt64 big = 0x1'0000'0032;
    auto number = CFNumberCreate (kCFAllocatorDefault, kCFNumberSInt64Type, &big);
    SInt32 narrow = 0;
    EXPECT_FALSE (CFNumberGetValue (number, kCFNumberSInt32Type, &narrow));

    const SInt32 id = 0x32;
    auto small = CFNumberCreate (kCFAllocatorDefault, kCFNumberSInt32Type, &id);
    SInt16 half = 0;
    EXPECT_TRUE (CFNumberGetValue (small, kCFNumberSInt16Type, &half));
    EXPECT_EQ (half, 0x32);

    auto dictionary = CFDictionaryCreateMutable (kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                 &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue (dictionary, CFSTR ("idProduct"), small);
    CFRelease (small);

    // A key made at run time finds the entry made with a constant.
    auto key = CFStringCreateWithCString (kCFAllocatorDefault, "idProduct", kCFStringEncodingASCII);
    auto found = static_cast<CFNumberRef> (CFDictionaryGetValue (dictionary, key));
    CFRelease (key);
    ASSERT_NE (found, nullptr);
    SInt32 back = 0;
    EXPECT_TRUE (CFNumberGetValue (found, kCFNumberSInt32Type, &back));
    EXPECT_EQ (back, 0x32);
    EXPECT_EQ (CFDictionaryGetValue (dictionary, CFSTR ("idVendor")), nullptr);

    CFRelease (dictionary);
    CFRelease (number);
    EXPECT_EQ (sim().liveCFObjects(), liveBefore);
}

TEST_F (SimulationTest, ResetDropsDeliveriesStillPending)
{
    static int calls = 0;
    calls = 0;

    mach_port_t master = 0;
    IOMasterPort (MACH_PORT_NULL, &master);
    auto port = IONotificationPortCreate (master);
    CFRunLoopAddSource (CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource (port), kCFRunLoopDefaultMode);
    io_iterator_t iterator = 0;
    IOServiceAddMatchingNotification (port, kIOMatchedNotification, IOServiceMatching (kIOUSBDeviceClassName),
                                      [] (void*, io_iterator_t) { ++calls; }, nullptr, &iterator);
    while (auto s = IOIteratorNext (iterator))
        IOObjectRelease (s);

    sim().attachTarvik();
    sim().reset();
    pumpFor (100);
    EXPECT_EQ (calls, 0) << "a delivery posted before the reset reached the next test";
    EXPECT_FALSE (sim().isTarvikAttached());
    EXPECT_EQ (sim().heldMasterPorts(), 0);
}
