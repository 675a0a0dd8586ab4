#include "DeviceLinkFixture.h"

namespace tarvik::test
{
using sim::Side;

namespace
{
void bind()
{
    const auto name = CFStringCreateWithCString (kCFAllocatorDefault, "TARVIK", kCFStringEncodingASCII);
    const auto maker = CFStringCreateWithCString (kCFAllocatorDefault, "VYR Zelvatek GmbH", kCFStringEncodingASCII);
    CreateInputDeviceArray (name, maker, &mydeviceStruct);
    CFRelease (name);
    CFRelease (maker);
}

sim::AudioDeviceSpec audioDevice (const char* name, const char* maker = sim::kMakerName)
{
    sim::AudioDeviceSpec device;
    device.name = name;
    device.manufacturer = maker;
    return device;
}
} // namespace

TEST_F (DeviceLinkTest, NameAndManufacturerRules)
{
    struct Case { const char* name; const char* maker; bool taken; };
    const Case cases[] {
        { "TARVIK", "VYR Zelvatek GmbH", true },
        { "tarvik", "VYR Zelvatek GmbH", true },   // equal ignoring case
        { "TAR", "VYR Zelvatek GmbH", true },      // a leading part
        { "", "VYR Zelvatek GmbH", true },         // empty is a leading part too
        { "TARVIK", "vyr zelvatek gmbh", true },
        { "TARVIK 2", "VYR Zelvatek GmbH", false }, // runs longer
        { "tar", "VYR Zelvatek GmbH", false },      // leading part, but not with case
        { "TARVIK", "Other Audio Inc.", false },
    };

    for (const auto& c : cases)
    {
        simulation().reset();
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        const auto device = simulation().attachAudioDevice (audioDevice (c.name, c.maker));
        bind();

        const AudioObjectID expected = c.taken ? device : 0;
        EXPECT_EQ (gInAudioObjectID.load(), expected) << "name \"" << c.name << "\", maker \"" << c.maker << "\"";
        EXPECT_EQ (gOutAudioObjectID.load(), expected) << "name \"" << c.name << "\", maker \"" << c.maker << "\"";
    }
}

TEST_F (DeviceLinkTest, StreamsDirectionAndListOrderDecideEachSide)
{
    sim::TarvikOptions two;
    two.arrangement = sim::Arrangement::twoDevices;
    simulation().attachTarvik (two);
    bind();
    EXPECT_EQ (gInAudioObjectID.load(), simulation().tarvikAudioObject (Side::input));
    EXPECT_EQ (gOutAudioObjectID.load(), simulation().tarvikAudioObject (Side::output));
    EXPECT_NE (gInAudioObjectID.load(), gOutAudioObjectID.load());

    // A later passing device wins, but only for the directions it has streams in.
    auto outputOnly = audioDevice ("TARVIK");
    outputOnly.inputStreams = 0;
    const auto later = simulation().attachAudioDevice (outputOnly);
    bind();
    EXPECT_EQ (gInAudioObjectID.load(), simulation().tarvikAudioObject (Side::input));
    EXPECT_EQ (gOutAudioObjectID.load(), later);

    // A pass that finds nothing keeps what it had.
    simulation().detachTarvik();
    simulation().detachAudioDevice (later);
    const auto before = std::make_pair (gInAudioObjectID.load(), gOutAudioObjectID.load());
    bind();
    EXPECT_EQ (std::make_pair (gInAudioObjectID.load(), gOutAudioObjectID.load()), before);
}

TEST_F (DeviceLinkTest, DeviceThatCannotBeWatchedIsOnlyTakenBesideItsOtherSide)
{
    simulation().attachTarvik();
    const auto tarvik = simulation().tarvikAudioObject (Side::input);
    sim::Fault noListener;
    noListener.call = sim::Call::AudioObjectAddPropertyListener;
    simulation().injectFault (noListener);

    bind();
    EXPECT_EQ (gInAudioObjectID.load(), 0u);
    EXPECT_EQ (gOutAudioObjectID.load(), 0u);

    gOutAudioObjectID = tarvik;
    bind();
    EXPECT_EQ (gInAudioObjectID.load(), tarvik);
}
} // namespace tarvik::test
