#pragma once

// What the stress and soak suites share: the sanitizer in use (allocator-dependent bounds are
// skipped under one; counts come from soakCount), a watchdog, and the panel-versus-device check.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "app/PanelTestSupport.h"
#include "support/Timing.h"

namespace tarvik::test
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool underSanitizer = true;
#elif defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool underSanitizer = true;
 #else
constexpr bool underSanitizer = false;
 #endif
#else
constexpr bool underSanitizer = false;
#endif

/** Ends the process with a message if the guarded scope is still running after the time
    given: a deadlock then fails the test instead of hanging it.
*/
class Watchdog final
{
public:
    Watchdog (std::string what, int seconds)
        : name (std::move (what)),
          thread ([this, seconds] {
              std::unique_lock<std::mutex> guard (lock);
              if (! wake.wait_for (guard, std::chrono::milliseconds (scaled (seconds * 1000)), [this] { return finished; }))
              {
                  std::fprintf (stderr, "WATCHDOG: '%s' still running after %d s; deadlocked?\n", name.c_str(), seconds);
                  std::fflush (stderr);
                  std::_Exit (3);
              }
          })
    {
    }

    ~Watchdog()
    {
        {
            const std::lock_guard<std::mutex> guard (lock);
            finished = true;
        }
        wake.notify_all();
        thread.join();
    }

private:
    std::string name;
    std::mutex lock;
    std::condition_variable wake;
    bool finished = false;
    std::thread thread;
};

/** The readout the panel owes a volume on the 0.5 dB grid, written out independently of the
    framework's number formatting: "0 dB", "-12 dB", "-12.5 dB".
*/
inline juce::String expectedReadout (float decibels)
{
    const int halfSteps = juce::roundToInt (-decibels * 2.0f);
    if (halfSteps == 0)
        return "0 dB";
    return "-" + juce::String (halfSteps / 2) + (halfSteps % 2 != 0 ? ".5" : "") + " dB";
}

/** Every difference between the panel's controls and the device's state, one per line;
    empty when the panel shows exactly what the device holds. Volumes must be on the grid.
*/
inline juce::StringArray panelDeviceDifferences (const MainComponentInspector& ui, const tarvik::sim::TarvikState& device)
{
    juce::StringArray differences;

    const struct
    {
        const char* name;
        juce::Slider& slider;
        juce::Label& label;
        float volume;
    } channels[] { { "input 1", ui.sliderIn1(), ui.labelIn1(), device.in[0].volumeDb },
                   { "input 2", ui.sliderIn2(), ui.labelIn2(), device.in[1].volumeDb },
                   { "output 1", ui.sliderOut1(), ui.labelOut1(), device.out[0].volumeDb },
                   { "output 2", ui.sliderOut2(), ui.labelOut2(), device.out[1].volumeDb } };

    for (auto& c : channels)
    {
        if (c.slider.getValue() != (double) c.volume)
            differences.add (juce::String (c.name) + ": fader " + juce::String (c.slider.getValue()) + ", device " + juce::String (c.volume));
        if (c.label.getText() != expectedReadout (c.volume))
            differences.add (juce::String (c.name) + ": readout '" + c.label.getText() + "', device " + juce::String (c.volume));
    }

    const bool inMuted = device.in[0].muted || device.in[1].muted;
    const bool outMuted = device.out[0].muted || device.out[1].muted;

    if (ui.muteIn().getToggleState() != inMuted)
        differences.add ("input mute button " + juce::String (ui.muteIn().getToggleState() ? "on" : "off"));
    if (ui.muteOut().getToggleState() != outMuted)
        differences.add ("output mute button " + juce::String (ui.muteOut().getToggleState() ? "on" : "off"));

    for (auto* control : ui.deviceControls())
        if (! control->isVisible() || ! control->isEnabled())
            differences.add ("a device control is hidden or disabled: " + control->getName());

    return differences;
}
} // namespace tarvik::test
