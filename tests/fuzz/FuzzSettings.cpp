// The settings read path with any bytes as the settings file: the panel opens it, takes all
// of it or (damaged) none of it, reads and repairs "loopback", and the main window restores "WindowPosition" or falls back to its
// default. Whatever the panel leaves on disk must read back the same way, and whatever
// window state it would store must be accepted at the next start.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <X11/Xlib.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/MainComponent.h"
#include "app/WindowState.h"
#include "controls/VYRBorderBoundsConstrainer.h"
#include "simulation/TarvikSimulation.h"

/** The panel's private state, for this harness only; the program never defines it. */
struct MainComponentInspector
{
    static int loopbackMode (const MainComponent& panel) { return panel.loopbackMode; }
};

namespace
{
void check (bool condition, const char* what)
{
    if (! condition)
    {
        std::fprintf (stderr, "broken invariant: %s\n", what);
        std::abort();
    }
}

juce::File folder;
juce::ScopedJuceInitialiser_GUI* framework = nullptr;

/** Shuts the framework down with the process, so that what it deletes at shutdown is deleted,
    and removes the settings folder.
    Registered once the framework's own statics exist, so that it runs before they go.
*/
void shutDownAtExit()
{
    static const bool registered = [] {
        return std::atexit ([] {
                   delete framework;
                   folder.deleteRecursively();
               })
               == 0;
    }();
    juce::ignoreUnused (registered);
}

juce::PropertiesFile::Options options()
{
    auto o = MainComponent::defaultSettingsOptions();
    o.folderName = folder.getFullPathName();
    return o;
}

juce::File settingsFile() { return folder.getChildFile ("Tarvik Panel.settings"); }

/** The main window's start-up handling of the stored state, as the program does it. */
juce::String restoreWindow (const juce::String& stored, int menuBarHeight)
{
    juce::DocumentWindow window ("fuzz", juce::Colours::lightgrey, juce::DocumentWindow::allButtons, false);
    BorderBoundsConstrainer constrainer;
    constrainer.extraTop = menuBarHeight;
    window.setConstrainer (&constrainer);
    constrainer.setFixedAspectRatio (226.0 / 290.0);
    constrainer.setSizeLimits (226, 290, 452, 580);
    window.setResizable (true, true);

    if (! restoreStoredWindowState (window, stored))
        window.centreWithSize (316, 405 + menuBarHeight);

    check (! window.getBounds().isEmpty(), "the window has a size");
    const auto state = window.getWindowStateAsString();
    window.setConstrainer (nullptr);
    return state;
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***);
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // Without a window manager the X server lacks the atoms JUCE asks for; a connection
    // of ours keeps them existing, or every window logs X errors.
    static Display* atomKeeper = XOpenDisplay (nullptr);
    if (atomKeeper != nullptr)
        for (auto* name : { "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "WM_STATE" })
            XInternAtom (atomKeeper, name, False);

    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };
    framework = new juce::ScopedJuceInitialiser_GUI();

    // A folder per process: parallel fuzzing jobs start in the same millisecond.
    folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                 .getChildFile ("tarvik-fuzz-settings-" + juce::String ((int) ::getpid()) + "-"
                                + juce::String (juce::Time::currentTimeMillis()));
    folder.createDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    auto& simulation = tarvik::sim::Simulation::get();
    simulation.reset();
    check (settingsFile().replaceWithData (data, size), "the settings file can be written");

    juce::String storedWindow;
    int loopback = -1, menuBarHeight = 0;

    juce::StringPairArray read;
    const auto outcome = readSettingsFile (settingsFile(), read);
    // No bytes at all, and the framework removes the file instead of writing it.
    check ((outcome == SettingsFileRead::missing) == (size == 0), "a file that is there is never taken as missing");

    {
        MainComponent panel (options());
        loopback = MainComponentInspector::loopbackMode (panel);

        // All or nothing: a damaged file leaves none of its keys behind, a sound one all of them.
        if (outcome == SettingsFileRead::damaged)
            check (panel.getUserSettings()->getAllProperties().size() == 0, "a damaged file leaves nothing of it");
        else
            check (panel.getUserSettings()->getAllProperties().getAllKeys() == read.getAllKeys(), "a sound file is read whole");

        check (loopback == 0 || loopback == 1, "loopback is 0 or 1");
        storedWindow = panel.getUserSettings()->getValue ("WindowPosition", {});
        menuBarHeight = panel.getMenuBarHeight();
    }

    const auto windowState = restoreWindow (storedWindow, menuBarHeight);

    // What the first run left must read back to the same state.
    simulation.reset();
    {
        MainComponent panel (options());
        check (MainComponentInspector::loopbackMode (panel) == loopback, "the stored loopback reads back the same");

        // The window state stored on the way out is what the next start restores.
        panel.savedWindowPosition (windowState);
    }

    juce::PropertiesFile reread (options());
    check (reread.getValue ("WindowPosition") == windowState, "the stored window state reads back");

    juce::DocumentWindow window ("fuzz", juce::Colours::lightgrey, juce::DocumentWindow::allButtons, false);
    check (restoreStoredWindowState (window, windowState), "a stored window state is accepted");

    simulation.reset();
    shutDownAtExit();
    return 0;
}
