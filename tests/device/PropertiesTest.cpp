#include "DeviceLinkFixture.h"

#include <cstring>

namespace tarvik::test
{
using sim::Side;

namespace
{
/** The 40 bytes of a stream description, laid out field by field. */
std::vector<UInt8> streamBytes (double rate, UInt32 bytesPerFrame, UInt32 channels, UInt32 bits)
{
    std::vector<UInt8> bytes (sizeof (double));
    std::memcpy (bytes.data(), &rate, sizeof (double));
    for (UInt32 field : { 0x6C70636Du /* lpcm */, 0x0Cu, bytesPerFrame, 1u, bytesPerFrame, channels, bits, 0u })
        for (int i = 0; i < 4; ++i)
            bytes.push_back ((UInt8) (field >> (8 * i))); // little-endian, as the host
    return bytes;
}

constexpr AudioObjectPropertyAddress anyRate { kAudioDevicePropertyNominalSampleRate,
                                               kAudioObjectPropertyScopeWildcard,
                                               kAudioObjectPropertyElementWildcard };
} // namespace

class PropertiesTest : public DeviceLinkTest
{
protected:
    AudioObjectID in = 0, out = 0;

    /** Two CoreAudio devices, bound by hand: no listener runs beside the calls under test. */
    void attach (double inRate, double outRate)
    {
        sim::TarvikOptions two;
        two.arrangement = sim::Arrangement::twoDevices;
        simulation().attachTarvik (two);
        in = gInAudioObjectID = simulation().tarvikAudioObject (Side::input);
        out = gOutAudioObjectID = simulation().tarvikAudioObject (Side::output);
        simulation().setNominalRate (Side::input, inRate);
        simulation().setNominalRate (Side::output, outRate);
    }

    void failRateReadsOf (AudioObjectID object, int skip = 0, int times = -1)
    {
        sim::Fault fault;
        fault.call = sim::Call::AudioObjectGetPropertyData;
        fault.address = anyRate;
        fault.object = object;
        fault.skip = skip;
        fault.times = times;
        simulation().injectFault (fault);
    }

    std::vector<AudioObjectID> writtenObjects (AudioObjectPropertySelector selector)
    {
        std::vector<AudioObjectID> objects;
        for (const auto& w : ownWrites())
            if (w.address.mSelector == selector)
                objects.push_back (w.object);
        return objects;
    }
};

TEST_F (PropertiesTest, ChannelOperationsAndStreamFormatAddressEachSide)
{
    attach (48000.0, 48000.0);
    hw_writeChannelVolume (kAudioObjectPropertyScopeOutput, 2, -12.5f);
    hw_writeChannelMute (kAudioObjectPropertyScopeInput, 1, 1);
    EXPECT_EQ (simulation().state().out[1].volumeDb, -12.5f);
    EXPECT_TRUE (simulation().state().in[0].muted);

    simulation().setVolumeDb (Side::input, 2, -33.0f);
    Float32 volume = 0;
    UInt32 muted = 0;
    EXPECT_EQ (hw_readChannelVolume (kAudioObjectPropertyScopeInput, 2, &volume), 0);
    EXPECT_EQ (hw_readChannelMute (kAudioObjectPropertyScopeInput, 1, &muted), 0);
    EXPECT_EQ (volume, -33.0f);
    EXPECT_EQ (muted, 1u);

    hw_writeStreamFormatAtRate (96000.0);
    const auto writes = ownWrites();
    ASSERT_EQ (writes.size(), 4u);
    EXPECT_EQ (writes[2].object, in);
    EXPECT_EQ (writes[2].address.mScope, kAudioObjectPropertyScopeInput);
    EXPECT_EQ (writes[3].object, out);
    EXPECT_EQ (writes[3].address.mScope, kAudioObjectPropertyScopeOutput);
    for (const auto& w : { writes[2], writes[3] })
    {
        EXPECT_EQ (w.address.mSelector, kAudioStreamPropertyPhysicalFormat);
        EXPECT_EQ (w.data, streamBytes (96000.0, 12, 4, 24));
        EXPECT_EQ (w.status, 0);
    }
}

TEST_F (PropertiesTest, SampleRateThatAlreadyAgreesOrCannotBeReadWritesNothing)
{
    EXPECT_EQ (hw_getSampleRate(), 0.0) << "nothing bound";

    attach (48000.0, 48000.0);
    EXPECT_EQ (hw_getSampleRate(), 48000.0);

    simulation().setNominalRate (Side::input, 44100.0);
    failRateReadsOf (out);
    EXPECT_EQ (hw_getSampleRate(), 0.0) << "output side unreadable";
    EXPECT_TRUE (ownWrites().empty());
}

TEST_F (PropertiesTest, SampleRateFollowsTheOutputSide)
{
    attach (44100.0, 96000.0);
    EXPECT_EQ (hw_getSampleRate(), 96000.0);
    EXPECT_EQ (writtenObjects (kAudioDevicePropertyNominalSampleRate), (std::vector<AudioObjectID> { in, out }));
    EXPECT_EQ (simulation().state().inRate, 96000.0);

    // 32 kHz goes through the stream format, input side first.
    simulation().setNominalRate (Side::output, 32000.0);
    EXPECT_EQ (hw_getSampleRate(), 32000.0);
    EXPECT_EQ (writtenObjects (kAudioStreamPropertyPhysicalFormat), (std::vector<AudioObjectID> { in, out }));
    for (const auto& w : ownWrites())
    {
        if (w.address.mSelector == kAudioStreamPropertyPhysicalFormat)
        {
            EXPECT_EQ (w.data, streamBytes (32000.0, 4, 2, 16));
        }
    }
    EXPECT_EQ (writtenObjects (kAudioDevicePropertyNominalSampleRate).size(), 2u);
}

TEST_F (PropertiesTest, SampleRateGivesTheDeviceOneWait)
{
    attach (44100.0, 96000.0);

    // The third read of the input side, after the wait, decides; a fourth is never made.
    simulation().setRateChangeDelay (150);
    failRateReadsOf (in, 3);
    EXPECT_EQ (hw_getSampleRate(), 96000.0);

    simulation().clearFaults();
    simulation().setNominalRate (Side::output, 48000.0);
    ASSERT_TRUE (pumpUntil ([] { return simulation().state().outRate == 48000.0; }));
    failRateReadsOf (in, 2, 1);
    EXPECT_EQ (hw_getSampleRate(), 0.0);
    pumpFor (200);

    // Slower than the one wait: no agreement.
    simulation().clearFaults();
    simulation().setRateChangeDelay (1000);
    simulation().setNominalRate (Side::output, 88200.0);
    ASSERT_TRUE (pumpUntil ([] { return simulation().state().outRate == 88200.0; }));
    EXPECT_EQ (hw_getSampleRate(), 0.0);
    ASSERT_TRUE (pumpUntil ([] { return simulation().state().inRate == 88200.0; }));

    // An unreadable input side still gets the output's rate, and 0 after the wait.
    simulation().setRateChangeDelay (0);
    simulation().setNominalRate (Side::output, 176400.0);
    failRateReadsOf (in);
    const auto start = juce::Time::getMillisecondCounter();
    EXPECT_EQ (hw_getSampleRate(), 0.0);
    EXPECT_GE (juce::Time::getMillisecondCounter() - start, 300u);
    EXPECT_EQ (simulation().state().inRate, 176400.0);
}
} // namespace tarvik::test
