#include "ProgramRunner.h"

// Before Xlib, whose macros clash with its names.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/WindowTitle.h"

#include <filesystem>
#include <functional>
#include <vector>

#include "support/MessageLoop.h"

namespace tarvik::test
{
namespace
{
/** JUCE looks up the window-manager atoms only if they exist when it starts, and a bare
    X server without a window manager has none; a connection of ours keeps them existing.
*/
void ensureWindowManagerAtoms()
{
    static Display* keeper = [] {
        Display* d = XOpenDisplay (nullptr);
        if (d != nullptr)
        {
            for (auto* name : { "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "WM_STATE" })
                XInternAtom (d, name, False);
            XSync (d, False);
        }
        return d;
    }();
    juce::ignoreUnused (keeper);
}
} // namespace

ProgramHome::ProgramHome()
    : display (juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}))
{
    ensureWindowManagerAtoms();
    root = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("tarvik-program-home-" + juce::Uuid().toString());
    homeVariable = root.getFullPathName();
    root.getChildFile (".config").createDirectory();
    root.getChildFile ("runtime").createDirectory();
    ::chmod (root.getChildFile ("runtime").getFullPathName().toRawUTF8(), 0700);
}

ProgramHome::~ProgramHome()
{
    // Every run in this home has ended by now, and with it whatever the program started.
    const auto home = "HOME=" + root.getFullPathName().toStdString();
    const auto left = processesLeftAfter ([&home] { return processesWithEnvironment (home); });
    const auto killed = killWithTheirGroups (left);
    EXPECT_TRUE (left.empty()) << "processes outlived their test:\n" << killed;

    // Not JUCE's deleteRecursively(): JUCE 7.0.5 takes a socket for a folder and cannot
    // remove it, and a killed panel leaves its own.
    std::error_code ignored;
    std::filesystem::remove_all (root.getFullPathName().toStdString(), ignored);
}

juce::File ProgramHome::settingsFile() const
{
    return root.getChildFile (".config/Tarvik Panel/Tarvik Panel.settings");
}

juce::StringPairArray ProgramHome::environment() const
{
    juce::StringPairArray env;
    env.set ("HOME", homeVariable);
    env.set ("XDG_CONFIG_HOME", root.getChildFile (".config").getFullPathName());
    env.set ("XDG_RUNTIME_DIR", root.getChildFile ("runtime").getFullPathName());
    env.set ("DISPLAY", display);
    env.set ("PATH", juce::SystemStats::getEnvironmentVariable ("PATH", "/usr/bin:/bin"));
    env.set ("TARVIK_SIM_ATTACHED", "1");

    for (auto* name : { "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS" })
        if (auto value = juce::SystemStats::getEnvironmentVariable (name, {}); value.isNotEmpty())
            env.set (name, value);

    return env;
}

namespace
{
RawArguments toBytes (const juce::StringArray& arguments)
{
    std::vector<std::string> bytes;
    for (auto& a : arguments)
        bytes.push_back (a.toStdString());
    return RawArguments (std::move (bytes));
}

juce::PropertiesFile::Options settingsOptionsFor (const ProgramHome& home)
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Tarvik Panel";
    options.filenameSuffix = ".settings";
    options.folderName = home.settingsFile().getParentDirectory().getFullPathName();
    return options;
}
} // namespace

juce::String ProgramHome::storedValue (const juce::String& key) const
{
    juce::PropertiesFile file (settingsOptionsFor (*this));
    return file.containsKey (key) ? file.getValue (key) : juce::String ("<missing>");
}

bool ProgramHome::storeValue (const juce::String& key, const juce::String& value) const
{
    juce::PropertiesFile file (settingsOptionsFor (*this));
    file.setValue (key, value);
    return file.save();
}

ProgramRun::ProgramRun (const ProgramHome& home, const juce::StringArray& arguments)
    : ProgramRun (home, toBytes (arguments))
{
}

