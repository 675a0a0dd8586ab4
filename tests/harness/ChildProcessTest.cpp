// The child processes that program, end-to-end and benchmark runs start: if these fail, a
// test may leave a program behind or read a wrong exit status.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>

#include <gtest/gtest.h>

#include "support/ChildProcess.h"
#include "support/MessageLoop.h"

using tarvik::test::ChildProcess;

namespace
{
ChildProcess::Options shell (const std::string& script)
{
    ChildProcess::Options options;
    options.arguments = { "sh", "-c", script };
    return options;
}

bool processExists (pid_t pid) { return ::kill (pid, 0) == 0 || errno != ESRCH; }
} // namespace

TEST (ChildProcess, ReportsExitStatusSignalAndTimeout)
{
    ChildProcess exits;
    ASSERT_TRUE (exits.start (shell ("exit 3")));
    ASSERT_TRUE (exits.waitForExit (5000));
    EXPECT_EQ (exits.exitCode(), 3);
    EXPECT_EQ (exits.terminatingSignal(), 0);

    ChildProcess sleeps;
    ASSERT_TRUE (sleeps.start (shell ("sleep 30")));
    EXPECT_FALSE (sleeps.waitForExit (50)) << "a waiting program counted as ended";
    EXPECT_TRUE (sleeps.isRunning());
    ASSERT_TRUE (sleeps.sendSignal (SIGKILL));
    ASSERT_TRUE (sleeps.waitForExit (5000));
    EXPECT_EQ (sleeps.exitCode(), -1);
    EXPECT_EQ (sleeps.terminatingSignal(), SIGKILL);
    EXPECT_FALSE (sleeps.sendSignal (SIGTERM)) << "an ended program took a signal";

    ChildProcess missing;
    ChildProcess::Options nothing;
    nothing.arguments = { "/nonexistent/program" };
    ASSERT_TRUE (missing.start (nothing));
    ASSERT_TRUE (missing.waitForExit (5000));
    EXPECT_EQ (missing.exitCode(), 127);
}

TEST (ChildProcess, GetsOnlyTheGivenEnvironmentWhenAskedAndWritesItsOutputToFiles)
{
    const auto out = ::testing::TempDir() + "child-out-" + std::to_string (::getpid());
    auto options = shell ("echo \"[$HOME][$TARVIK_CHILD_TEST]\"; echo oops >&2");
    options.inheritEnvironment = false;
    options.environment = { { "TARVIK_CHILD_TEST", "given" }, { "PATH", "/usr/bin:/bin" } };
    options.standardOutput = out;
    options.standardError = out + ".err";

    ChildProcess child;
    ASSERT_TRUE (child.start (options));
    ASSERT_TRUE (child.waitForExit (5000));
    EXPECT_EQ (tarvik::test::readFile (out), "[][given]\n");
    EXPECT_EQ (tarvik::test::readFile (out + ".err"), "oops\n");
    std::remove (out.c_str());
    std::remove ((out + ".err").c_str());

    ::setenv ("TARVIK_CHILD_TEST", "inherited", 1);
    EXPECT_EQ (tarvik::test::runAndCapture ({ "sh", "-c", "echo $TARVIK_CHILD_TEST" }, {}), "inherited\n");
    EXPECT_EQ (tarvik::test::runAndCapture ({ "sh", "-c", "echo $TARVIK_CHILD_TEST" }, { { "TARVIK_CHILD_TEST", "replaced" } }), "replaced\n");
    ::unsetenv ("TARVIK_CHILD_TEST");
}

TEST (ChildProcess, EndingItEndsWhatTheProgramStartedAndAProgramThatIgnoresTerm)
{
    const auto pidFile = ::testing::TempDir() + "child-grandchild-" + std::to_string (::getpid());
    pid_t grandchild = 0, child = 0;
    {
        ChildProcess::Options options = shell ("trap '' TERM; sleep 60 & echo $! >" + pidFile + "; wait");
        options.terminateGraceMilliseconds = 100;
        ChildProcess process;
        ASSERT_TRUE (process.start (options));
        child = process.pid();
        ASSERT_TRUE (tarvik::test::pumpUntil ([&] { return ! tarvik::test::readFile (pidFile).empty(); }, 5000));
        grandchild = (pid_t) std::stol (tarvik::test::readFile (pidFile));
        ASSERT_TRUE (processExists (grandchild));
    }

    // Collected by us, and the orphan by init: both gone once it has had a moment.
    EXPECT_FALSE (processExists (child));
    EXPECT_TRUE (tarvik::test::pumpUntil ([&] { return ! processExists (grandchild); }, 5000))
        << "a process the program started outlived it";
    std::remove (pidFile.c_str());
}
