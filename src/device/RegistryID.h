#pragma once

#include "platform/MacPlatform.h"

#include <cstdint>
#include <optional>

/** The registry entry id of an IOKit object: what tells one attached TARVIK from another
    across arrival and termination notifications. Empty when it cannot be read.
*/
inline std::optional<std::uint64_t> registryID (io_object_t object)
{
    std::uint64_t id = 0;

    if (IORegistryEntryGetRegistryEntryID (object, &id) != KERN_SUCCESS)
        return std::nullopt;

    return id;
}
