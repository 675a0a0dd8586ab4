// Measures the panel program and the panel itself on this machine, each figure beside a
// reference, and prints one table. "--short" makes a quick run for CI; it checks that the
// benchmark works and nothing about the figures.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <juce_gui_basics/juce_gui_basics.h>

#include "PanelProbe.h"
#include "ProgramProbe.h"
#include "ResultTable.h"
#include "Statistics.h"
#include "support/ChildProcess.h"

using namespace tarvik::bench;

namespace
{
struct Settings
{
    bool shortRun = false;
    int startupRuns = 20;
    int settleMs = 1500;
    int idleMs = 10000;
    PanelProbeSettings panel;
};

Settings shortSettings()
{
    Settings s;
    s.shortRun = true;
    s.startupRuns = 3;
    s.settleMs = 800;
    s.idleMs = 2000;
    s.panel.reportChanges = 50;
    s.panel.userMoves = 50;
    s.panel.resizeRepeats = 5;
    s.panel.fontCalls = 200;
    return s;
}

std::string cpuModel()
{
    std::ifstream file ("/proc/cpuinfo");

    for (std::string line; std::getline (file, line);)
        if (line.rfind ("model name", 0) == 0)
            return line.substr (line.find (':') + 2);

    return "unknown";
}

struct StartupFigures
{
    std::vector<double> panelMs, emptyMs;
    std::string failure;
    int width = 0, height = 0;
};

/** Warm-up runs of both programs, then the measured runs, alternating so drift hits both alike. */
StartupFigures measureStartup (ProgramProbe& probe, const ProgramSpec& panel, ProgramSpec empty, const Settings& s)
{
    StartupFigures figures;
    const auto warmPanel = probe.measureStartup (panel, s.settleMs);

    if (! warmPanel.ok)
    {
        figures.failure = "panel program: " + warmPanel.failure;
        return figures;
    }

    // The reference window gets the size the panel program's window opened with.
    figures.width = warmPanel.width;
    figures.height = warmPanel.height;
    empty.arguments = { std::to_string (warmPanel.width), std::to_string (warmPanel.height) };
    probe.measureStartup (empty, s.settleMs);

    for (int i = 0; i < s.startupRuns; ++i)
    {
        const auto a = probe.measureStartup (panel, s.settleMs);
        const auto b = probe.measureStartup (empty, s.settleMs);

        if (! a.ok || ! b.ok)
        {
            figures.failure = ! a.ok ? "panel program: " + a.failure : "empty window: " + b.failure;
            return figures;
        }

        figures.panelMs.push_back (a.firstPaintMs);
        figures.emptyMs.push_back (b.firstPaintMs);
    }

    return figures;
}

std::optional<double> valueIf (bool ok, double value) { return ok ? std::optional<double> (value) : std::nullopt; }
} // namespace

