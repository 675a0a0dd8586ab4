// A second process for the hand-over tests.
//   HandoverPeer send  <folder> <parameters> [timeout ms]  exit 0 when handed over, 1 when it failed,
//                                                          2 when no instance runs
//   HandoverPeer serve <folder>    holds the lock and serves until killed; prints "ready", then
//                                  "received <parameters>" for each string handed over
#include <cstdio>

#include <juce_events/juce_events.h>

#include "desktop/posix/InstanceHandover.h"

int main (int argc, char** argv)
{
    if (argc < 3)
        return 3;

    const auto mode = juce::String::fromUTF8 (argv[1]);
    InstanceHandover handover { juce::File (juce::String::fromUTF8 (argv[2])) };

    if (mode == "send" && (argc == 4 || argc == 5))
    {
        if (! handover.isAnotherInstanceRunning())
            return 2;

        const auto timeout = argc == 5 ? juce::String (argv[4]).getIntValue() : InstanceHandover::defaultSendTimeoutMs;
        return handover.sendToRunningInstance (juce::String::fromUTF8 (argv[3]), timeout) ? 0 : 1;
    }

    if (mode == "serve")
    {
        juce::ScopedJuceInitialiser_GUI framework;

        const bool serving = handover.startServing ([] (const juce::String& parameters)
        {
            std::printf ("received %s\n", parameters.toRawUTF8());
            std::fflush (stdout);
        });

        if (! serving)
            return 1;

        std::puts ("ready");
        std::fflush (stdout);
        juce::MessageManager::getInstance()->runDispatchLoop();
    }

    return 3;
}
