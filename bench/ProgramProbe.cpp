#include "ProgramProbe.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "support/ChildProcess.h"
#include "support/WindowTitle.h"

namespace tarvik::bench
{
namespace
{
using Clock = std::chrono::steady_clock;

double millisecondsBetween (Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli> (to - from).count();
}

void sleepMs (int milliseconds) { std::this_thread::sleep_for (std::chrono::milliseconds (milliseconds)); }

/** A window may go away between listing and asking about it; such errors are expected. */
int ignoreXError (Display*, XErrorEvent*) { return 0; }

/** One run of a program with a home of its own, ended and cleaned up when this goes. */
class LaunchedProgram
{
public:
    LaunchedProgram (const ProgramSpec& program, const std::string& displayName)
    {
        char pattern[] = "/tmp/tarvik-bench-home-XXXXXX";

        if (::mkdtemp (pattern) == nullptr)
            return;

        home = pattern;
        std::filesystem::create_directories (home / ".config");
        std::filesystem::create_directories (home / "runtime");
        ::chmod ((home / "runtime").c_str(), 0700);

        const char* path = std::getenv ("PATH");
        tarvik::test::ChildProcess::Options options;
        options.arguments = { program.path };
        options.arguments.insert (options.arguments.end(), program.arguments.begin(), program.arguments.end());
        options.inheritEnvironment = false;
        options.environment = { { "HOME", home.string() },
                                { "XDG_CONFIG_HOME", (home / ".config").string() },
                                { "XDG_RUNTIME_DIR", (home / "runtime").string() },
                                { "DISPLAY", displayName },
                                { "PATH", path != nullptr ? path : "/usr/bin:/bin" },
                                { "TARVIK_SIM_ATTACHED", "1" } };

        if (child.start (options))
        {
            pid = child.pid();
            started = child.startTime();
        }
    }

    ~LaunchedProgram()
    {
        child.stop();

        if (! home.empty())
        {
            std::error_code ignored;
            std::filesystem::remove_all (home, ignored);
        }
    }

    bool isRunning() { return child.isRunning(); }

