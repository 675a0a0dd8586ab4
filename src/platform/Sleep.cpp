#include "platform/Sleep.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace tarvik::platform
{
namespace
{
std::mutex sleepLock;
SleepFunction sleepFunction;
} // namespace

unsigned int sleep (unsigned int seconds)
{
    SleepFunction function;
    {
        const std::lock_guard<std::mutex> guard (sleepLock);
        function = sleepFunction;
    }

    if (function)
        function (seconds);
    else
        std::this_thread::sleep_for (std::chrono::seconds (seconds));
    return 0;
}

void setSleepFunction (SleepFunction function)
{
    const std::lock_guard<std::mutex> guard (sleepLock);
    sleepFunction = std::move (function);
}
} // namespace tarvik::platform
