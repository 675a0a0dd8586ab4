#include <map>
#include <memory>

#include <juce_events/juce_events.h>

#include "platform/detail/World.h"

namespace
{
std::mutex runLoopLock;

// One run loop per thread, kept for the life of the process like the real ones.
CFRunLoopRef runLoopOf (juce::Thread::ThreadID thread)
{
    static std::map<juce::Thread::ThreadID, std::unique_ptr<TarvikCFRunLoop>> runLoops;
    const std::lock_guard<std::mutex> guard (runLoopLock);

    auto& entry = runLoops[thread];
    if (entry == nullptr)
    {
        entry = std::make_unique<TarvikCFRunLoop>();
        entry->thread = thread;
        tarvik::platform::detail::markImmortal (*entry);
    }
    return entry.get();
}
} // namespace

const CFRunLoopMode kCFRunLoopDefaultMode = CFSTR ("kCFRunLoopDefaultMode");
const CFRunLoopMode kCFRunLoopCommonModes = CFSTR ("kCFRunLoopCommonModes");

CFRunLoopRef CFRunLoopGetCurrent() { return runLoopOf (juce::Thread::getCurrentThreadId()); }

CFRunLoopRef CFRunLoopGetMain()
{
    auto* mm = juce::MessageManager::getInstance();
    return runLoopOf (mm->getCurrentMessageThread());
}

// JUCE's message loop has no modes: a source delivers in any mode it was added with.
void CFRunLoopAddSource (CFRunLoopRef runLoop, CFRunLoopSourceRef source, CFRunLoopMode)
{
    if (runLoop == nullptr || source == nullptr)
        return;
    const std::lock_guard<std::mutex> guard (tarvik::platform::detail::world().lock);
    source->runLoop = runLoop;
}

void CFRunLoopRemoveSource (CFRunLoopRef runLoop, CFRunLoopSourceRef source, CFRunLoopMode)
{
    if (runLoop == nullptr || source == nullptr)
        return;
    const std::lock_guard<std::mutex> guard (tarvik::platform::detail::world().lock);
    if (source->runLoop == runLoop)
        source->runLoop = nullptr;
}
