// A second process for the hand-over tests.
//   HandoverPeer send  <folder> <parameters>  exit 0 when handed over, 1 when it failed, 2 when no instance runs
//   HandoverPeer serve <folder>               holds the lock and serves until killed; prints "ready"
#include <cstdio>

#include <juce_core/juce_core.h>

#include "app/InstanceHandover.h"

int main (int argc, char** argv)
{
    if (argc < 3)
        return 3;

    const auto mode = juce::String::fromUTF8 (argv[1]);
    InstanceHandover handover { juce::File (juce::String::fromUTF8 (argv[2])) };

    if (mode == "send" && argc == 4)
    {
        if (! handover.isAnotherInstanceRunning())
            return 2;

        return handover.sendToRunningInstance (juce::String::fromUTF8 (argv[3])) ? 0 : 1;
    }

    if (mode == "serve")
    {
        if (! handover.startServing ([] (const juce::String&) {}))
            return 1;

        std::puts ("ready");
        std::fflush (stdout);

        for (;;)
            juce::Thread::sleep (1000);
    }

    return 3;
}
