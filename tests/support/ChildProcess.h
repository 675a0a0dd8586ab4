#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarvik::test
{
/** A program started by a test, the benchmark or the end-to-end suite. The child runs in a
    process group of its own, dies with the thread that started it, and the whole group is
    ended when this object goes: nothing a test starts outlives it.
*/
class ChildProcess final
{
public:
    struct Options
    {
        /** The program first; a name without a slash is looked up in PATH. */
        std::vector<std::string> arguments;

        /** Entries that replace the inherited ones, or the whole environment. */
        std::map<std::string, std::string> environment;
        bool inheritEnvironment = true;

        /** Files the output streams go to (created afresh); empty keeps the caller's stream.
            Standard input is always /dev/null. */
        std::string standardOutput = "/dev/null";
        std::string standardError = "/dev/null";

        /** The folder the program starts in; empty keeps the caller's. */
        std::string workingDirectory;

        /** A descriptor that becomes the child's fd 3; every other one above 2 is closed. */
        int passedDescriptor = -1;

        /** When ended, how long the group gets after SIGTERM before SIGKILL (0: SIGKILL at once). */
        int terminateGraceMilliseconds = 0;
    };

    ChildProcess() = default;
    ~ChildProcess();

    ChildProcess (const ChildProcess&) = delete;
    ChildProcess& operator= (const ChildProcess&) = delete;

    /** Starts the program (ending any earlier one first); false when it could not be forked. */
    bool start (const Options& options);

    bool isRunning();

    /** Waits for the program to end; false when it still runs after the timeout (scaled by
        timeoutScale()). */
    bool waitForExit (int timeoutMilliseconds);

    /** Sends the program (not its group) a signal; false once it has ended. */
    bool sendSignal (int signalNumber);

    /** Ends the whole group as configured, and collects the program. */
    void stop();

    /** The exit status once ended normally; -1 while running or when a signal ended it. */
    int exitCode() const noexcept { return code; }

    /** The signal that ended the program, or 0. */
    int terminatingSignal() const noexcept { return endSignal; }

    pid_t pid() const noexcept { return childPid; }

    /** Taken just before the fork, for measuring start-up from outside. */
    std::chrono::steady_clock::time_point startTime() const noexcept { return started; }

private:
    pid_t childPid = -1;
    bool ended = false, collected = false;
    int code = -1, endSignal = 0, grace = 0;
    std::chrono::steady_clock::time_point started;
};

/** Runs a command to its end and returns its standard output (empty on failure). A command
    still running after the timeout is ended. */
std::string runAndCapture (const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& environment,
                           int timeoutMilliseconds = 10000,
                           int* exitCode = nullptr);

std::string readFile (const std::string& path);

/** A live process as /proc shows it (zombies are left out: they have ended). */
struct ProcessInfo
{
    pid_t pid = 0, group = 0;
    /** The arguments joined by blanks. */
    std::string commandLine;
    /** The environment's entries, each ended by a NUL. */
    std::string environment;
};

/** The live processes other than this one whose environment holds the entry ("HOME=/tmp/x")
    or whose command line contains the text. */
std::vector<ProcessInfo> processesWithEnvironment (const std::string& entry);
std::vector<ProcessInfo> processesMentioning (const std::string& text);
std::vector<ProcessInfo> processesInGroup (pid_t group);

/** Waits (up to the scaled timeout) for the lookup to come back empty; returns what it found
    last. A group just sent SIGKILL takes a moment to go. */
std::vector<ProcessInfo> processesLeftAfter (const std::function<std::vector<ProcessInfo>()>& lookup,
                                             int timeoutMilliseconds = 3000);

/** Ends each process with its whole group (never this process's own group); returns a line
    per process, for a failure message. */
std::string killWithTheirGroups (const std::vector<ProcessInfo>& processes);

/** A private Xvfb server; it picks a free display number itself (-displayfd), so parallel
    servers never fight over one. */
class VirtualDisplay final
{
public:
    /** Starts the server with these arguments after the display options; waits up to the
        timeout for its number. */
    explicit VirtualDisplay (const std::vector<std::string>& extraArguments = {}, int timeoutMilliseconds = 10000);

    bool isRunning() const noexcept { return ! displayName.empty(); }

    /** ":N", or empty when the server did not start. */
    const std::string& name() const noexcept { return displayName; }

    ChildProcess& process() noexcept { return server; }

private:
    ChildProcess server;
    std::string displayName;
};
} // namespace tarvik::test
