#pragma once

#include <string>
#include <utility>
#include <sys/types.h>
#include <vector>

#include <juce_data_structures/juce_data_structures.h>

#include "support/ChildProcess.h"

namespace tarvik::test
{
/** A private home for runs of the real program: its own HOME, XDG_CONFIG_HOME and
    XDG_RUNTIME_DIR, so settings, locks and hand-over files are the test's alone.
*/
class ProgramHome
{
public:
    ProgramHome();
    ~ProgramHome();

    juce::File settingsFile() const;
    juce::File root;

    /** The X display the program is given; this test's own unless a test changes it. */
    juce::String display;

    /** HOME as the program is given it: the private home unless a test changes it. */
    juce::String homeVariable;

    /** The folder the program starts in; the test's own when none. */
    juce::File workingFolder;

    juce::StringPairArray environment() const;

    /** A key of the settings file as stored, or "<missing>". */
    juce::String storedValue (const juce::String& key) const;

    /** Writes a key into the settings file, as an earlier run would have; false if it could not. */
    bool storeValue (const juce::String& key, const juce::String& value) const;
};

/** Command-line arguments as raw bytes, which need not be UTF-8. */
struct RawArguments
{
    explicit RawArguments (std::vector<std::string> b) : bytes (std::move (b)) {}
    std::vector<std::string> bytes;
};

/** One run of the program, its standard output and error streams in files. */
class ProgramRun
{
public:
    ProgramRun (const ProgramHome& home, const juce::StringArray& arguments);

    ProgramRun (const ProgramHome& home, const RawArguments& arguments);
    ~ProgramRun();

    /** True once the program has ended; its exit code is then in exitCode. */
    bool waitForExit (int timeoutMilliseconds);
    bool isRunning();

    /** Sends the running program a signal; false once it has ended. */
    bool sendSignal (int signalNumber);

    juce::String standardError() const { return errFile.loadFileAsString(); }
    juce::String standardOutput() const { return outFile.loadFileAsString(); }

    /** Waits until a line of the error stream starts with the prefix; returns that line or "". */
    juce::String waitForErrorLine (const juce::String& prefix, int timeoutMilliseconds) const;

    /** The program's process id, for signals and a look at its open files. */
    pid_t processId() const noexcept { return child.pid(); }

    /** As a shell gives it: the exit status, or 128 + the signal that ended the program. */
    int exitCode = -1;

private:
    ChildProcess child;
    juce::File outFile, errFile;
};

/** Sends the window-manager close request to the top-level window with this title. */
bool requestWindowClose (const juce::String& title);

/** Moves and resizes the top-level window with this title, as a user would with no window manager;
    false while there is no such window on the screen. */
bool setWindowBounds (const juce::String& title, int x, int y, int width, int height);
} // namespace tarvik::test
