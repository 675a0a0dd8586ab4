#pragma once

#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace tarvik::bench
{
/** A program to start: its path, its arguments and the title of the window to watch. */
struct ProgramSpec
{
    std::string path;
    std::vector<std::string> arguments;
    std::string windowTitle;
};

/** One start of a program, watched from outside until its window had settled. */
struct StartupSample
{
    bool ok = false;
    std::string failure;
    double firstPaintMs = 0.0;  ///< from just before fork to the first grab showing the painted window
    int width = 0, height = 0;  ///< the window's size once settled
};

/** CPU and memory of a program left alone with its window shown. */
struct IdleSample
{
    bool ok = false;
    std::string failure;
    double seconds = 0.0;        ///< the wall-clock length of the idle period
    double cpuMs = 0.0;          ///< utime + stime over the period, in clock ticks' resolution
    double onCpuMs = 0.0;        ///< the same from the scheduler's per-thread nanosecond counters
    long peakKb = 0;             ///< VmHWM at the end of the period
};

/** Starts programs, each with a fresh HOME, on the given X server, and watches their
    window by grabbing its pixels with XGetImage: nothing is added to the program.
*/
class ProgramProbe
{
public:
    explicit ProgramProbe (const std::string& displayName);
    ~ProgramProbe();

    bool isConnected() const { return display != nullptr; }

    /** Time from process start to the first frame that already shows the window as it
        looks once settled (settleMs after the window appeared).
    */
    StartupSample measureStartup (const ProgramSpec& program, int settleMs);

    /** Starts the program, lets it settle, then reads its CPU time over idleMs and its peak memory. */
    IdleSample measureIdle (const ProgramSpec& program, int settleMs, int idleMs);

private:
    Display* display = nullptr;
    std::string displayName;
};
} // namespace tarvik::bench
