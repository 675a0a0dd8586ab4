// CoreAudio properties of the simulated interface, read and written as the device link does.
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "SimulationFixture.h"

using namespace tarvik::sim;
using tarvik::test::pumpUntil;

namespace
{
struct Notification
{
    AudioObjectID object;
    std::vector<AudioObjectPropertyAddress> addresses;
    bool onMessageThread;
    Float32 volumeReadInside;
};

struct ListenerLog
{
    std::mutex lock;
    std::vector<Notification> calls;

    size_t size()
    {
        const std::lock_guard<std::mutex> g (lock);
        return calls.size();
    }
};

OSStatus listen (AudioObjectID object, UInt32 count, const AudioObjectPropertyAddress* addresses, void* clientData)
{
    auto& log = *static_cast<ListenerLog*> (clientData);
    Notification n { object, { addresses, addresses + count },
                     juce::MessageManager::getInstance()->isThisTheMessageThread(), 1.0f };

    // The change is already made when the listener hears of it.
    if (addresses[0].mSelector == kAudioDevicePropertyVolumeScalar || addresses[0].mSelector == kAudioDevicePropertyVolumeDecibels)
    {
        const AudioObjectPropertyAddress vold { kAudioDevicePropertyVolumeDecibels, addresses[0].mScope, addresses[0].mElement };
        UInt32 size = sizeof (Float32);
        AudioObjectGetPropertyData (object, &vold, 0, nullptr, &size, &n.volumeReadInside);
    }

    const std::lock_guard<std::mutex> g (log.lock);
    log.calls.push_back (std::move (n));
    return 0;
}

const AudioObjectPropertyAddress everything { kAudioObjectPropertySelectorWildcard, kAudioObjectPropertyScopeWildcard,
                                              kAudioObjectPropertyElementWildcard };

std::vector<AudioObjectID> deviceList()
{
    const AudioObjectPropertyAddress a { kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal, 0 };
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize (kAudioObjectSystemObject, &a, 0, nullptr, &size) != 0)
        return {};
    std::vector<AudioObjectID> ids (size / sizeof (AudioObjectID));
    if (AudioObjectGetPropertyData (kAudioObjectSystemObject, &a, 0, nullptr, &size, ids.data()) != 0)
        return {};
    ids.resize (size / sizeof (AudioObjectID));
    return ids;
}

std::string stringOf (AudioObjectID object, AudioObjectPropertySelector selector, AudioObjectPropertyScope scope)
{
    const AudioObjectPropertyAddress a { selector, scope, 0 };
    CFStringRef value = nullptr;
    UInt32 size = sizeof (value);
    if (AudioObjectGetPropertyData (object, &a, 0, nullptr, &size, &value) != 0)
        return "<failed>";
    char buffer[128] {};
    CFStringGetCString (value, buffer, sizeof (buffer), kCFStringEncodingUTF8);
    CFRelease (value);
    return buffer;
}

UInt32 bufferCount (AudioObjectID object, AudioObjectPropertyScope scope)
{
    const AudioObjectPropertyAddress a { kAudioDevicePropertyStreamConfiguration, scope, 0 };
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize (object, &a, 0, nullptr, &size) != 0)
        return 99;
    std::vector<UInt8> buffer (size);
    if (AudioObjectGetPropertyData (object, &a, 0, nullptr, &size, buffer.data()) != 0)
        return 99;
    return reinterpret_cast<AudioBufferList*> (buffer.data())->mNumberBuffers;
}

OSStatus readRate (AudioObjectID object, Float64& rate)
{
    const AudioObjectPropertyAddress a { kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopeWildcard, 0 };
    UInt32 size = sizeof (rate);
    return AudioObjectGetPropertyData (object, &a, 0, nullptr, &size, &rate);
}

OSStatus writeFormat (AudioObjectID object, AudioObjectPropertyScope scope, const AudioStreamBasicDescription& f)
{
    const AudioObjectPropertyAddress a { kAudioStreamPropertyPhysicalFormat, scope, 0 };
    return AudioObjectSetPropertyData (object, &a, 0, nullptr, sizeof (f), &f);
}

AudioStreamBasicDescription format (Float64 rate, UInt32 bytes, UInt32 channels, UInt32 bits)
{
    return { rate, kAudioFormatLinearPCM, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked,
             bytes, 1, bytes, channels, bits, 0 };
}
} // namespace

