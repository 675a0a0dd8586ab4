#pragma once

#include <functional>

namespace tarvik::platform::detail
{
/** The stand-in's own CoreAudio notification thread: runs work in order, at its due time. */
namespace notificationThread
{
void schedule (std::function<void()> work, int delayMilliseconds = 0);

/** Drops all waiting work; work already running finishes on its own. */
void clear();

bool isCurrentThread();
} // namespace notificationThread
} // namespace tarvik::platform::detail
