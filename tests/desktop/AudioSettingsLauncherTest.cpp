// The desktop audio settings launch: which tool is chosen, and that the panel never waits
// for it to end. Fake tools in a folder of the test's own stand in for the real ones.
#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include "desktop/posix/AudioSettingsLauncher.h"
#include "support/ChildProcess.h"
#include "support/MessageLoop.h"

using tarvik::test::pumpUntil;

namespace
{
class AudioSettingsLaunch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Unique per process: the tests of this file run side by side.
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                     .getChildFile ("tarvik-audio-settings-" + juce::Uuid().toString());
        ASSERT_TRUE (folder.createDirectory().wasOk());
    }

    void TearDown() override
    {
        // Every tool started here ends on "go"; one that does not is ended with its group, since
        // the launch detaches it from us.
        folder.getChildFile ("go").create();
        const auto tools = [this] { return tarvik::test::processesMentioning (folder.getFullPathName().toStdString()); };
        const auto left = tarvik::test::processesLeftAfter (tools, 5000);
        const auto killed = tarvik::test::killWithTheirGroups (left);
        EXPECT_TRUE (left.empty()) << "a tool outlived its test:\n" << killed;
        folder.deleteRecursively();
    }

    /** A fake tool that records how it was called, then waits for "go" before it ends; it also
        ends when its folder goes, so that nothing waits forever on a folder that is gone. */
    void makeTool (const juce::String& name, bool executable = true)
    {
        const auto tool = folder.getChildFile (name);
        ASSERT_TRUE (tool.replaceWithText ("#!/bin/sh\n"
                                           "here=$(dirname \"$0\")\n"
                                           "echo \"$(basename \"$0\") $*\" > \"$here/started.tmp\"\n"
                                           "mv \"$here/started.tmp\" \"$here/started\"\n"
                                           "while [ -d \"$here\" ] && [ ! -e \"$here/go\" ]; do sleep 0.05; done\n"
                                           "touch \"$here/ended\"\n",
                                           false, false, "\n"));
        ASSERT_TRUE (tool.setExecutePermission (executable));
    }

    juce::String startedAs()
    {
        const auto started = folder.getChildFile ("started");
        EXPECT_TRUE (pumpUntil ([&] { return started.existsAsFile(); })) << "the tool never ran";
        return started.loadFileAsString().trim();
    }

    juce::File folder;
};
} // namespace

TEST_F (AudioSettingsLaunch, NoToolOnThePathIsAFailureNotACrash)
{
    EXPECT_FALSE (launchDesktopAudioSettings (folder.getFullPathName()));
    EXPECT_FALSE (launchDesktopAudioSettings ({}));

    // Present but not executable, or reachable only through a relative entry: not a tool.
    makeTool ("pavucontrol", false);
    EXPECT_FALSE (launchDesktopAudioSettings (folder.getFullPathName()));
    EXPECT_FALSE (launchDesktopAudioSettings (":."));
    EXPECT_FALSE (folder.getChildFile ("started").exists());

    EXPECT_FALSE (startDetachedProgram (folder.getChildFile ("missing"), {}));
}

TEST_F (AudioSettingsLaunch, TheMixerComesFirstAndRunsOnWithoutThePanelWaiting)
{
    makeTool ("gnome-control-center");
    makeTool ("pavucontrol");
    const auto path = "/nonexistent-folder:" + folder.getFullPathName();

    // Returns while the tool is still waiting for "go".
    EXPECT_TRUE (launchDesktopAudioSettings (path));
    EXPECT_EQ (startedAs(), "pavucontrol");
    EXPECT_FALSE (folder.getChildFile ("ended").exists());

    folder.getChildFile ("go").create();
    EXPECT_TRUE (pumpUntil ([&] { return folder.getChildFile ("ended").exists(); }));
}

TEST_F (AudioSettingsLaunch, WithoutTheMixerTheDesktopSoundSettingsOpen)
{
    makeTool ("gnome-control-center");
    folder.getChildFile ("go").create();
    EXPECT_TRUE (launchDesktopAudioSettings (folder.getFullPathName()));
    EXPECT_EQ (startedAs(), "gnome-control-center sound");
}
