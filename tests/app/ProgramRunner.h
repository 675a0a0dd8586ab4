#pragma once

#include <sys/types.h>

#include <juce_core/juce_core.h>

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
    juce::StringPairArray environment() const;
};

/** One run of the program, its standard output and error streams in files. */
class ProgramRun
{
public:
    ProgramRun (const ProgramHome& home, const juce::StringArray& arguments);
    ~ProgramRun();

    /** True once the program has ended; its exit code is then in exitCode. */
    bool waitForExit (int timeoutMilliseconds);
    bool isRunning();

    juce::String standardError() const { return errFile.loadFileAsString(); }
    juce::String standardOutput() const { return outFile.loadFileAsString(); }

    /** Waits until a line of the error stream starts with the prefix; returns that line or "". */
    juce::String waitForErrorLine (const juce::String& prefix, int timeoutMilliseconds) const;

    int exitCode = -1;

private:
    pid_t pid = -1;
    juce::File outFile, errFile;
};

/** Sends the window-manager close request to the top-level window with this title. */
bool requestWindowClose (const juce::String& title);
} // namespace tarvik::test
