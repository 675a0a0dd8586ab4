#pragma once

#include <functional>

namespace tarvik::platform
{
/** Sleeps the calling thread through the replaceable sleep function. The program leaves it
    at a real sleep; tests replace it to shorten or count the waits. Returns 0 like POSIX sleep. */
unsigned int sleep (unsigned int seconds);

using SleepFunction = std::function<void (unsigned int seconds)>;

/** Replaces the sleep function; an empty function restores the real one. */
void setSleepFunction (SleepFunction function);
} // namespace tarvik::platform
