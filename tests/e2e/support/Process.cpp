#include "Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvik::e2e
{
namespace
{
std::vector<std::string> mergedEnvironment (const std::map<std::string, std::string>& extra)
{
    std::map<std::string, std::string> all;

    for (char** e = environ; *e != nullptr; ++e)
    {
        const std::string entry (*e);
        const auto eq = entry.find ('=');
        if (eq != std::string::npos)
            all[entry.substr (0, eq)] = entry.substr (eq + 1);
    }

    for (const auto& [key, value] : extra)
        all[key] = value;

    std::vector<std::string> result;
    for (const auto& [key, value] : all)
        result.push_back (key + "=" + value);
    return result;
}

std::vector<char*> pointersTo (std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (auto& s : strings)
        result.push_back (s.data());
    result.push_back (nullptr);
    return result;
}
} // namespace

Process::~Process()
{
    kill();
}

bool Process::start (const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& environment,
                     const std::string& stdoutPath,
                     const std::string& stderrPath,
                     int passedDescriptor)
{
    auto args = argv;
    auto env = mergedEnvironment (environment);
    auto argPointers = pointersTo (args);
    auto envPointers = pointersTo (env);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0)
        return false;

    if (pid == 0)
    {
        // The child goes with the test: a test ended by a timeout leaves no display,
        // window manager or program behind, and nothing that holds the test's output open.
        prctl (PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit (127);

        const int in = open ("/dev/null", O_RDONLY);
        const int out = open (stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open (stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            _exit (127);

        dup2 (in, 0);
        dup2 (out, 1);
        dup2 (err, 2);

        // Opened by the parent before in, out and err, so none of them sits on it.
        if (passedDescriptor >= 0 && dup2 (passedDescriptor, 3) < 0)
            _exit (127);

        const int keep = passedDescriptor >= 0 ? 4 : 3;
        for (int fd = keep; fd < 1024; ++fd)
            close (fd);

        execvpe (args.front().c_str(), argPointers.data(), envPointers.data());
        _exit (127);
    }

    childPid = pid;
    ended = false;
    status = -1;
    return true;
}

bool Process::isRunning()
{
    if (childPid <= 0 || ended)
        return false;

    int raw = 0;
    const pid_t r = waitpid (childPid, &raw, WNOHANG);

    if (r == childPid)
    {
        ended = true;
        status = WIFEXITED (raw) ? WEXITSTATUS (raw) : -1;
        return false;
    }

    return r == 0;
}

bool Process::waitForExit (int timeoutMilliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMilliseconds);

    while (isRunning())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }

    return true;
}

void Process::kill()
{
    if (isRunning())
    {
        ::kill (childPid, SIGTERM);
        if (! waitForExit (2000))
        {
            ::kill (childPid, SIGKILL);
            waitForExit (2000);
        }
    }
}

std::string runAndCapture (const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& environment,
                           int timeoutMilliseconds,
                           int* exitCode)
{
    char path[] = "/tmp/tarvik-e2e-out.XXXXXX";
    const int fd = mkstemp (path);
    if (fd < 0)
        return {};
    close (fd);

    Process p;
    std::string output;

    if (p.start (argv, environment, path, "/dev/null"))
    {
        if (! p.waitForExit (timeoutMilliseconds))
            p.kill();
        output = readFile (path);
        if (exitCode != nullptr)
            *exitCode = p.exitCode();
    }

    unlink (path);
    return output;
}

std::string readFile (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}
} // namespace tarvik::e2e
