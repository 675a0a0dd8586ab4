// Broken settings files: each must give the promised defaults (loopback off, the window at
// 316 x 405 centred) without a crash, and a valid file must be written wherever that is
// possible; where it is not, whatever is in the way is left as it was.
#include <iostream>

#include "BadInput.h"
#include "app/PanelTestSupport.h"
#include "app/ProgramRunner.h"

using namespace tarvik::test;

namespace
{
class BadSettings : public PanelTest
{
protected:
    void TearDown() override
    {
        makeWritableAgain (folder);
        PanelTest::TearDown();
    }

    /** A fresh, empty settings folder. */
    void freshFolder()
    {
        makeWritableAgain (folder);
        ASSERT_TRUE (folder.deleteRecursively());
        ASSERT_TRUE (folder.createDirectory().wasOk());
    }
};

void printCounts (int tried, int failures)
{
    std::cout << "inputs tried: " << tried << ", failures: " << failures << std::endl;
}
} // namespace

TEST_F (BadSettings, ThePanelBuiltOnABrokenFileReadsDefaultsAndSavesAValidFile)
{
    int tried = 0, failures = 0;

    for (auto& c : brokenSettings())
    {
        SCOPED_TRACE (c.name);
        const int failedBefore = failedChecks();
        ++tried;

        freshFolder();
        c.prepare (folder);
        const bool writable = c.fileCanBeWritten && canWriteIn (folder);
        const auto before = folderSnapshot (folder);

        makePanel();
        EXPECT_EQ (inspect().loopbackMode(), 0);

        panel->savedWindowPosition ("10 20 316 429");
        panel.reset(); // saves at once

        if (writable)
            expectValidSettingsFile (folder, c, "10 20 316 429");
        else
            EXPECT_EQ (folderSnapshot (folder), before) << "something in the way was changed";

        if (failedChecks() != failedBefore)
            ++failures;
    }

    printCounts (tried, failures);
    EXPECT_EQ (failures, 0);
}

TEST (BadSettingsProgram, TheProgramStartedOnABrokenFileOpensAtTheDefaultPlaceAndQuitsCleanly)
{
    int tried = 0, failures = 0;
    const auto centre = defaultCentredPosition();
    const auto defaultWindow = juce::String (centre.x) + " " + juce::String (centre.y) + " 316 " + juce::String (405 + menuBarStrip);
    const auto cases = brokenSettings();

    // A few programs at a time, each in a home of its own, to keep the suite quick.
    constexpr size_t batchSize = 5;

    for (size_t first = 0; first < cases.size(); first += batchSize)
    {
        struct Run
        {
            const SettingsCase* c;
            std::unique_ptr<ProgramHome> home;
            juce::File folder;
            bool writable = false;
            juce::String before;
            std::unique_ptr<ProgramRun> run;
            juce::String pos;
        };
        std::vector<Run> runs;

        for (size_t i = first; i < std::min (cases.size(), first + batchSize); ++i)
        {
            Run r;
            r.c = &cases[i];
            r.home = std::make_unique<ProgramHome>();
            r.folder = r.home->settingsFile().getParentDirectory();
            EXPECT_TRUE (r.folder.createDirectory().wasOk());
            r.c->prepare (r.folder);
            r.writable = r.c->fileCanBeWritten && canWriteIn (r.folder);
            r.before = folderSnapshot (r.folder);
            r.run = std::make_unique<ProgramRun> (*r.home, juce::StringArray());
            runs.push_back (std::move (r));
        }

        for (auto& r : runs)
        {
            r.run->waitForErrorLine ("POS: Korr: ", programStartTimeout);
            r.pos = positionLine (r.run->standardError());
        }

        for (auto& r : runs)
        {
            SCOPED_TRACE (r.c->name);
            const int failedBefore = failedChecks();
            ++tried;

            EXPECT_EQ (r.pos, "POS: " + juce::String (centre.x) + " " + juce::String (centre.y))
                << r.run->standardError().substring (0, 2000);

            {
                ProgramRun later (*r.home, { "/shutdown" });
                EXPECT_TRUE (later.waitForExit (programExitTimeout));
                EXPECT_EQ (later.exitCode, 0);
            }

            EXPECT_TRUE (r.run->waitForExit (programExitTimeout)) << "the panel did not quit";
            EXPECT_EQ (r.run->exitCode, 0) << r.run->standardError().substring (0, 4000);

            if (r.writable)
                expectValidSettingsFile (r.folder, *r.c, defaultWindow);
            else
                EXPECT_EQ (folderSnapshot (r.folder), r.before) << "something in the way was changed";

            makeWritableAgain (r.folder);

            if (failedChecks() != failedBefore)
                ++failures;
        }
    }

    printCounts (tried, failures);
    EXPECT_EQ (failures, 0);
}
