// Broken settings files: each must give the promised defaults (loopback off, the window at
// 316 x 405 centred) without a crash, and a valid file must be written wherever that is
// possible; where it is not, whatever is in the way is left as it was.
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <functional>
#include <iostream>
#include <thread>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "BadInput.h"
#include "app/PanelTestSupport.h"
#include "app/SettingsFile.h"
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

/** Makes a file impossible to remove or change, for as long as it lives: immutable where the
    file system and our rights allow it (root ignores permissions), else a read-only folder.
*/
class UndeletableFile
{
public:
    explicit UndeletableFile (const juce::File& f) : file (f)
    {
        immutable = setImmutable (true);
        if (! immutable)
            ::chmod (file.getParentDirectory().getFullPathName().toRawUTF8(), 0555);
    }

    ~UndeletableFile()
    {
        if (immutable)
            setImmutable (false);
        ::chmod (file.getParentDirectory().getFullPathName().toRawUTF8(), 0755);
    }

    /** Whether removing the file really fails now. */
    bool holds() const
    {
        return immutable || ! canWriteIn (file.getParentDirectory());
    }

private:
    bool setImmutable (bool on) const
    {
        const int fd = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl (fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ::ioctl (fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close (fd);
        return ok;
    }

    juce::File file;
    bool immutable = false;
};

void printCounts (int tried, int failures)
{
    std::cout << "inputs tried: " << tried << ", failures: " << failures << std::endl;
}

/** A row's name as a test name: its words run together, each capitalised; a minus before a
    digit becomes "Minus", other signs go. */
std::string caseName (const ::testing::TestParamInfo<SettingsCase>& info)
{
    const std::string text (info.param.name);
    std::string name;
    bool wordStart = true;

    for (size_t i = 0; i < text.size(); ++i)
    {
        const auto c = (unsigned char) text[i];

        if (std::isalnum (c))
        {
            name += wordStart ? (char) std::toupper (c) : (char) c;
            wordStart = false;
        }
        else if (c != '\'' && c != ',')
        {
            if (c == '-' && i + 1 < text.size() && std::isdigit ((unsigned char) text[i + 1]))
                name += "Minus";
            wordStart = true;
        }
    }

    return name;
}
} // namespace

namespace tarvik::test
{
// Names the row in failure messages instead of dumping its bytes.
static void PrintTo (const SettingsCase& c, std::ostream* os)
{
    *os << c.name;
}
} // namespace tarvik::test

class BrokenSettingsFile : public BadSettings, public ::testing::WithParamInterface<SettingsCase>
{
};

TEST_P (BrokenSettingsFile, ThePanelReadsDefaultsAndSavesAValidFile)
{
    const auto& c = GetParam();
    c.prepare (folder);
    const bool writable = c.fileCanBeWritten && canWriteIn (folder);
    const auto before = folderSnapshot (folder);

    // What decides the panel's "is damaged" line.
    juce::StringPairArray read;
    EXPECT_EQ (readSettingsFile (settingsFileIn (folder), read) == SettingsFileRead::damaged, c.damaged);

    makePanel();
    EXPECT_EQ (inspect().loopbackMode(), 0);

    panel->savedWindowPosition ("10 20 316 429");
    panel.reset(); // saves at once

    if (writable)
        expectValidSettingsFile (folder, c, "10 20 316 429");
    else
        EXPECT_EQ (folderSnapshot (folder), before) << "something in the way was changed";
}

class BrokenSettingsProgram : public ::testing::TestWithParam<SettingsCase>
{
};

TEST_P (BrokenSettingsProgram, OpensAtTheDefaultPlaceSaysWhetherDamagedAndQuitsCleanly)
{
    const auto& c = GetParam();
    const auto centre = defaultCentredPosition();
    const auto defaultWindow = juce::String (centre.x) + " " + juce::String (centre.y) + " 316 " + juce::String (405 + menuBarStrip);

    ProgramHome home;
    const auto folder = home.settingsFile().getParentDirectory();
    ASSERT_TRUE (folder.createDirectory().wasOk());
    c.prepare (folder);
    const bool writable = c.fileCanBeWritten && canWriteIn (folder);
    const auto before = folderSnapshot (folder);

    ProgramRun run (home, juce::StringArray());
    run.waitForErrorLine ("POS: Korr: ", programStartTimeout);
    EXPECT_EQ (positionLine (run.standardError()), "POS: " + juce::String (centre.x) + " " + juce::String (centre.y))
        << run.standardError().substring (0, 2000);

    const auto damagedLine = "Tarvik Panel: the settings file " + home.settingsFile().getFullPathName()
                           + " is damaged; starting from the defaults";
    EXPECT_EQ (juce::StringArray::fromLines (run.standardError()).indexOf (damagedLine) >= 0, c.damaged)
        << run.standardError().substring (0, 2000);

    ProgramRun quit (home, juce::StringArray { "/shutdown" });
    EXPECT_TRUE (quit.waitForExit (programExitTimeout));
    EXPECT_EQ (quit.exitCode, 0);

    EXPECT_TRUE (run.waitForExit (programExitTimeout)) << "the panel did not quit";
    EXPECT_EQ (run.exitCode, 0) << run.standardError().substring (0, 4000);

    if (writable)
        expectValidSettingsFile (folder, c, defaultWindow);
    else
        EXPECT_EQ (folderSnapshot (folder), before) << "something in the way was changed";

    makeWritableAgain (folder);
}

INSTANTIATE_TEST_SUITE_P (Table, BrokenSettingsFile, ::testing::ValuesIn (brokenSettings()), caseName);
INSTANTIATE_TEST_SUITE_P (Table, BrokenSettingsProgram, ::testing::ValuesIn (brokenSettings()), caseName);

TEST_F (BadSettings, SoundFilesInEveryFormatTheFrameworkReadsAreStillRead)
{
    const auto unusual = juce::String::fromUTF8 ("10 20 316 429 \xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\x9a");

    for (auto format : { juce::PropertiesFile::storeAsBinary, juce::PropertiesFile::storeAsCompressedBinary })
    {
        SCOPED_TRACE (format == juce::PropertiesFile::storeAsBinary ? "binary" : "compressed binary");
        freshFolder();
        auto options = settingsOptions();
        options.storageFormat = format;
        {
            juce::PropertiesFile stored (options);
            stored.setValue ("loopback", "1");
            stored.setValue ("WindowPosition", unusual);
            ASSERT_TRUE (stored.save());
        }

        makePanel();
        EXPECT_EQ (inspect().loopbackMode(), 1) << "a sound file in the framework's format was thrown away";
        EXPECT_EQ (panel->getUserSettings()->getValue ("WindowPosition"), unusual);
        panel.reset();
    }

    // Sound files that reach the bounds without passing them, and one whose first 8 KB end
    // inside a character (the framework's first look reads that much).
    const juce::String deepValue = "  <VALUE name=\"deep\">" + juce::String::repeatedString ("<a>", 30)
                                 + juce::String::repeatedString ("</a>", 30) + "</VALUE>\n";
    const std::string head = "<PROPERTIES note=\"";
    const juce::String acrossTheFirstLook = juce::String::fromUTF8 ((head + std::string (8191 - head.size(), 'x') + "\xc3\xa9\">"
                                                                     + valueXml ("loopback", "1").toStdString() + "</PROPERTIES>").c_str());

    for (auto& [what, text] : { std::pair<const char*, juce::String> { "nesting at the bound", propertiesXml (valueXml ("loopback", "1") + deepValue) },
                                { "elements at the bound", propertiesXml (valueXml ("loopback", "1") + juce::String::repeatedString ("<V/>", 998)) },
                                { "first 8 KB ending inside a character", acrossTheFirstLook } })
    {
        SCOPED_TRACE (what);
        freshFolder();
        ASSERT_TRUE (settingsFileIn (folder).replaceWithText (text));
        makePanel();
        EXPECT_EQ (inspect().loopbackMode(), 1) << "a sound file was thrown away";
        panel.reset();
    }

    // Files right at the byte, pair and decompressed-size bounds, measured as they stand.
    const std::pair<const char*, std::function<void (const juce::File&)>> atTheBounds[] {
        { "exactly 64 KiB", [] (const juce::File& f) { writeXmlOfExactSize (f, 64 * 1024); } },
        { "binary format, pairs at the bound",
          [] (const juce::File& f) {
              const auto pairs = pairsWithLoopback (1000);
              ASSERT_EQ (pairs.size(), 1000u);
              writeBytes (f, binaryProperties (pairs, false));
          } },
        { "compressed format, exactly 1 MiB decompressed",
          [] (const juce::File& f) {
              writeBytes (f, compressedOfDecompressedSize (1024 * 1024));
              ASSERT_EQ (decompressedSize (f), (size_t) 1024 * 1024);
          } },
    };

    for (auto& [what, write] : atTheBounds)
    {
        SCOPED_TRACE (what);
        freshFolder();
        write (settingsFileIn (folder));
        makePanel();
        EXPECT_EQ (inspect().loopbackMode(), 1) << "a sound file at the bound was thrown away";
        panel.reset();
    }

    // XML in UTF-8 with a byte order mark, and in UTF-16, which the framework converts.
    const auto xml = propertiesXml (valueXml ("loopback", "1") + valueXml ("WindowPosition", unusual));
    juce::MemoryOutputStream utf8, utf16;
    utf8.write ("\xef\xbb\xbf", 3);
    utf8.writeString (xml);
    utf16.writeShort ((short) 0xfeff);
    for (auto* unit = xml.toUTF16().getAddress(); *unit != 0; ++unit)
        utf16.writeShort ((short) *unit);

    for (auto* text : { &utf8, &utf16 })
    {
        SCOPED_TRACE (text == &utf8 ? "XML, UTF-8 with a byte order mark" : "XML, UTF-16");
        freshFolder();
        writeBytes (settingsFileIn (folder), text->getMemoryBlock());
        // The framework reads UTF-16 a unit at a time, so the last character comes as two.
        const auto framework = juce::PropertiesFile (settingsOptions()).getValue ("WindowPosition");
        EXPECT_TRUE (framework.startsWith ("10 20 316 429 "));

        makePanel();
        EXPECT_EQ (inspect().loopbackMode(), 1) << "a sound XML file was thrown away";
        EXPECT_EQ (panel->getUserSettings()->getValue ("WindowPosition"), framework);

        // What the panel writes back of it must read at the next start too.
        panel->savedWindowPosition (framework + " ");
        panel.reset();
        makePanel();
        EXPECT_EQ (inspect().loopbackMode(), 1) << "the panel's own file was thrown away";
        EXPECT_EQ (panel->getUserSettings()->getValue ("WindowPosition"), framework + " ");
        panel.reset();
    }
}

TEST_F (BadSettings, ADamagedFileThatCannotBeRemovedIsNeitherReadNorOverwritten)
{
    for (bool compressed : { false, true })
    {
        SCOPED_TRACE (compressed ? "compressed" : "binary");
        freshFolder();
        writeBytes (settingsFileIn (folder), binaryPropertiesWithACharacterCutShort (compressed));
        const auto before = folderSnapshot (folder);

        UndeletableFile undeletable (settingsFileIn (folder));
        if (! undeletable.holds())
            GTEST_SKIP() << "no way here to keep the settings file from being removed";

        makePanel();
        EXPECT_EQ (inspect().loopbackMode(), 0);
        panel->savedWindowPosition ("10 20 316 429");
        panel.reset();

        EXPECT_EQ (folderSnapshot (folder), before) << "the damaged file was changed";
        EXPECT_FALSE (settingsFileIn (folder).getChildFile ("Tarvik Panel.settings").exists());
    }
}

TEST_F (BadSettings, StaleTemporaryFilesGoOnlyWhenTheyAreThisUsersAndNamedAsTheFrameworkNamesThem)
{
    const auto settings = settingsFileIn (folder);
    const auto inFolder = [this] (const char* name) { return folder.getChildFile (name); };
    const juce::File stale[] { inFolder ("Tarvik Panel_temp1a2b3c4d.settings"), inFolder ("Tarvik Panel_temp8a3f01_2.settings") };
    const juce::File lookAlikes[] { inFolder ("Tarvik Panel_tempnotes.settings"), inFolder ("Tarvik Panel_temp.settings"),
                                    inFolder ("Tarvik Panel_temp1A2B.settings"), inFolder ("Tarvik Panel_temp0123456789abcdef01234.settings"),
                                    inFolder ("Tarvik Panel_temp1a2b.txt"), inFolder ("Other_temp1a2b.settings") };
    for (auto& f : stale)
        ASSERT_TRUE (f.replaceWithText ("<PROPERTIES/>"));
    for (auto& f : lookAlikes)
        ASSERT_TRUE (f.replaceWithText ("keep"));

    // Named right but no regular file: a folder, and a link to a file elsewhere.
    const auto aFolder = inFolder ("Tarvik Panel_tempabc.settings");
    const auto aLink = inFolder ("Tarvik Panel_tempdef.settings");
    const auto linkTarget = inFolder ("target");
    ASSERT_TRUE (aFolder.createDirectory().wasOk());
    ASSERT_TRUE (linkTarget.replaceWithText ("keep"));
    ASSERT_TRUE (linkTarget.createSymbolicLink (aLink, true));

    // Another user's files stay: asked for a user who owns none of these, nothing goes.
    SettingsFile::removeStaleTemporaryFiles (settings, ::geteuid() + 1);
    for (auto& f : stale)
        EXPECT_TRUE (f.existsAsFile()) << f.getFileName() << " went though its owner was not the one asked for";

    // Where the rights allow it, a file that really is another user's.
    const auto othersFile = inFolder ("Tarvik Panel_temp99.settings");
    ASSERT_TRUE (othersFile.replaceWithText ("keep"));
    const bool othersFileMade = ::chown (othersFile.getFullPathName().toRawUTF8(), 65534, 65534) == 0;
    if (! othersFileMade)
        othersFile.deleteFile();

    makePanel();
    panel.reset();

    for (auto& f : stale)
        EXPECT_FALSE (f.exists()) << f.getFileName() << " outlived the start";
    for (auto& f : lookAlikes)
        EXPECT_TRUE (f.existsAsFile()) << f.getFileName() << " only looks like a temporary file, and went";
    EXPECT_TRUE (aFolder.isDirectory());
    EXPECT_TRUE (aLink.isSymbolicLink()) << "a link was removed";
    EXPECT_TRUE (linkTarget.existsAsFile());
    EXPECT_TRUE (othersFile.existsAsFile() || ! othersFileMade) << "another user's file was removed";
}

TEST_F (BadSettings, ASaveThatFailedIsMadeAtTheNextSave)
{
    auto options = settingsOptions();
    options.millisecondsBeforeSaving = 0;
    ASSERT_TRUE (settingsFile().replaceWithText (propertiesXml (valueXml ("loopback", "0"))));

    {
        SettingsFile settings (options);
        {
            // The write itself fails, not the checks before it.
            UndeletableFile undeletable (settingsFile());
            if (! undeletable.holds())
                GTEST_SKIP() << "no way here to keep the settings file from being replaced";

            settings.setValue ("loopback", "1"); // saved at once, which fails
            EXPECT_FALSE (settings.saveIfNeeded());
        }

        EXPECT_EQ (storedValue ("loopback"), "0");
        EXPECT_TRUE (settings.saveIfNeeded());
        EXPECT_EQ (storedValue ("loopback"), "1") << "the change was forgotten with the failed save";

        // Once more, with the object's end as the next save: the file can be replaced again
        // by then, as this goes before the object does.
        UndeletableFile undeletable (settingsFile());
        settings.setValue ("loopback", "0");
        EXPECT_EQ (storedValue ("loopback"), "1");
    }

    EXPECT_EQ (storedValue ("loopback"), "0") << "the change was forgotten with the failed save";
}

TEST (BadSettingsProgram, AFileSwappedBetweenGoodAndBadWhileThePanelStartsNeverHarmsIt)
{
    ProgramHome home;
    const auto folder = home.settingsFile().getParentDirectory();
    const auto spare = home.root.getChildFile ("spare");
    ASSERT_TRUE (folder.createDirectory().wasOk());
    ASSERT_TRUE (spare.createDirectory().wasOk());

    // Whole files to swap in, each put in place with one rename.
    const auto good = spare.getChildFile ("good");
    ASSERT_TRUE (good.replaceWithText (propertiesXml (valueXml ("loopback", "1") + valueXml ("WindowPosition", "100 120 316 429"))));
    std::vector<juce::File> sources { good };
    for (auto& [name, text] : { std::pair<const char*, juce::String> { "bomb", entityBomb() },
                                { "nested", nestedElements (50000) },
                                { "entries", manyEntries (100000) } })
    {
        sources.push_back (spare.getChildFile (name));
        ASSERT_TRUE (sources.back().replaceWithText (text));
        sources.push_back (good);
    }

    std::atomic<bool> swapping { true };
    std::thread swapper ([&] {
        const auto target = home.settingsFile().getFullPathName().toStdString();
        const auto staging = spare.getChildFile ("staging").getFullPathName().toStdString();
        for (size_t i = 0; swapping; ++i)
        {
            ::unlink (staging.c_str());
            // Now and then no file at all, a FIFO or a link to a device instead.
            const auto kind = i % 9;
            const bool made = kind == 7   ? ::mkfifo (staging.c_str(), 0600) == 0
                            : kind == 8 ? ::symlink ("/dev/zero", staging.c_str()) == 0
                                        : ::link (sources[i % sources.size()].getFullPathName().toRawUTF8(), staging.c_str()) == 0;
            if (made)
                ::rename (staging.c_str(), target.c_str());
            std::this_thread::sleep_for (std::chrono::microseconds (300));
        }

        // A good file last: a panel that read a good one has nothing to save, and leaves this.
        ::unlink (staging.c_str());
        ::link (good.getFullPathName().toRawUTF8(), staging.c_str());
        ::rename (staging.c_str(), target.c_str());
    });

    // Many more by hand: TARVIK_SWAP_LAUNCHES=60.
    const int launches = repeatCount ("TARVIK_SWAP_LAUNCHES", 4);
    int failures = 0, damaged = 0;

    for (int i = 0; i < launches; ++i)
    {
        SCOPED_TRACE ("launch " + juce::String (i + 1));
        const int failedBefore = failedChecks();
        swapping = true;
        ProgramRun run (home, juce::StringArray());
        EXPECT_TRUE (run.waitForErrorLine ("POS: Korr: ", programStartTimeout).isNotEmpty()) << "no window";

        if (i + 1 == launches)
        {
            // The last time the swapping stops before the quit, so that the file left can be checked.
            swapping = false;
            swapper.join();
        }

        ProgramRun later (home, { "/shutdown" });
        EXPECT_TRUE (later.waitForExit (programExitTimeout));
        EXPECT_EQ (later.exitCode, 0);
        EXPECT_TRUE (run.waitForExit (programExitTimeout)) << "the panel did not quit";
        EXPECT_EQ (run.exitCode, 0) << run.standardError().substring (0, 4000);
        damaged += run.standardError().contains ("is damaged") ? 1 : 0;

        if (failedChecks() != failedBefore)
            ++failures;
    }

    std::cout << "launches that found the file damaged: " << damaged << " of " << launches << std::endl;

    if (swapper.joinable())
    {
        swapping = false;
        swapper.join();
    }

    ASSERT_EQ (folderSnapshot (folder).substring (0, 5), "file:") << "no regular file left";
    auto xml = juce::parseXML (home.settingsFile());
    ASSERT_NE (xml, nullptr) << "the last quit left no valid file";
    EXPECT_TRUE (xml->hasTagName ("PROPERTIES"));
    printCounts (launches, failures);
    EXPECT_EQ (failures, 0);
}

TEST (BadSettingsProgram, SavesCutShortByAKillLeaveNoTemporaryFileBehind)
{
    ProgramHome home;
    const auto folder = home.settingsFile().getParentDirectory();
    auto temporaries = [&] { return folder.findChildFiles (juce::File::findFiles, false, "Tarvik Panel_temp*").size(); };

    // Files of others that only look alike stay.
    ASSERT_TRUE (folder.createDirectory().wasOk());
    const auto notOurs = folder.getChildFile ("Tarvik Panel_temp-notes.txt");
    ASSERT_TRUE (notOurs.replaceWithText ("keep"));

    // Many more by hand: TARVIK_KILL_RUNS=20.
    const int runs = repeatCount ("TARVIK_KILL_RUNS", 3);
    juce::Random random (42);

    for (int i = 0; i < runs; ++i)
    {
        SCOPED_TRACE ("run " + juce::String (i + 1));

        // What a save killed between writing and renaming leaves.
        ASSERT_TRUE (folder.getChildFile ("Tarvik Panel_temp" + juce::String::toHexString (random.nextInt()) + ".settings").replaceWithText ("<PROPERTIES/>"));
        ASSERT_TRUE (folder.getChildFile ("Tarvik Panel_temp8a3f01_2.settings").replaceWithText ("<PROPERTIES/>"));

        ProgramRun run (home, juce::StringArray());
        ASSERT_TRUE (run.waitForErrorLine ("POS: Korr: ", programStartTimeout).isNotEmpty());
        EXPECT_EQ (temporaries(), 1) << "a stale temporary file outlived the start";

        // Killed somewhere in its quit, which saves.
        ProgramRun later (home, { "/shutdown" });
        EXPECT_TRUE (later.waitForExit (programExitTimeout));
        juce::Thread::sleep (random.nextInt (30));
        ::kill (run.processId(), SIGKILL);
        EXPECT_TRUE (run.waitForExit (programExitTimeout));
    }

    ProgramRun last (home, juce::StringArray());
    ASSERT_TRUE (last.waitForErrorLine ("POS: Korr: ", programStartTimeout).isNotEmpty());
    ProgramRun later (home, { "/shutdown" });
    EXPECT_TRUE (later.waitForExit (programExitTimeout));
    EXPECT_TRUE (last.waitForExit (programExitTimeout));
    EXPECT_EQ (last.exitCode, 0);

    EXPECT_EQ (temporaries(), 1) << "a temporary settings file remained";
    EXPECT_TRUE (notOurs.existsAsFile()) << "a file that only looks like ours was removed";
    EXPECT_NE (juce::parseXML (home.settingsFile()), nullptr);
}