ProgramRun::ProgramRun (const ProgramHome& home, const RawArguments& arguments)
{
    outFile = home.root.getNonexistentChildFile ("stdout", ".txt", false);
    errFile = home.root.getNonexistentChildFile ("stderr", ".txt", false);

    ChildProcess::Options options;
    options.arguments = { TARVIK_PANEL_PROGRAM };
    options.arguments.insert (options.arguments.end(), arguments.bytes.begin(), arguments.bytes.end());
    options.inheritEnvironment = false;

    const auto env = home.environment();
    for (auto& key : env.getAllKeys())
        options.environment[key.toStdString()] = env[key].toStdString();

    options.standardOutput = outFile.getFullPathName().toStdString();
    options.standardError = errFile.getFullPathName().toStdString();
    options.workingDirectory = home.workingFolder.getFullPathName().toStdString();
    child.start (options);
}

ProgramRun::~ProgramRun()
{
    child.stop();
    isRunning();

    // UBSan beside ASan can only print its report, not file it: it must still fail the test.
    const auto errors = standardError();

    if (errors.contains ("runtime error:") || errors.contains ("Sanitizer:"))
        ADD_FAILURE() << "the program reported:\n" << errors;
}

bool ProgramRun::isRunning()
{
    if (child.isRunning())
        return true;

    if (child.exitCode() >= 0)
        exitCode = child.exitCode();
    else if (child.terminatingSignal() > 0)
        exitCode = 128 + child.terminatingSignal();

    return false;
}

bool ProgramRun::sendSignal (int signalNumber)
{
    return child.sendSignal (signalNumber);
}

bool ProgramRun::waitForExit (int timeoutMilliseconds)
{
    const bool ended = child.waitForExit (timeoutMilliseconds);
    isRunning();
    return ended;
}

juce::String ProgramRun::waitForErrorLine (const juce::String& prefix, int timeoutMilliseconds) const
{
    juce::String found;
    pumpUntil ([&] {
        // Only whole lines: the program may be half way through writing the last one.
        const auto text = standardError();
        const auto complete = text.substring (0, text.lastIndexOfChar ('\n') + 1);

        for (auto& line : juce::StringArray::fromLines (complete))
            if (line.startsWith (prefix))
            {
                found = line;
                return true;
            }
        return false;
    }, timeoutMilliseconds);
    return found;
}

namespace
{
Window findWindow (Display* display, Window from, const juce::String& title)
{
    if (windowTitle (display, from) == title.toStdString())
        return from;

    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    Window found = 0;

    if (XQueryTree (display, from, &root, &parent, &children, &count))
    {
        for (unsigned int i = 0; i < count && found == 0; ++i)
            found = findWindow (display, children[i], title);

        if (children != nullptr)
            XFree (children);
    }

    return found;
}
} // namespace

namespace
{
/** Runs the action on the top-level window with this title; false when there is none. */
bool withWindow (const juce::String& title, const std::function<void (Display*, Window)>& action)
{
    Display* display = XOpenDisplay (nullptr);

    if (display == nullptr)
        return false;

    const Window window = findWindow (display, DefaultRootWindow (display), title);

    if (window != 0)
    {
        action (display, window);
        XSync (display, False);
    }

    XCloseDisplay (display);
    return window != 0;
}
} // namespace

bool requestWindowClose (const juce::String& title)
{
    return withWindow (title, [] (Display* display, Window window) {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom (display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long) XInternAtom (display, "WM_DELETE_WINDOW", False);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent (display, window, False, NoEventMask, &event);
    });
}

bool setWindowBounds (const juce::String& title, int x, int y, int width, int height)
{
    bool shown = false;
    const bool found = withWindow (title, [&] (Display* display, Window window) {
        // A user can only reach a window that is on the screen; one asked before it is
        // mapped may still be given its start bounds by the program.
        XWindowAttributes attributes {};
        shown = XGetWindowAttributes (display, window, &attributes) != 0 && attributes.map_state == IsViewable;

        if (shown)
            XMoveResizeWindow (display, window, x, y, (unsigned int) width, (unsigned int) height);
    });
    return found && shown;
}
} // namespace tarvik::test
