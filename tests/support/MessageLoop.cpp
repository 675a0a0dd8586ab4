#include "support/MessageLoop.h"
#include "support/Timing.h"

namespace tarvik::test
{
void pumpFor (int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
}

bool pumpUntil (const std::function<bool()>& condition, int timeoutMilliseconds)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) scaled (timeoutMilliseconds);

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            return condition();

        pumpFor (5);
    }

    return true;
}
} // namespace tarvik::test