TEST_F (SimulationTest, DevicesAreListedWithIdentityAndStreamsPerDirection)
{
    sim().attachAudioDevice ({ "TARVIK", "Someone Else", "", 1, 1, 48000.0 });
    const auto noInput = sim().attachAudioDevice ({ "TARVIK", kMakerName, "", 0, 1, 48000.0 });
    sim().attachTarvik ({ Arrangement::twoDevices });

    const auto in = sim().tarvikAudioObject (Side::input), out = sim().tarvikAudioObject (Side::output);
    ASSERT_NE (in, out);
    const int liveBefore = sim().liveCFObjects();
    const auto ids = deviceList();
    ASSERT_EQ (ids.size(), 4u);
    EXPECT_EQ (ids[2], in);
    EXPECT_EQ (stringOf (in, kAudioObjectPropertyName, kAudioObjectPropertyScopeInput), "TARVIK");
    EXPECT_EQ (stringOf (out, kAudioObjectPropertyManufacturer, kAudioObjectPropertyScopeOutput), kMakerName);
    EXPECT_NE (stringOf (in, kAudioDevicePropertyDeviceUID, kAudioObjectPropertyScopeInput),
               stringOf (out, kAudioDevicePropertyDeviceUID, kAudioObjectPropertyScopeOutput));
    EXPECT_EQ (bufferCount (in, kAudioObjectPropertyScopeInput), 1u);
    EXPECT_EQ (bufferCount (in, kAudioObjectPropertyScopeOutput), 0u);
    EXPECT_EQ (bufferCount (noInput, kAudioObjectPropertyScopeInput), 0u);
    EXPECT_EQ (sim().liveCFObjects(), liveBefore) << "property strings leaked";

    // Sides that appear only after two enumerations.
    sim().detachTarvik();
    sim().attachTarvik ({ Arrangement::oneDevice, true, true, 2 });
    EXPECT_EQ (deviceList().size(), 2u);
    EXPECT_EQ (deviceList().size(), 2u);
    EXPECT_EQ (deviceList().size(), 3u);
    EXPECT_EQ (sim().tarvikAudioObject (Side::input), sim().tarvikAudioObject (Side::output));
}

TEST_F (SimulationTest, ListenersRunOnTheNotificationThreadWithTheChangedAddresses)
{
    sim().attachTarvik();
    const auto device = sim().tarvikAudioObject (Side::input);
    ListenerLog log;
    ASSERT_EQ (AudioObjectAddPropertyListener (device, &everything, listen, &log), 0);
    ASSERT_EQ (AudioObjectAddPropertyListener (device, &everything, listen, &log), 0);

    const Float32 db = -12.5f;
    const AudioObjectPropertyAddress vold { kAudioDevicePropertyVolumeDecibels, kAudioObjectPropertyScopeOutput, 2 };
    ASSERT_EQ (AudioObjectSetPropertyData (device, &vold, 0, nullptr, sizeof (db), &db), 0);
    ASSERT_TRUE (pumpUntil ([&] { return log.size() >= 1; }, 2000));

    sim().setMute (Side::input, 1, true);
    ASSERT_TRUE (pumpUntil ([&] { return log.size() >= 2; }, 2000));
    tarvik::test::pumpFor (50);

    const std::lock_guard<std::mutex> g (log.lock);
    ASSERT_EQ (log.calls.size(), 2u) << "a repeated registration doubled the reports";
    const auto& volume = log.calls[0];
    EXPECT_EQ (volume.object, device);
    EXPECT_FALSE (volume.onMessageThread);
    ASSERT_EQ (volume.addresses.size(), 2u);
    EXPECT_EQ (volume.addresses[0].mSelector, kAudioDevicePropertyVolumeDecibels);
    EXPECT_EQ (volume.addresses[1].mSelector, kAudioDevicePropertyVolumeScalar);
    EXPECT_EQ (volume.addresses[1].mScope, kAudioObjectPropertyScopeOutput);
    EXPECT_EQ (volume.addresses[1].mElement, 2u);
    EXPECT_EQ (volume.volumeReadInside, -12.5f);

    const auto& mute = log.calls[1];
    ASSERT_EQ (mute.addresses.size(), 1u);
    EXPECT_EQ (mute.addresses[0].mSelector, kAudioDevicePropertyMute);
    EXPECT_EQ (mute.addresses[0].mScope, kAudioObjectPropertyScopeInput);
    EXPECT_EQ (mute.addresses[0].mElement, 1u);

    const auto st = sim().state();
    EXPECT_EQ (st.out[1].volumeDb, -12.5f);
    EXPECT_TRUE (st.in[0].muted);
    EXPECT_FALSE (st.in[1].muted);
}

