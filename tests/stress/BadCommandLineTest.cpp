// Odd command lines for real starts of the program, at the first launch and from later
// launches: each must start and end cleanly, and only the exact options may act.
#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

#include "BadInput.h"
#include "app/ProgramRunner.h"
#include "support/MessageLoop.h"
#include "support/TestNames.h"

using namespace tarvik::test;

namespace
{
/** Waits for the window's position line; "" if the program ends or the time runs out first. */
juce::String waitForPositionLine (ProgramRun& run, int timeoutMilliseconds)
{
    juce::String found;
    pumpUntil ([&] {
        found = positionLine (run.standardError());
        return found.isNotEmpty() || ! run.isRunning();
    }, timeoutMilliseconds);
    return found;
}

const juce::String storedWindow ("100 120 316 429");

void storeWindow (const ProgramHome& home)
{
    ASSERT_TRUE (home.storeValue ("WindowPosition", storedWindow));
}

/** A later launch: it must end promptly and with success, and must build no window. */
/** A later launch ends: with 0 when the running panel took its command line, else with 1. */
void expectLaterLaunchEnds (const ProgramHome& home, const std::vector<std::string>& arguments, bool taken = true)
{
    ProgramRun later (home, RawArguments { arguments });
    ASSERT_TRUE (later.waitForExit (programExitTimeout)) << "a later launch kept running";
    EXPECT_EQ (later.exitCode, taken ? 0 : 1) << later.standardError().substring (0, 2000);
    EXPECT_EQ (later.standardError().contains ("the running panel did not take the command line"), ! taken);
    EXPECT_FALSE (later.standardError().contains ("POS: ")) << "a later launch built a window";
}

struct CommandLineCase
{
    const char* name;
    std::vector<std::string> arguments;
};

/** Lines that match no option: the panel must ignore them. */
std::vector<CommandLineCase> unmatchedLines()
{
    std::vector<std::string> many (2000, "x");
    return {
        { "no arguments", {} },
        { "one empty argument", { "" } },
        { "a very long argument (10000 bytes)", { std::string (10000, 'a') } },
        { "two thousand arguments", many },
        { "bytes that are no UTF-8", { "\xff\xfe/default\x80", "\xc3\x28\xa0\xa1" } },
        { "/default with a blank inside one argument", { "/default x" } },
        { "/default followed by a word", { "/default", "x" } },
        { "/defaults with a trailing blank", { "/defaults " } },
        { "/shutdown with a leading blank", { " /shutdown" } },
        { "/shutdown followed by a word", { "/shutdown", "now" } },
    };
}
} // namespace

class UnmatchedLineAtTheFirstLaunch : public ::testing::TestWithParam<CommandLineCase>
{
};

TEST_P (UnmatchedLineAtTheFirstLaunch, OpensTheStoredWindowAndQuitsCleanly)
{
    const auto& c = GetParam();
    SCOPED_TRACE (c.name);
    ProgramHome home;
    storeWindow (home);
    ProgramRun run (home, RawArguments { c.arguments });

    // Not taken for a reset (no re-centring) nor for a shutdown (a window is built).
    EXPECT_EQ (waitForPositionLine (run, programStartTimeout), "POS: 100 120") << run.standardError().substring (0, 2000);

    expectLaterLaunchEnds (home, { "/shutdown" });
    EXPECT_TRUE (run.waitForExit (programExitTimeout)) << "the panel did not quit";
    EXPECT_EQ (run.exitCode, 0) << run.standardError().substring (0, 4000);
    EXPECT_TRUE (home.storedValue ("WindowPosition").startsWith (storedWindow)) << home.storedValue ("WindowPosition");
}

INSTANTIATE_TEST_SUITE_P (BadCommandLine, UnmatchedLineAtTheFirstLaunch, ::testing::ValuesIn (unmatchedLines()),
                          [] (const ::testing::TestParamInfo<CommandLineCase>& row) { return caseName (row.param.name, row.index); });

TEST (BadCommandLine, UnmatchedLinesFromLaterLaunchesLeaveThePanelRunningUntilAnExactShutdown)
{
    int tried = 0, failures = 0;
    ProgramHome home;
    storeWindow (home);

    ProgramRun run (home, juce::StringArray());
    ASSERT_EQ (waitForPositionLine (run, programStartTimeout), "POS: 100 120") << run.standardError();

    auto cases = unmatchedLines();
    // Longer than the hand-over takes: the later launch ends without handing it over, and says so.
    const std::string overTheLimit (120000, 'b');
    cases.push_back ({ "an argument over the hand-over limit (120000 bytes)", { overTheLimit } });

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const int failedBefore = failedChecks();
        ++tried;

        expectLaterLaunchEnds (home, c.arguments, c.arguments != std::vector<std::string> { overTheLimit });
        pumpFor (200);
        EXPECT_TRUE (run.isRunning()) << "the panel ended on '" << c.name << "'";

        if (failedChecks() != failedBefore)
            ++failures;

        if (! run.isRunning())
            break;
    }

    // The exact option still works after all that, and no line was taken for a reset.
    expectLaterLaunchEnds (home, { "/shutdown" });
    EXPECT_TRUE (run.waitForExit (programExitTimeout));
    EXPECT_EQ (run.exitCode, 0) << run.standardError().substring (0, 4000);
    EXPECT_TRUE (home.storedValue ("WindowPosition").startsWith (storedWindow)) << home.storedValue ("WindowPosition");

    std::cout << "inputs tried: " << tried << ", failures: " << failures << std::endl;
    EXPECT_EQ (failures, 0);
}
