#pragma once

#include "platform/Backend.h"

namespace tarvik::sim
{
/** The stand-in calls whose failure can be injected. */
using Call = platform::Call;

/** One injected failure. A call that matches fails with status instead of running; calls
    that match are counted so that the n-th one can be picked. */
struct Fault
{
    Call call = Call::AnyPropertyAccess;
    OSStatus status = -1;

    /** Matching calls let through before the first failure (n-th call: skip = n - 1). */
    int skip = 0;

    /** How many matching calls fail; -1 means every one until the fault is cleared. */
    int times = -1;

    /** Property calls only: the address to fail; wildcard fields match any value. */
    AudioObjectPropertyAddress address { kAudioObjectPropertySelectorWildcard,
                                         kAudioObjectPropertyScopeWildcard,
                                         kAudioObjectPropertyElementWildcard };

    /** Property calls only: the object to fail, or kAudioObjectUnknown for any. */
    AudioObjectID object = kAudioObjectUnknown;
};
} // namespace tarvik::sim