int main (int argc, char** argv)
{
    Settings s;
    std::setvbuf (stdout, nullptr, _IOLBF, 0);

    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp (argv[i], "--short") == 0)
            s = shortSettings();
        else
        {
            std::fprintf (stderr, "usage: %s [--short]\n", argv[0]);
            return 2;
        }
    }

    // -noreset keeps the server (and its atoms) as they are between the programs' runs.
    tarvik::test::VirtualDisplay display ({ "-br", "-noreset" }, 20000);

    if (! display.isRunning())
    {
        std::fprintf (stderr, "tarvik_bench: Xvfb did not start\n");
        return 1;
    }

    std::printf ("Tarvik Panel benchmark (%s run, %s build)\n", s.shortRun ? "short" : "full", TARVIK_BENCH_BUILD_TYPE);
    std::printf ("Machine: %u CPUs (nproc), %s\n", std::thread::hardware_concurrency(), cpuModel().c_str());
    std::printf ("Private X server %s\n\n", display.name().c_str());
    std::fflush (stdout);

    if (std::string (TARVIK_BENCH_BUILD_TYPE) != "Release")
        std::printf ("Note: not a Release build; the figures say little about the product.\n\n");

    const ProgramSpec panelProgram { TARVIK_PANEL_PROGRAM, {}, "Tarvik Panel v1.2.0.0" };
    const ProgramSpec emptyProgram { TARVIK_EMPTY_WINDOW_PROGRAM, {}, "Tarvik Empty Window" };
    StartupFigures startup;
    IdleSample panelIdle, emptyIdle;

    {
        ProgramProbe probe (display.name());

        if (! probe.isConnected())
        {
            std::fprintf (stderr, "tarvik_bench: cannot open %s\n", display.name().c_str());
            return 1;
        }

        std::fprintf (stderr, "start-up: %d runs of each program\n", s.startupRuns);
        startup = measureStartup (probe, panelProgram, emptyProgram, s);

        auto sizedEmpty = emptyProgram;
        sizedEmpty.arguments = { std::to_string (startup.width), std::to_string (startup.height) };
        std::fprintf (stderr, "idle: %d s each\n", s.idleMs / 1000);
        panelIdle = probe.measureIdle (panelProgram, s.settleMs, s.idleMs);
        emptyIdle = probe.measureIdle (sizedEmpty, s.settleMs, s.idleMs);
    }

    // The panel in this process, on the same private server.
    ::setenv ("DISPLAY", display.name().c_str(), 1);
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };
    PanelFigures panel;

    {
        juce::ScopedJuceInitialiser_GUI framework;
        std::fprintf (stderr, "in-process: %d device changes, %d fader moves\n", s.panel.reportChanges, s.panel.userMoves);
        panel = measurePanel (s.panel);
    }

    //==============================================================================
    ResultTable table;
    const bool started = startup.failure.empty();
    const auto panelStart = median (startup.panelMs), emptyStart = median (startup.emptyMs);
    table.add ({ "start-up to first paint (median of " + std::to_string (startup.panelMs.size()) + ")",
                 valueIf (started, panelStart), "ms", valueIf (started, emptyStart),
                 "the empty JUCE window of the same size, started and watched the same way",
                 "<= 1.5 x ref", started ? std::optional<bool> (panelStart <= 1.5 * emptyStart) : std::nullopt });

    const bool reported = panel.ok;
    const auto reportMedian = median (panel.reportToControlsMs), reportP99 = percentile (panel.reportToControlsMs, 99.0);
    const std::string reportCount = std::to_string (panel.reportToControlsMs.size());
    const char* timerNote = "the 50 ms refresh timer, the floor";
    table.add ({ "device report -> controls, median (" + reportCount + ")", valueIf (reported, reportMedian), "ms",
                 50.0, timerNote, "<= 55 ms", reported ? std::optional<bool> (reportMedian <= 55.0) : std::nullopt });
    table.add ({ "device report -> controls, p99", valueIf (reported, reportP99), "ms", 50.0, timerNote, "<= 70 ms",
                 reported ? std::optional<bool> (reportP99 <= 70.0) : std::nullopt });

    const auto moveMedian = median (panel.moveToWriteMs), moveP99 = percentile (panel.moveToWriteMs, 99.0);
    table.add ({ "fader drag -> device write, median (" + std::to_string (panel.moveToWriteMs.size()) + ")",
                 valueIf (reported, moveMedian), "ms", std::nullopt, "", "", std::nullopt });
    table.add ({ "fader drag -> device write, p99", valueIf (reported, moveP99), "ms", std::nullopt, "", "<= 2 ms",
                 reported ? std::optional<bool> (moveP99 <= 2.0) : std::nullopt });

    const bool idled = panelIdle.ok && emptyIdle.ok;
    const auto idleSeconds = std::to_string (s.idleMs / 1000) + " s";
    table.add ({ "idle CPU, utime+stime over " + idleSeconds, valueIf (idled, panelIdle.cpuMs), "ms",
                 valueIf (idled, emptyIdle.cpuMs), "the empty window, idle as long (10 ms clock ticks)",
                 "<= 1.5 x ref", idled ? std::optional<bool> (panelIdle.cpuMs <= 1.5 * std::max (emptyIdle.cpuMs, 10.0)) : std::nullopt });
    table.add ({ "idle CPU, all threads' on-CPU time (ns clock)", valueIf (idled, panelIdle.onCpuMs), "ms",
                 valueIf (idled, emptyIdle.onCpuMs), "the empty window, from /proc/<pid>/task/*/schedstat",
                 "<= 1.5 x ref", idled ? std::optional<bool> (panelIdle.onCpuMs <= 1.5 * emptyIdle.onCpuMs) : std::nullopt });
    const auto share = [] (const IdleSample& i) { return i.seconds > 0.0 ? i.onCpuMs / (i.seconds * 10.0) : 0.0; };
    table.add ({ "idle CPU, % of one core", valueIf (idled, share (panelIdle)), "%", valueIf (idled, share (emptyIdle)),
                 "the empty window", "< 0.5 %", idled ? std::optional<bool> (share (panelIdle) < 0.5) : std::nullopt });

    for (const auto& size : panel.faceSizes)
    {
        const auto face = std::to_string (size.faceWidth) + " x " + std::to_string (size.faceHeight);
        table.add ({ "resize to " + face + " (resized(), children too)", size.resizeMs, "ms", size.rescaleFaceMs,
                     "one copy and high-quality rescale of the face art to the face size", "", std::nullopt });
        table.add ({ "paint panel at " + face + " (into an image)", size.paintMs, "ms", size.drawFaceMs,
                     "drawing the scaled face alone into an image of the panel's size", "", std::nullopt });

        if (size.faceWidth == 452)
        {
            const auto both = size.resizeMs + size.paintMs;
            table.add ({ "resize + one paint at " + face, both, "ms", std::nullopt, "", "<= 10 ms", both <= 10.0 });
        }
    }

    if (panel.ok || panel.fontWideUs > 0.0)
    {
        const char* textNote = "one width measurement of \"-63.5 dB\" at height 20";
        table.add ({ "getLabelFont, readout " + std::to_string (panel.wideReadoutWidth) + " px wide", panel.fontWideUs,
                     "us", panel.measureTextUs, textNote, "", std::nullopt });
        table.add ({ "getLabelFont, readout " + std::to_string (panel.narrowReadoutWidth) + " px wide", panel.fontNarrowUs,
                     "us", panel.measureTextUs, textNote, "", std::nullopt });
    }

    const char* warmNote = "the same text measured again (glyphs loaded)";
    table.add ({ "first text use: font folder scan (cold)", panel.fontScanColdMs, "ms", std::nullopt, "", "", std::nullopt });
    table.add ({ "first text use: menu names + readout sample", panel.glyphsColdMs, "ms", panel.glyphsWarmMs, warmNote, "", std::nullopt });
    table.add ({ "decoding the 14 pictures decoded at start", panel.artDecodeMs, "ms", std::nullopt, "", "", std::nullopt });

    table.add ({ "peak memory (VmHWM)", valueIf (idled, (double) panelIdle.peakKb / 1024.0), "MiB",
                 valueIf (idled, (double) emptyIdle.peakKb / 1024.0), "the empty window", "<= 1.3 x ref",
                 idled ? std::optional<bool> ((double) panelIdle.peakKb <= 1.3 * (double) emptyIdle.peakKb) : std::nullopt });

    std::printf ("\n");
    table.print();

    std::printf ("\nWindow size (panel program's, used for the empty window): %d x %d; in-process menu bar %d px.\n",
                 startup.width, startup.height, panel.menuBarHeight);

    bool failed = false;

    for (const auto& problem : { startup.failure, panelIdle.failure, emptyIdle.failure, std::string (panel.failure) })
        if (! problem.empty())
        {
            std::printf ("Not measured: %s\n", problem.c_str());
            failed = true;
        }

    return failed ? 1 : 0;
}
