#include "ChildProcess.h"
#include "Timing.h"

#include <csignal>
#include <dirent.h>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvik::test
{
namespace
{
std::vector<std::string> environmentFor (const ChildProcess::Options& options)
{
    std::map<std::string, std::string> all;

    if (options.inheritEnvironment)
    {
        for (char** e = environ; *e != nullptr; ++e)
        {
            const std::string entry (*e);
            const auto eq = entry.find ('=');
            if (eq != std::string::npos)
                all[entry.substr (0, eq)] = entry.substr (eq + 1);
        }
    }

    for (const auto& [key, value] : options.environment)
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

/** In the child between vfork and exec: system calls only. */
bool redirect (const char* path, int flags, int target)
{
    if (*path == '\0')
        return true;

    const int fd = ::open (path, flags, 0644);
    if (fd < 0)
        return false;
    if (fd != target)
    {
        ::dup2 (fd, target);
        ::close (fd);
    }
    return true;
}

void closeDescriptorsFrom (int first)
{
#ifdef SYS_close_range
    if (::syscall (SYS_close_range, (unsigned) first, ~0u, 0u) == 0)
        return;
#endif
    for (int fd = first; fd < 1024; ++fd)
        ::close (fd);
}
} // namespace

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start (const Options& options)
{
    stop();

    if (options.arguments.empty())
        return false;

    // Everything the child needs is made before vfork: after it only system calls run, on memory
    // shared with this process until exec. vfork copies no page tables, which for a sanitized test
    // process (and the e2e tests start a tool for every mouse move and look) was most of the cost.
    auto args = options.arguments;
    auto env = environmentFor (options);
    auto argPointers = pointersTo (args);
    auto envPointers = pointersTo (env);
    const auto outPath = options.standardOutput, errPath = options.standardError;
    const int passed = options.passedDescriptor;
    const auto folder = options.workingDirectory;
    const pid_t parent = ::getpid();

    started = std::chrono::steady_clock::now();
    const pid_t pid = ::vfork();

    if (pid < 0)
        return false;

    if (pid == 0)
    {
        ::setpgid (0, 0);

        // A test ended by a timeout leaves no display, window manager or program behind,
        // and nothing that holds the test's output open.
        ::prctl (PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit (127);

        if (! redirect ("/dev/null", O_RDONLY, STDIN_FILENO)
            || ! redirect (outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO)
            || ! redirect (errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO))
            ::_exit (127);

        // Opened by the parent before the streams above, so none of them sits on it.
        if (passed >= 0 && (passed == 3 ? ::fcntl (3, F_SETFD, 0) : ::dup2 (passed, 3)) < 0)
            ::_exit (127);

        if (! folder.empty() && ::chdir (folder.c_str()) != 0)
            ::_exit (127);

        closeDescriptorsFrom (passed >= 0 ? 4 : 3);
        ::execvpe (args.front().c_str(), argPointers.data(), envPointers.data());
        ::_exit (127);
    }

    // Also here, so that the group exists before anyone signals it.
    ::setpgid (pid, pid);
    childPid = pid;
    ended = collected = false;
    code = -1;
    endSignal = 0;
    grace = options.terminateGraceMilliseconds;
    return true;
}

bool ChildProcess::isRunning()
{
    if (childPid <= 0 || ended || collected)
        return false;

    // Not collected yet (WNOWAIT): while the ended program is a zombie its id, and with it
    // the group's, cannot be given to another process, so stop() can still signal the group.
    siginfo_t info {};
    if (::waitid (P_PID, (id_t) childPid, &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    {
        ended = true;
        return false;
    }

    if (info.si_pid == 0)
        return true;

    ended = true;
    if (info.si_code == CLD_EXITED)
        code = info.si_status;
    else
        endSignal = info.si_status;
    return false;
}

bool ChildProcess::waitForExit (int timeoutMilliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (scaled (timeoutMilliseconds));

    while (isRunning())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }

    return true;
}

bool ChildProcess::sendSignal (int signalNumber)
{
    return isRunning() && ::kill (childPid, signalNumber) == 0;
}

void ChildProcess::stop()
{
    if (childPid <= 0 || collected)
        return;

    if (isRunning() && grace > 0)
    {
        ::kill (-childPid, SIGTERM);
        ::kill (-childPid, SIGCONT);
        waitForExit (grace);
    }

    // The group: the program if it still runs, and whatever it started.
    ::kill (-childPid, SIGKILL);
    if (isRunning())
        ::kill (childPid, SIGKILL);

    int status = 0;
    if (::waitpid (childPid, &status, 0) == childPid && ! ended)
    {
        ended = true;
        if (WIFEXITED (status))
            code = WEXITSTATUS (status);
        else if (WIFSIGNALED (status))
            endSignal = WTERMSIG (status);
    }

    ended = true;
    collected = true;
}

std::string runAndCapture (const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& environment,
                           int timeoutMilliseconds,
                           int* exitCode)
{
    char path[] = "/tmp/tarvik-test-out.XXXXXX";
    const int fd = ::mkstemp (path);
    if (fd < 0)
        return {};
    ::close (fd);

    std::string output;
    {
        ChildProcess p;
        ChildProcess::Options options;
        options.arguments = argv;
        options.environment = environment;
        options.standardOutput = path;
        options.terminateGraceMilliseconds = 2000;

        if (p.start (options))
        {
            if (! p.waitForExit (timeoutMilliseconds))
                p.stop();
            output = readFile (path);
            if (exitCode != nullptr)
                *exitCode = p.exitCode();
        }
    }

    ::unlink (path);
    return output;
}

std::string readFile (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

namespace
{
std::vector<ProcessInfo> liveProcesses (const std::function<bool (const ProcessInfo&)>& wanted)
{
    std::vector<ProcessInfo> found;
    DIR* proc = ::opendir ("/proc");
    if (proc == nullptr)
        return found;

    const auto self = ::getpid();

    while (const auto* entry = ::readdir (proc))
    {
        const auto pid = (pid_t) std::atoi (entry->d_name);
        if (pid <= 0 || pid == self)
            continue;

        const auto folder = std::string ("/proc/") + entry->d_name;

        // "pid (name) state ppid pgrp ...": the name may hold blanks and parentheses.
        const auto stat = readFile (folder + "/stat");
        const auto close = stat.rfind (')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z' || stat[close + 2] == 'X')
            continue;

        ProcessInfo info;
        info.pid = pid;
        std::istringstream rest (stat.substr (close + 4));
        long parent = 0, group = 0;
        rest >> parent >> group;
        info.group = (pid_t) group;

        info.commandLine = readFile (folder + "/cmdline");
        for (auto& c : info.commandLine)
            if (c == '\0')
                c = ' ';
        info.environment = readFile (folder + "/environ");

        if (wanted (info))
            found.push_back (std::move (info));
    }

    ::closedir (proc);
    return found;
}
} // namespace

std::vector<ProcessInfo> processesWithEnvironment (const std::string& entry)
{
    return liveProcesses ([&] (const ProcessInfo& p) {
        return p.environment.compare (0, entry.size() + 1, entry + '\0') == 0
            || p.environment.find ('\0' + entry + '\0') != std::string::npos;
    });
}

std::vector<ProcessInfo> processesMentioning (const std::string& text)
{
    return liveProcesses ([&] (const ProcessInfo& p) { return p.commandLine.find (text) != std::string::npos; });
}

std::vector<ProcessInfo> processesInGroup (pid_t group)
{
    return liveProcesses ([&] (const ProcessInfo& p) { return p.group == group; });
}

std::vector<ProcessInfo> processesLeftAfter (const std::function<std::vector<ProcessInfo>()>& lookup, int timeoutMilliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (scaled (timeoutMilliseconds));
    auto left = lookup();

    while (! left.empty() && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (20));
        left = lookup();
    }

    return left;
}

std::string killWithTheirGroups (const std::vector<ProcessInfo>& processes)
{
    std::string lines;
    const auto ownGroup = ::getpgrp();

    for (const auto& p : processes)
    {
        if (p.group > 1 && p.group != ownGroup)
            ::kill (-p.group, SIGKILL);
        ::kill (p.pid, SIGKILL);
        lines += "  " + std::to_string (p.pid) + " (group " + std::to_string (p.group) + "): " + p.commandLine + "\n";
    }

    return lines;
}

VirtualDisplay::VirtualDisplay (const std::vector<std::string>& extraArguments, int timeoutMilliseconds)
{
    // Xvfb writes the display number it picked to fd 3.
    int fds[2];
    if (::pipe2 (fds, O_CLOEXEC) != 0)
        return;

    ChildProcess::Options options;
    options.arguments = { "Xvfb", "-displayfd", "3", "-screen", "0", "1440x900x24", "-nolisten", "tcp" };
    options.arguments.insert (options.arguments.end(), extraArguments.begin(), extraArguments.end());
    options.passedDescriptor = fds[1];
    // A server given time to go removes its lock file and socket.
    options.terminateGraceMilliseconds = 2000;

    const bool started = server.start (options);
    ::close (fds[1]);

    std::string number;
    pollfd reader { fds[0], POLLIN, 0 };

    while (started && ::poll (&reader, 1, scaled (timeoutMilliseconds)) > 0)
    {
        char c = 0;
        if (::read (fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }

    ::close (fds[0]);

    if (! number.empty())
        displayName = ":" + number;
}
} // namespace tarvik::test
