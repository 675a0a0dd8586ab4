#pragma once

#include <map>
#include <string>
#include <vector>

namespace tarvik::e2e
{
/** A child process started with its own environment; its output goes to files. */
class Process final
{
public:
    Process() = default;
    ~Process();

    Process (const Process&) = delete;
    Process& operator= (const Process&) = delete;

    /** Starts the program; extra environment entries replace the inherited ones. The child
        is killed when the test process ends. A passed descriptor becomes the child's fd 3.
    */
    bool start (const std::vector<std::string>& argv,
                const std::map<std::string, std::string>& environment,
                const std::string& stdoutPath = "/dev/null",
                const std::string& stderrPath = "/dev/null",
                int passedDescriptor = -1);

    bool isRunning();

    /** Waits for the process to end; returns false when it is still running after the timeout. */
    bool waitForExit (int timeoutMilliseconds);

    /** The exit status once ended (-1 while running or when killed by a signal). */
    int exitCode() const noexcept { return status; }

    void kill();
    int pid() const noexcept { return childPid; }

private:
    int childPid = -1;
    int status = -1;
    bool ended = false;
};

/** Runs a command to its end and returns its standard output (empty on failure). */
std::string runAndCapture (const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& environment,
                           int timeoutMilliseconds = 10000,
                           int* exitCode = nullptr);

std::string readFile (const std::string& path);
} // namespace tarvik::e2e