TEST_F (SimulationTest, InjectedFailureFailsOnlyItsAddressAndWritesAreLogged)
{
    sim().attachTarvik();
    const auto device = sim().tarvikAudioObject (Side::input);
    const AudioObjectPropertyAddress in1 { kAudioDevicePropertyVolumeDecibels, kAudioObjectPropertyScopeInput, 1 };
    const AudioObjectPropertyAddress in2 { kAudioDevicePropertyVolumeDecibels, kAudioObjectPropertyScopeInput, 2 };
    const AudioObjectPropertyAddress out1 { kAudioDevicePropertyVolumeDecibels, kAudioObjectPropertyScopeOutput, 1 };
    sim().failProperty (in2, kAudioHardwareUnspecifiedError);

    const Float32 value = -30.0f;
    for (auto* a : { &in1, &in2, &out1 })
        AudioObjectSetPropertyData (device, a, 0, nullptr, sizeof (value), &value);

    Float32 read = 1.0f;
    UInt32 size = sizeof (read);
    EXPECT_EQ (AudioObjectGetPropertyData (device, &in2, 0, nullptr, &size, &read), kAudioHardwareUnspecifiedError);
    EXPECT_EQ (AudioObjectGetPropertyData (device, &in1, 0, nullptr, &size, &read), 0);
    EXPECT_EQ (read, -30.0f);

    const auto st = sim().state();
    EXPECT_EQ (st.in[0].volumeDb, -30.0f);
    EXPECT_EQ (st.in[1].volumeDb, 0.0f) << "the failed write reached the device";
    EXPECT_EQ (st.out[0].volumeDb, -30.0f);

    const auto writes = sim().propertyWrites();
    ASSERT_EQ (writes.size(), 3u);
    EXPECT_EQ (writes[1].status, kAudioHardwareUnspecifiedError);
    EXPECT_EQ (writes[2].address.mScope, kAudioObjectPropertyScopeOutput);
    ASSERT_EQ (writes[0].data.size(), 4u);
    Float32 logged = 0;
    std::memcpy (&logged, writes[0].data.data(), 4);
    EXPECT_EQ (logged, -30.0f);

    // No master volume on element 0, and a detached device is gone.
    const AudioObjectPropertyAddress master { kAudioDevicePropertyVolumeDecibels, kAudioObjectPropertyScopeInput, 0 };
    EXPECT_EQ (AudioObjectSetPropertyData (device, &master, 0, nullptr, sizeof (value), &value), kAudioHardwareUnknownPropertyError);
    sim().detachTarvik();
    EXPECT_EQ (AudioObjectGetPropertyData (device, &in1, 0, nullptr, &size, &read), kAudioHardwareBadObjectError);
}

TEST_F (SimulationTest, StreamFormatsSetTheRateAndTheRateChangeCanBeDelayed)
{
    sim().attachTarvik ({ Arrangement::twoDevices });
    const auto in = sim().tarvikAudioObject (Side::input), out = sim().tarvikAudioObject (Side::output);

    EXPECT_EQ (writeFormat (in, kAudioObjectPropertyScopeInput, format (96000, 12, 4, 24)), 0);
    EXPECT_EQ (writeFormat (out, kAudioObjectPropertyScopeWildcard, format (32000, 4, 2, 16)), 0);
    EXPECT_EQ (writeFormat (in, kAudioObjectPropertyScopeInput, format (44100, 4, 2, 16)), kAudioDeviceUnsupportedFormatError);
    EXPECT_EQ (writeFormat (in, kAudioObjectPropertyScopeInput, format (48000, 8, 2, 32)), kAudioDeviceUnsupportedFormatError);
    EXPECT_EQ (writeFormat (in, kAudioObjectPropertyScopeInput, format (12345, 12, 4, 24)), kAudioDeviceUnsupportedFormatError);
    EXPECT_EQ (writeFormat (out, kAudioObjectPropertyScopeInput, format (48000, 12, 4, 24)), kAudioHardwareUnknownPropertyError)
        << "the output-only device has no input streams";

    auto st = sim().state();
    EXPECT_EQ (st.inRate, 96000.0);
    EXPECT_EQ (st.outRate, 32000.0);

    ListenerLog log;
    AudioObjectAddPropertyListener (in, &everything, listen, &log);
    sim().setRateChangeDelay (150);
    const Float64 target = 44100.0;
    const AudioObjectPropertyAddress nsrt { kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopeWildcard, 0 };
    ASSERT_EQ (AudioObjectSetPropertyData (in, &nsrt, 0, nullptr, sizeof (target), &target), 0);

    Float64 rate = 0;
    EXPECT_EQ (readRate (in, rate), 0);
    EXPECT_EQ (rate, 96000.0) << "the delayed change took effect at once";
    EXPECT_EQ (log.size(), 0u);

    ASSERT_TRUE (pumpUntil ([&] { return log.size() == 1; }, 3000));
    readRate (in, rate);
    EXPECT_EQ (rate, 44100.0);
    const std::lock_guard<std::mutex> g (log.lock);
    EXPECT_EQ (log.calls[0].addresses[0].mSelector, kAudioDevicePropertyNominalSampleRate);
}