    pid_t pid = -1;
    Clock::time_point started;

private:
    std::filesystem::path home;
    tarvik::test::ChildProcess child;
};

/** The window's pixels at one moment, 0xRRGGBB per pixel. */
struct Frame
{
    Clock::time_point at;
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
};

double similarity (const Frame& a, const Frame& b)
{
    if (a.width != b.width || a.height != b.height || a.pixels.empty())
        return 0.0;

    size_t same = 0;

    for (size_t i = 0; i < a.pixels.size(); ++i)
        same += a.pixels[i] == b.pixels[i] ? 1u : 0u;

    return (double) same / (double) a.pixels.size();
}

/** The viewable top-level window with this title, or 0. Found by title because JUCE maps
    the hidden dialog windows for a moment while it makes them.
*/
Window findProgramWindow (Display* display, const std::string& title)
{
    Window root = 0, parent = 0, found = 0;
    Window* children = nullptr;
    unsigned int count = 0;

    if (! XQueryTree (display, DefaultRootWindow (display), &root, &parent, &children, &count))
        return 0;

    for (unsigned int i = 0; i < count && found == 0; ++i)
    {
        XWindowAttributes attributes {};

        if (XGetWindowAttributes (display, children[i], &attributes) && attributes.map_state == IsViewable
            && tarvik::test::windowTitle (display, children[i]) == title)
            found = children[i];
    }

    if (children != nullptr)
        XFree (children);

    return found;
}

std::optional<Frame> grab (Display* display, Window window)
{
    XWindowAttributes attributes {};

    if (! XGetWindowAttributes (display, window, &attributes) || attributes.map_state != IsViewable)
        return std::nullopt;

    const auto before = Clock::now();
    XImage* image = XGetImage (display, window, 0, 0, (unsigned) attributes.width, (unsigned) attributes.height,
                               AllPlanes, ZPixmap);
    const auto after = Clock::now();

    if (image == nullptr)
        return std::nullopt;

    std::optional<Frame> frame;

    if (image->bits_per_pixel == 32)
    {
        frame.emplace();
        // The server showed these pixels somewhere between sending the request and the reply.
        frame->at = before + (after - before) / 2;
        frame->width = attributes.width;
        frame->height = attributes.height;
        frame->pixels.resize ((size_t) attributes.width * (size_t) attributes.height);

        for (int y = 0; y < attributes.height; ++y)
        {
            const auto* row = reinterpret_cast<const std::uint32_t*> (image->data + (long) y * image->bytes_per_line);

            for (int x = 0; x < attributes.width; ++x)
                frame->pixels[(size_t) y * (size_t) attributes.width + (size_t) x] = row[x] & 0xFFFFFFu;
        }
    }

    XDestroyImage (image);
    return frame;
}

/** A settled frame counts as the first paint when this share of its pixels already match. */
constexpr double paintedShare = 0.98;

StartupSample watchUntilSettled (Display* display, LaunchedProgram& run, const std::string& title, int settleMs)
{
    StartupSample sample;
    const auto deadline = run.started + std::chrono::seconds (30);
    Window window = 0;
    std::optional<Clock::time_point> appeared;
    std::vector<Frame> frames;

    for (;;)
    {
        if (Clock::now() > deadline)
        {
            sample.failure = window == 0 ? "no window within 30 s" : "the window did not settle within 30 s";
            return sample;
        }

        if (! run.isRunning())
        {
            sample.failure = "the program ended early";
            return sample;
        }

        if (window == 0)
            window = findProgramWindow (display, title);

        if (window != 0)
        {
            if (auto frame = grab (display, window))
            {
                if (! appeared)
                    appeared = frame->at;

                const auto at = frame->at;

                if (frames.empty() || frames.back().width != frame->width || frames.back().height != frame->height
                    || frames.back().pixels != frame->pixels)
                    frames.push_back (std::move (*frame));

                if (millisecondsBetween (*appeared, at) >= settleMs)
                    break;
            }
            else
            {
                window = 0;
            }
        }

        // A pause between grabs, so the X server is not kept busy copying pixels.
        sleepMs (1);
    }

    const auto& settled = frames.back();

    for (const auto& frame : frames)
    {
        if (similarity (frame, settled) >= paintedShare)
        {
            sample.ok = true;
            sample.firstPaintMs = millisecondsBetween (run.started, frame.at);
            sample.width = settled.width;
            sample.height = settled.height;
            break;
        }
    }

    return sample;
}

/** utime + stime of the process, in clock ticks; -1 when unreadable. */
long cpuTicks (pid_t pid)
{
    std::ifstream file ("/proc/" + std::to_string (pid) + "/stat");
    std::string text ((std::istreambuf_iterator<char> (file)), std::istreambuf_iterator<char>());
    const auto close = text.rfind (')');

    if (close == std::string::npos)
        return -1;

    // Fields from the state on (field 3); utime and stime are fields 14 and 15.
    std::istringstream fields (text.substr (close + 1));
    std::vector<std::string> tokens;

    for (std::string token; fields >> token;)
        tokens.push_back (token);

    if (tokens.size() < 13)
        return -1;

    return std::stol (tokens[11]) + std::stol (tokens[12]);
}

/** Time on a CPU of all the process's threads, in nanoseconds, from the scheduler. */
double onCpuNanoseconds (pid_t pid)
{
    double total = 0.0;
    std::error_code error;

    for (const auto& task : std::filesystem::directory_iterator ("/proc/" + std::to_string (pid) + "/task", error))
    {
        std::ifstream file (task.path() / "schedstat");
        double ns = 0.0;

        if (file >> ns)
            total += ns;
    }

    return total;
}

long peakResidentKb (pid_t pid)
{
    std::ifstream file ("/proc/" + std::to_string (pid) + "/status");

    for (std::string line; std::getline (file, line);)
        if (line.rfind ("VmHWM:", 0) == 0)
            return std::stol (line.substr (6));

    return -1;
}
} // namespace

//==============================================================================
ProgramProbe::ProgramProbe (const std::string& name) : displayName (name)
{
    XSetErrorHandler (ignoreXError);
    display = XOpenDisplay (name.c_str());

    // A desktop has these atoms; a bare server gets them from us, the same for every program.
    if (display != nullptr)
    {
        for (auto* atom : { "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "WM_STATE" })
            XInternAtom (display, atom, False);

        XSync (display, False);
    }
}

ProgramProbe::~ProgramProbe()
{
    if (display != nullptr)
        XCloseDisplay (display);

    XSetErrorHandler (nullptr);
}

StartupSample ProgramProbe::measureStartup (const ProgramSpec& program, int settleMs)
{
    LaunchedProgram run (program, displayName);

    if (run.pid <= 0)
    {
        StartupSample failed;
        failed.failure = "could not start " + program.path;
        return failed;
    }

    return watchUntilSettled (display, run, program.windowTitle, settleMs);
}

IdleSample ProgramProbe::measureIdle (const ProgramSpec& program, int settleMs, int idleMs)
{
    IdleSample sample;
    LaunchedProgram run (program, displayName);

    if (run.pid <= 0)
    {
        sample.failure = "could not start " + program.path;
        return sample;
    }

    const auto shown = watchUntilSettled (display, run, program.windowTitle, settleMs);

    if (! shown.ok)
    {
        sample.failure = shown.failure;
        return sample;
    }

    const auto ticksPerSecond = (double) ::sysconf (_SC_CLK_TCK);
    const auto from = Clock::now();
    const auto ticksBefore = cpuTicks (run.pid);
    const auto nsBefore = onCpuNanoseconds (run.pid);
    sleepMs (idleMs);
    const auto ticksAfter = cpuTicks (run.pid);
    const auto nsAfter = onCpuNanoseconds (run.pid);
    const auto to = Clock::now();
    sample.peakKb = peakResidentKb (run.pid);

    if (! run.isRunning() || ticksBefore < 0 || ticksAfter < 0 || sample.peakKb < 0)
    {
        sample.failure = "the program ended while idle";
        return sample;
    }

    sample.ok = true;
    sample.seconds = millisecondsBetween (from, to) / 1000.0;
    sample.cpuMs = (double) (ticksAfter - ticksBefore) * 1000.0 / ticksPerSecond;
    sample.onCpuMs = (nsAfter - nsBefore) / 1.0e6;
    return sample;
}
} // namespace tarvik::bench
