#include "platform/detail/AudioProperties.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "platform/detail/NotificationThread.h"

namespace tarvik::platform::detail::audio
{
namespace
{
constexpr double supportedRates[] { 8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000 };

int directionOf (AudioObjectPropertyScope scope)
{
    if (scope == kAudioObjectPropertyScopeInput)
        return 0;
    if (scope == kAudioObjectPropertyScopeOutput)
        return 1;
    return -1;
}

bool isChannelElement (AudioObjectPropertyElement element) { return element == 1 || element == 2; }

bool sameFormat (const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b)
{
    return std::memcmp (&a, &b, sizeof (a)) == 0;
}

/** Size of a property of a device, or an error; checks scope and element. */
OSStatus describe (const AudioDevice& d, const AudioObjectPropertyAddress& a, UInt32& size)
{
    const int dir = directionOf (a.mScope);
    const bool hasStreams = dir >= 0 && d.direction[dir].streams > 0;
    const auto sel = a.mSelector;

    if (sel == kAudioDevicePropertyVolumeDecibels || sel == kAudioDevicePropertyVolumeScalar
        || sel == kAudioDevicePropertyMute)
    {
        if (! hasStreams || ! isChannelElement (a.mElement))
            return kAudioHardwareUnknownPropertyError;
        size = 4;
        return 0;
    }

    if (a.mElement != 0)
        return kAudioHardwareUnknownPropertyError;

    if (sel == kAudioDevicePropertyDeviceUID || sel == kAudioObjectPropertyName || sel == kAudioObjectPropertyManufacturer)
        size = sizeof (CFStringRef);
    else if (sel == kAudioDevicePropertyStreamConfiguration)
    {
        if (dir < 0)
            return kAudioHardwareUnknownPropertyError;
        size = (UInt32) (offsetof (AudioBufferList, mBuffers) + d.direction[dir].streams * sizeof (AudioBuffer));
    }
    else if (sel == kAudioDevicePropertyNominalSampleRate)
        size = sizeof (Float64);
    else if (sel == kAudioStreamPropertyPhysicalFormat)
    {
        if (dir >= 0 && ! hasStreams)
            return kAudioHardwareUnknownPropertyError;
        size = sizeof (AudioStreamBasicDescription);
    }
    else if (sel == kAudioDevicePropertyPlayThru)
        size = 4;
    else if (sel == kAudioDevicePropertyDataSource)
    {
        if (! hasStreams)
            return kAudioHardwareUnknownPropertyError;
        size = 4;
    }
    else
        return kAudioHardwareUnknownPropertyError;

    return 0;
}

std::vector<AudioObjectID> listedDevices (const World& w)
{
    std::vector<AudioObjectID> ids;
    for (auto& d : w.audioDevices)
        if (w.isListed (*d))
            ids.push_back (d->id);
    return ids;
}

std::shared_ptr<AudioDevice> listedDevice (World& w, AudioObjectID object)
{
    auto d = w.audioDevice (object);
    return d != nullptr && w.isListed (*d) ? d : nullptr;
}

void applyRate (World& w, AudioDevice& d, double rate)
{
    if (d.rate == rate)
        return;
    d.rate = rate;
    w.notifyListeners (d.id, { { kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopeGlobal, 0 } });
}

/** Changes the rate now, or after the configured delay on the notification thread. */
void changeRate (World& w, const std::shared_ptr<AudioDevice>& d, double rate)
{
    if (w.rateChangeDelayMs <= 0)
    {
        d->pendingChange = 0;
        applyRate (w, *d, rate);
        return;
    }

    const auto token = d->pendingChange = w.nextChangeToken++;
    const std::weak_ptr<AudioDevice> weak = d;
    const auto gen = generation();
    notificationThread::schedule ([weak, token, rate, gen]
    {
        auto& world = tarvik::platform::detail::world();
        const std::lock_guard<std::mutex> guard (world.lock);
        auto device = weak.lock();
        if (device != nullptr && device->pendingChange == token && gen == generation())
        {
            device->pendingChange = 0;
            applyRate (world, *device, rate);
        }
    }, w.rateChangeDelayMs);
}

template <typename T>
T valueOf (const void* data)
{
    T v;
    std::memcpy (&v, data, sizeof (T));
    return v;
}

OSStatus writeDevice (World& w, const std::shared_ptr<AudioDevice>& d, const AudioObjectPropertyAddress& a,
                      UInt32 size, const void* data, std::vector<AudioObjectPropertyAddress>& changed)
{
    UInt32 expected = 0;
    if (auto status = describe (*d, a, expected))
        return status;

    const auto sel = a.mSelector;
    if (sel == kAudioDevicePropertyDeviceUID || sel == kAudioObjectPropertyName || sel == kAudioObjectPropertyManufacturer
        || sel == kAudioDevicePropertyStreamConfiguration)
        return kAudioHardwareIllegalOperationError;

    if (size != expected)
        return kAudioHardwareBadPropertySizeError;

    const int dir = directionOf (a.mScope);
    const auto channel = (size_t) a.mElement - 1;

    if (sel == kAudioDevicePropertyVolumeDecibels || sel == kAudioDevicePropertyVolumeScalar)
    {
        const auto value = valueOf<Float32> (data);
        if (! std::isfinite (value))
            return kAudioHardwareIllegalOperationError;

        const float db = sel == kAudioDevicePropertyVolumeDecibels
                           ? value
                           : kMinVolumeDecibels + value * (kMaxVolumeDecibels - kMinVolumeDecibels);
        const float clamped = std::min (kMaxVolumeDecibels, std::max (kMinVolumeDecibels, db));
        auto& stored = d->direction[dir].volumeDb[channel];
        if (stored != clamped)
        {
            stored = clamped;
            changed.push_back ({ kAudioDevicePropertyVolumeDecibels, a.mScope, a.mElement });
            changed.push_back ({ kAudioDevicePropertyVolumeScalar, a.mScope, a.mElement });
        }
        return 0;
    }

    auto setWord = [&] (UInt32& stored, UInt32 value)
    {
        if (stored != value)
        {
            stored = value;
            changed.push_back (a);
        }
        return (OSStatus) 0;
    };

    if (sel == kAudioDevicePropertyMute)
        return setWord (d->direction[dir].mute[channel], valueOf<UInt32> (data) != 0 ? 1u : 0u);
    if (sel == kAudioDevicePropertyPlayThru)
        return setWord (d->playThru, valueOf<UInt32> (data));
    if (sel == kAudioDevicePropertyDataSource)
        return setWord (d->direction[dir].dataSource, valueOf<UInt32> (data));

    if (sel == kAudioDevicePropertyNominalSampleRate)
    {
        const auto rate = valueOf<Float64> (data);
        if (! isSupportedRate (rate))
            return kAudioDeviceUnsupportedFormatError;
        changeRate (w, d, rate);
        return 0;
    }

    if (sel == kAudioStreamPropertyPhysicalFormat)
    {
        const auto format = valueOf<AudioStreamBasicDescription> (data);
        const bool accepted = (isSupportedRate (format.mSampleRate) && sameFormat (format, standardFormat (format.mSampleRate)))
                           || sameFormat (format, format32k());
        if (! accepted)
            return kAudioDeviceUnsupportedFormatError;
        changeRate (w, d, format.mSampleRate);
        return 0;
    }

    return kAudioHardwareUnknownPropertyError;
}
} // namespace

bool isSupportedRate (double rate)
{
    for (auto r : supportedRates)
        if (r == rate)
            return true;
    return false;
}

AudioStreamBasicDescription standardFormat (double rate)
{
    AudioStreamBasicDescription f {};
    f.mSampleRate = rate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    f.mBytesPerPacket = 12;
    f.mFramesPerPacket = 1;
    f.mBytesPerFrame = 12;
    f.mChannelsPerFrame = 4;
    f.mBitsPerChannel = 24;
    return f;
}

AudioStreamBasicDescription format32k()
{
    auto f = standardFormat (32000.0);
    f.mBytesPerPacket = 4;
    f.mBytesPerFrame = 4;
    f.mChannelsPerFrame = 2;
    f.mBitsPerChannel = 16;
    return f;
}

OSStatus propertySize (World& w, AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32& size)
{
    if (object == kAudioObjectSystemObject)
    {
        if (address.mSelector != kAudioHardwarePropertyDevices)
            return kAudioHardwareUnknownPropertyError;
        size = (UInt32) (listedDevices (w).size() * sizeof (AudioObjectID));
        return 0;
    }

    auto d = listedDevice (w, object);
    if (d == nullptr)
        return kAudioHardwareBadObjectError;
    return describe (*d, address, size);
}

OSStatus readProperty (World& w, AudioObjectID object, const AudioObjectPropertyAddress& a, UInt32& ioSize, void* out)
{
    if (object == kAudioObjectSystemObject)
    {
        if (a.mSelector != kAudioHardwarePropertyDevices)
            return kAudioHardwareUnknownPropertyError;

        const auto before = listedDevices (w);
        const auto count = std::min ((size_t) ioSize / sizeof (AudioObjectID), before.size());
        // An empty list has no data() to copy from, and memcpy must not see a null source.
        if (count > 0)
            std::memcpy (out, before.data(), count * sizeof (AudioObjectID));
        ioSize = (UInt32) (count * sizeof (AudioObjectID));

        ++w.deviceListReads;
        if (listedDevices (w) != before)
            w.notifyListeners (kAudioObjectSystemObject, { { kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal, 0 } });
        return 0;
    }

    auto d = listedDevice (w, object);
    if (d == nullptr)
        return kAudioHardwareBadObjectError;

    UInt32 size = 0;
    if (auto status = describe (*d, a, size))
        return status;
    if (ioSize < size)
        return kAudioHardwareBadPropertySizeError;
    ioSize = size;

    const int dir = directionOf (a.mScope);
    const auto channel = (size_t) a.mElement - 1;
    const auto sel = a.mSelector;

    auto put = [out] (auto value) { std::memcpy (out, &value, sizeof (value)); };

    if (sel == kAudioDevicePropertyDeviceUID)
        put (makeString (d->uid));
    else if (sel == kAudioObjectPropertyName)
        put (makeString (d->name));
    else if (sel == kAudioObjectPropertyManufacturer)
        put (makeString (d->manufacturer));
    else if (sel == kAudioDevicePropertyStreamConfiguration)
    {
        auto* list = static_cast<AudioBufferList*> (out);
        list->mNumberBuffers = d->direction[dir].streams;
        for (UInt32 i = 0; i < list->mNumberBuffers; ++i)
            list->mBuffers[i] = { d->rate == 32000.0 ? 2u : 4u, 0, nullptr };
    }
    else if (sel == kAudioDevicePropertyVolumeDecibels)
        put ((Float32) d->direction[dir].volumeDb[channel]);
    else if (sel == kAudioDevicePropertyVolumeScalar)
        put ((Float32) ((d->direction[dir].volumeDb[channel] - kMinVolumeDecibels) / (kMaxVolumeDecibels - kMinVolumeDecibels)));
    else if (sel == kAudioDevicePropertyMute)
        put (d->direction[dir].mute[channel]);
    else if (sel == kAudioDevicePropertyNominalSampleRate)
        put ((Float64) d->rate);
    else if (sel == kAudioStreamPropertyPhysicalFormat)
        put (d->rate == 32000.0 ? format32k() : standardFormat (d->rate));
    else if (sel == kAudioDevicePropertyPlayThru)
        put (d->playThru);
    else if (sel == kAudioDevicePropertyDataSource)
        put (d->direction[dir].dataSource);

    return 0;
}

OSStatus writeProperty (World& w, AudioObjectID object, const AudioObjectPropertyAddress& address,
                        UInt32 size, const void* data, bool external, OSStatus injected)
{
    PropertyWrite entry;
    entry.object = object;
    entry.address = address;
    entry.external = external;
    entry.data.assign (static_cast<const UInt8*> (data), static_cast<const UInt8*> (data) + size);

    std::vector<AudioObjectPropertyAddress> changed;
    OSStatus status = injected;
    if (status == 0)
    {
        auto d = object == kAudioObjectSystemObject ? nullptr : listedDevice (w, object);
        if (object == kAudioObjectSystemObject)
            status = kAudioHardwareIllegalOperationError;
        else if (d == nullptr)
            status = kAudioHardwareBadObjectError;
        else
            status = writeDevice (w, d, address, size, data, changed);
    }

    entry.status = status;
    World::appendToLog (w.propertyWrites, std::move (entry));

    if (! changed.empty())
        w.notifyListeners (object, changed);
    return status;
}
} // namespace tarvik::platform::detail::audio
