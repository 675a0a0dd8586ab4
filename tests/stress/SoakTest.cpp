// The interface unplugged and plugged again a thousand times while the panel stays up: the
// panel must follow every time, and the process must not grow by more than 1 MiB.
#include <iostream>
#include <malloc.h>
#include <unistd.h>

#include "StressSupport.h"
#include "platform/Sleep.h"

using namespace tarvik::test;

namespace
{
/** Resident set size of this process, in bytes. */
long long residentBytes()
{
    long long sizePages = 0, residentPages = 0;
    if (auto* f = std::fopen ("/proc/self/statm", "r"))
    {
        if (std::fscanf (f, "%lld %lld", &sizePages, &residentPages) != 2)
            residentPages = 0;
        std::fclose (f);
    }
    return residentPages * (long long) ::sysconf (_SC_PAGESIZE);
}

/** Bytes the allocator has handed out and not had back. */
long long heapInUse() { return (long long) ::mallinfo2().uordblks; }

/** Bytes the simulation spends on its logs of every call (test machinery, not the panel). */
long long simulationLogBytes()
{
    long long bytes = 0;
    for (auto& w : sim().propertyWrites())
        bytes += (long long) (sizeof (w) + w.data.capacity());
    bytes += (long long) (sim().usbDeviceEvents().size() * sizeof (tarvik::sim::UsbDeviceEvent));
    bytes += (long long) (sim().usbTransfers().size() * sizeof (tarvik::sim::UsbTransfer));
    return bytes;
}

class Soak : public PanelTest
{
protected:
    bool controlsVisible (bool shown) const
    {
        for (auto* control : inspect().deviceControls())
            if (control->isVisible() != shown)
                return false;
        return true;
    }

    /** One detach and attach, each followed until the panel shows it; false if it did not. */
    bool cycle()
    {
        sim().detachTarvik();
        const bool hidden = pumpUntil ([this] { return controlsVisible (false); }, 10000);
        sim().attachTarvik();
        const bool shown = pumpUntil ([this] { return controlsVisible (true); }, 10000);
        return hidden && shown;
    }
};
} // namespace

TEST_F (Soak, AThousandReattachesLeaveThePanelFollowingAndMemoryFlat)
{
    const int cycles = soakCount (1000, 150);
    const Watchdog watchdog ("soak", 100);
    tarvik::platform::setSleepFunction ([] (unsigned int) {});

    sim().attachTarvik();
    makePanel();

    // Warm-up: caches, pools and the message queue reach their working size first.
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE (cycle());
    pumpFor (300);

    // The image cache lets go of unused images on a timer of its own; not a growth or shrink of ours.
    juce::ImageCache::releaseUnusedImages();
    const auto residentBefore = residentBytes();
    const auto heapBefore = heapInUse();
    const auto logBefore = simulationLogBytes();
    int failures = 0, run = 0;

    for (; run < cycles; ++run)
        if (! cycle())
            ++failures;

    pumpFor (300);
    juce::ImageCache::releaseUnusedImages();
    const auto residentGrowthKiB = (residentBytes() - residentBefore) / 1024;
    const auto heapGrowthKiB = (heapInUse() - heapBefore) / 1024;
    const auto logGrowthKiB = (simulationLogBytes() - logBefore) / 1024;

    // The panel still follows the device at the end.
    const bool followsDevice = pumpUntil ([this] { return panelDeviceDifferences (inspect(), sim().state()).isEmpty(); }, 5000);
    if (! followsDevice)
        ++failures;

    std::cout << "cycles run: " << run << ", memory growth: " << residentGrowthKiB << " KiB"
              << " (heap in use: " << heapGrowthKiB << " KiB, of it the simulation's call logs: " << logGrowthKiB << " KiB)"
              << std::endl;

    EXPECT_EQ (failures, 0);
    EXPECT_TRUE (followsDevice) << panelDeviceDifferences (inspect(), sim().state()).joinIntoString ("\n");

    // Sanitizer allocators keep freed memory in quarantine and shadow it: the number is printed, not judged.
    if (! underSanitizer)
    {
        EXPECT_LT (residentGrowthKiB, 1024) << "resident memory grew by " << residentGrowthKiB << " KiB over " << run << " cycles";
    }
}
