// Runs of the real program on this test's display, each in a home of its own:
// command line, remembered window position, hand-over from later launches, quitting.
#include <csignal>
#include <optional>
#include <set>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "ProgramRunner.h"
#include "support/MessageLoop.h"

using namespace tarvik::test;

namespace
{
constexpr int startTimeout = 20000;
constexpr int exitTimeout = 10000;
const juce::String title ("Tarvik Panel v1.2.0.0");

/** The face of the default window, centred on the main display: its top-left corner. */
juce::Point<int> defaultCentredPosition (int menuBarHeight)
{
    const auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    return area.getCentre() - juce::Point<int> (316 / 2, (405 + menuBarHeight) / 2);
}

juce::Point<int> parsePosition (const juce::String& posLine)
{
    const auto tokens = juce::StringArray::fromTokens (posLine.fromFirstOccurrenceOf ("POS: ", false, false), " ", "");
    return { tokens[0].getIntValue(), tokens[1].getIntValue() };
}

/** A later launch: it must hand its command line over and end promptly, with success. */
void laterLaunch (const ProgramHome& home, const juce::StringArray& arguments)
{
    ProgramRun later (home, arguments);
    ASSERT_TRUE (later.waitForExit (exitTimeout)) << "a later launch with '" << arguments.joinIntoString (" ") << "' kept running";
    EXPECT_EQ (later.exitCode, 0);
    EXPECT_FALSE (later.standardError().contains ("POS: ")) << "a later launch built a window";
}

constexpr int barHeight = 24;

/** The socket inodes among the process's open files. */
std::set<juce::String> socketInodesOf (pid_t pid)
{
    std::set<juce::String> inodes;
    for (const auto& entry : juce::RangedDirectoryIterator (juce::File ("/proc/" + juce::String (pid) + "/fd"), false, "*",
                                                            juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles))
    {
        const auto target = entry.getFile().getLinkedTarget().getFileName();
        if (target.startsWith ("socket:["))
            inodes.insert (target.fromFirstOccurrenceOf ("[", false, false).upToFirstOccurrenceOf ("]", false, false));
    }
    return inodes;
}

/** TCP sockets of the process that listen, as /proc/net/tcp and tcp6 list them (state 0A). */
juce::StringArray listeningTcpSocketsOf (pid_t pid)
{
    const auto inodes = socketInodesOf (pid);
    juce::StringArray found;
    for (auto* table : { "/proc/net/tcp", "/proc/net/tcp6" })
        for (auto& line : juce::StringArray::fromLines (juce::File (table).loadFileAsString()))
        {
            const auto fields = juce::StringArray::fromTokens (line, " ", "");
            if (fields.size() > 9 && fields[3] == "0A" && inodes.count (fields[9]) > 0)
                found.add (fields[1]);
        }
    return found;
}

/** True once the process runs the panel's program and catches the signal. */
bool catchesSignal (pid_t pid, int signalNumber)
{
    const auto status = juce::File ("/proc/" + juce::String (pid) + "/status").loadFileAsString();
    const auto field = [&] (const char* name) {
        for (auto& line : juce::StringArray::fromLines (status))
            if (line.startsWith (name))
                return line.fromFirstOccurrenceOf (":", false, false).trim();
        return juce::String();
    };

    // Until exec the process is a copy of this test, with its name.
    const auto program = juce::File (TARVIK_PANEL_PROGRAM).getFileName().substring (0, 15);
    const auto caught = (juce::uint64) field ("SigCgt:").getHexValue64();
    return field ("Name:") == program && (caught & (1ull << (signalNumber - 1))) != 0;
}

/** The home the user database gives for this user, as the program falls back to it. */
juce::File homeOfUserDatabase()
{
    std::vector<char> buffer (1 << 16);
    passwd entry {};
    passwd* found = nullptr;
    return ::getpwuid_r (::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr
               ? juce::File (juce::CharPointer_UTF8 (found->pw_dir))
               : juce::File();
}

/** Puts back exactly what a run may create or change in a real folder: the settings file's
    bytes, or no file, and the folders that were not there before.
*/
class RealSettingsGuard
{
public:
    explicit RealSettingsGuard (const juce::File& settingsFileToGuard) : file (settingsFileToGuard)
    {
        if (file.existsAsFile())
            file.loadFileAsData (original.emplace());

        for (auto folder = file.getParentDirectory(); ! folder.exists(); folder = folder.getParentDirectory())
            created.push_back (folder);
    }

    ~RealSettingsGuard()
    {
        if (original.has_value())
            file.replaceWithData (original->getData(), original->getSize());
        else
            file.deleteFile();

        for (auto& folder : created)
            folder.deleteRecursively();
    }

    const juce::File file;

private:
    std::optional<juce::MemoryBlock> original;
    std::vector<juce::File> created;
};
} // namespace

TEST (Program, ShutdownAtFirstLaunchEndsBeforeAnyWindowOrSettings)
{
    ProgramHome home;
    ProgramRun run (home, { "/ShutDown" });
    ASSERT_TRUE (run.waitForExit (exitTimeout));
    EXPECT_EQ (run.exitCode, 0);
    EXPECT_FALSE (run.standardError().contains ("POS: "));
    EXPECT_FALSE (run.standardError().contains ("gross"));
    EXPECT_FALSE (home.settingsFile().getParentDirectory().exists()) << "the settings folder was created";
}

TEST (Program, FirstRunOpensCentredWritesNothingAndTheNextStartRestoresTheWindow)
{
    ProgramHome home;
    juce::Point<int> firstPosition;

    {
        ProgramRun run (home, {});
        const auto pos = run.waitForErrorLine ("POS: ", startTimeout);
        ASSERT_TRUE (pos.isNotEmpty()) << run.standardError();
        firstPosition = parsePosition (pos);
        EXPECT_EQ (firstPosition, defaultCentredPosition (barHeight));
        EXPECT_EQ (run.waitForErrorLine ("POS: Korr: ", startTimeout),
                   "POS: Korr: " + juce::String (firstPosition.x) + " " + juce::String (firstPosition.y));

        // Longer than the save delay: still nothing written.
        pumpFor (3500);
        EXPECT_FALSE (home.settingsFile().exists()) << "a first run wrote settings at start";

        laterLaunch (home, { "/shutdown" });
        ASSERT_TRUE (run.waitForExit (exitTimeout)) << "a later /shutdown did not end the panel";
        EXPECT_EQ (run.exitCode, 0);
    }

    const auto stored = home.storedValue ("WindowPosition");
    EXPECT_TRUE (stored.startsWith (juce::String (firstPosition.x) + " " + juce::String (firstPosition.y) + " 316 "
                                    + juce::String (405 + barHeight)))
        << stored;

    // A stored position elsewhere is restored exactly (no edge dragged, nothing re-centred).
    ASSERT_TRUE (home.storeValue ("WindowPosition", "100 120 226 314"));
    {
        ProgramRun run (home, {});
        const auto pos = run.waitForErrorLine ("POS: ", startTimeout);
        EXPECT_EQ (parsePosition (pos), juce::Point<int> (100, 120));

        // The close button ends the application and stores the window.
        ASSERT_TRUE (pumpUntil ([] { return requestWindowClose (title); }, 5000));
        ASSERT_TRUE (run.waitForExit (exitTimeout)) << "closing the window did not end the application";
        EXPECT_EQ (run.exitCode, 0);
    }
    EXPECT_TRUE (home.storedValue ("WindowPosition").startsWith ("100 120 226 314"));

    // Off the left edge and at the very top: the second trace line reads x below 0 as 0 and
    // y not above 0 as 30; nothing is moved.
    ASSERT_TRUE (home.storeValue ("WindowPosition", "-40 0 316 429"));
    {
        ProgramRun run (home, {});
        EXPECT_EQ (run.waitForErrorLine ("POS: ", startTimeout), "POS: -40 0");
        EXPECT_EQ (run.waitForErrorLine ("POS: Korr: ", startTimeout), "POS: Korr: 0 30");

        laterLaunch (home, { "/shutdown" });
        ASSERT_TRUE (run.waitForExit (exitTimeout));
    }
    EXPECT_TRUE (home.storedValue ("WindowPosition").startsWith ("-40 0 316 429")) << home.storedValue ("WindowPosition");
}

TEST (Program, DefaultsAtStartIgnoreTheStoredWindowUntilTheWayOut)
{
    ProgramHome home;
    ASSERT_TRUE (home.storeValue ("WindowPosition", "100 120 316 429"));

    ProgramRun run (home, { "/DeFaults" });
    ASSERT_TRUE (run.waitForErrorLine ("gross", startTimeout).isNotEmpty());

    // Emptied at start and saved after the delay; no position is reported on a reset.
    EXPECT_TRUE (pumpUntil ([&] { return home.storedValue ("WindowPosition").isEmpty(); }, 8000))
        << home.storedValue ("WindowPosition");
    EXPECT_FALSE (run.standardError().contains ("POS: "));

    laterLaunch (home, { "/shutdown" });
    ASSERT_TRUE (run.waitForExit (exitTimeout));

    const auto centre = defaultCentredPosition (barHeight);
    EXPECT_TRUE (home.storedValue ("WindowPosition")
                     .startsWith (juce::String (centre.x) + " " + juce::String (centre.y) + " 316 429"))
        << home.storedValue ("WindowPosition");
}

TEST (Program, OptionsMustBeTheWholeParameterString)
{
    for (auto arguments : { juce::StringArray { "/default", "x" }, juce::StringArray { "/default " } })
    {
        SCOPED_TRACE (arguments.joinIntoString ("|"));
        ProgramHome home;
        ASSERT_TRUE (home.storeValue ("WindowPosition", "100 120 316 429"));

        ProgramRun run (home, arguments);
        const auto pos = run.waitForErrorLine ("POS: ", startTimeout);
        ASSERT_TRUE (pos.isNotEmpty()) << "treated as a reset";
        EXPECT_EQ (parsePosition (pos), juce::Point<int> (100, 120));

        laterLaunch (home, { "/shutdown" });
        ASSERT_TRUE (run.waitForExit (exitTimeout));
    }
}

TEST (Program, LaterLaunchesHandTheirCommandLineToTheRunningPanel)
{
    ProgramHome home;
    ASSERT_TRUE (home.storeValue ("WindowPosition", "100 120 316 429"));

    ProgramRun run (home, {});
    ASSERT_TRUE (run.waitForErrorLine ("POS: ", startTimeout).isNotEmpty());

    // The hand-over goes over a Unix socket: nothing listens on TCP for other users to reach.
    EXPECT_FALSE (socketInodesOf (run.processId()).empty()) << "the look at the open files saw no socket at all";
    EXPECT_TRUE (listeningTcpSocketsOf (run.processId()).isEmpty()) << listeningTcpSocketsOf (run.processId()).joinIntoString (", ");

    // Anything else only brings the panel forward.
    laterLaunch (home, { "--hello" });
    pumpFor (300);
    EXPECT_TRUE (run.isRunning());

    // "/default" re-centres the running window at the default size; the panel keeps running.
    laterLaunch (home, { "/default" });
    pumpFor (300);
    EXPECT_TRUE (run.isRunning());

    // "/shutdown" ends it, storing the window as it is now.
    laterLaunch (home, { "/SHUTDOWN" });
    ASSERT_TRUE (run.waitForExit (exitTimeout));
    EXPECT_EQ (run.exitCode, 0);

    const auto centre = defaultCentredPosition (barHeight);
    EXPECT_TRUE (home.storedValue ("WindowPosition")
                     .startsWith (juce::String (centre.x) + " " + juce::String (centre.y) + " 316 429"))
        << home.storedValue ("WindowPosition");
}

TEST (Program, ALaterLaunchThatNobodyAnswersFailsWithOneLineAndIsNotActedOnLater)
{
    ProgramHome home;
    ProgramRun run (home, {});
    ASSERT_TRUE (run.waitForErrorLine ("POS: ", startTimeout).isNotEmpty());

    // Stopped, the panel holds its lock but cannot take anything.
    ASSERT_EQ (::kill (run.processId(), SIGSTOP), 0);
    {
        ProgramRun later (home, { "/shutdown" });
        const bool ended = later.waitForExit (exitTimeout);
        ::kill (run.processId(), SIGCONT);
        ASSERT_TRUE (ended) << "a later launch waited for a stopped panel without end";
        EXPECT_EQ (later.exitCode, 1);
        // One line of ours; a Debug build of the framework announces itself before it.
        auto lines = juce::StringArray::fromLines (later.standardError().trimEnd());
        lines.removeString (juce::SystemStats::getJUCEVersion());
        EXPECT_EQ (lines.joinIntoString ("\n"), "Tarvik Panel: the running panel did not take the command line");
    }

    // Going on, it must not act on the command whose launch already reported failure.
    pumpFor (1000);
    EXPECT_TRUE (run.isRunning()) << "a /shutdown that was reported as not taken ended the panel";

    laterLaunch (home, { "/shutdown" });
    ASSERT_TRUE (run.waitForExit (exitTimeout));
    EXPECT_EQ (run.exitCode, 0);
}

TEST (Program, TermHangupAndInterruptQuitLikeTheSystemStoringWindowAndPendingSettings)
{
    enum class Again
    {
        no,
        after100Ms,
        untilEnded
    };

    struct Row
    {
        int number;
        const char* name;
        Again again;
    };

    // A desktop session or a service manager may send SIGTERM again while the panel still ends.
    const Row rows[] { { SIGTERM, "SIGTERM", Again::no },
                       { SIGHUP, "SIGHUP", Again::no },
                       { SIGINT, "SIGINT", Again::no },
                       { SIGTERM, "SIGTERM and another 0.1 s later", Again::after100Ms },
                       { SIGTERM, "SIGTERM and more until it has ended", Again::untilEnded } };

    for (const auto& [number, name, again] : rows)
    {
        SCOPED_TRACE (name);
        ProgramHome home;
        ASSERT_TRUE (home.storeValue ("WindowPosition", "100 120 226 314"));
        // Out of range: set right to 0 at start, which stays pending for three seconds.
        ASSERT_TRUE (home.storeValue ("loopback", "7"));

        ProgramRun run (home, {});
        ASSERT_TRUE (run.waitForErrorLine ("POS: ", startTimeout).isNotEmpty()) << run.standardError();

        // Moved and made larger: the panel's art line for the new width shows it has seen it.
        // Asked again until taken: on a busy machine the first request may come while the
        // panel is still showing itself at its stored place.
        ASSERT_TRUE (pumpUntil ([&] {
            return setWindowBounds (title, 300, 200, 316, 429) && run.waitForErrorLine ("mittel", 1000).isNotEmpty();
        }, startTimeout)) << run.standardError();
        ASSERT_TRUE (run.sendSignal (number));

        if (again == Again::after100Ms)
        {
            pumpFor (100);
            run.sendSignal (number); // false when it has ended already
        }
        else if (again == Again::untilEnded)
        {
            // Without a pause, so that every moment of the way out gets one.
            const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) exitTimeout;
            while (run.sendSignal (number) && juce::Time::getMillisecondCounter() < deadline)
                continue;
        }

        ASSERT_TRUE (run.waitForExit (exitTimeout)) << name << " did not end the panel";
        EXPECT_EQ (run.exitCode, 0) << run.standardError();

        EXPECT_TRUE (home.storedValue ("WindowPosition").startsWith ("300 200 316 429")) << home.storedValue ("WindowPosition");
        EXPECT_EQ (home.storedValue ("loopback"), "0");
    }
}

TEST (Program, AQuitSignalWhileThePanelStartsEndsItWithSuccess)
{
    // Before the window or the message loop exist; the stored window is kept as it was. On a
    // loaded machine the program may not have run its first step 0.1 s after the start: the
    // signal then goes once it catches it, or once JUCE has started (a Debug build announces
    // it), which is after the first step. From there on, every later moment is covered by
    // signals sent without a pause until the program has ended.
    for (const bool fromTheFirstMoment : { true, false })
    {
        SCOPED_TRACE (fromTheFirstMoment ? "from the first moment until it has ended" : "once, 0.1 s after the start");
        ProgramHome home;
        ASSERT_TRUE (home.storeValue ("WindowPosition", "100 120 226 314"));

        const juce::uint32 afterMs = fromTheFirstMoment ? 0 : 100;
        const auto started = juce::Time::getMillisecondCounter();
        ProgramRun run (home, {});
        ASSERT_TRUE (pumpUntil ([&] { return juce::Time::getMillisecondCounter() - started >= afterMs
                                             && (catchesSignal (run.processId(), SIGTERM)
                                                 || run.standardError().contains (juce::SystemStats::getJUCEVersion())); },
                                startTimeout));

        ASSERT_TRUE (run.sendSignal (SIGTERM));

        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) startTimeout;
        while (fromTheFirstMoment && run.sendSignal (SIGTERM) && juce::Time::getMillisecondCounter() < deadline)
            continue;

        ASSERT_TRUE (run.waitForExit (startTimeout)) << "SIGTERM at the start did not end the panel";
        EXPECT_EQ (run.exitCode, 0) << run.standardError();
        EXPECT_TRUE (home.storedValue ("WindowPosition").startsWith ("100 120 226 314")) << home.storedValue ("WindowPosition");
    }
}

TEST (Program, ALinkOrAFolderInThePrivatePlaceStillGivesOnePanelThatLaterLaunchesReach)
{
    const juce::File sharedPlace ("/tmp/tarvik-panel-" + juce::String ((juce::int64) ::geteuid()));

    for (const bool link : { false, true })
    {
        SCOPED_TRACE (link ? "the private folder is a link to a folder of the user's own" : "a folder in the socket's place");
        ProgramHome home;
        const auto place = home.root.getChildFile ("runtime/tarvik-panel");

        if (link)
        {
            // Passed by, the place is the next one, outside the test's home: a panel of
            // someone else's there would take this test's launches.
            const auto lock = ::open (sharedPlace.getChildFile ("instance.lock").getFullPathName().toRawUTF8(), O_RDONLY | O_CLOEXEC);
            const bool inUse = lock >= 0 && ::flock (lock, LOCK_EX | LOCK_NB) != 0;
            if (lock >= 0)
                ::close (lock);
            if (inUse)
            {
                std::cout << "[ SKIPPED  ] a panel runs in " << sharedPlace.getFullPathName() << std::endl;
                continue;
            }

            const auto own = home.root.getChildFile ("own");
            ASSERT_TRUE (own.createDirectory());
            ASSERT_EQ (::chmod (own.getFullPathName().toRawUTF8(), 0700), 0);
            ASSERT_TRUE (own.createSymbolicLink (place, true));
        }
        else
        {
            ASSERT_TRUE (place.getChildFile ("instance.socket/left over").createDirectory());
            ASSERT_EQ (::chmod (place.getFullPathName().toRawUTF8(), 0700), 0);
        }

        const bool sharedPlaceWasThere = sharedPlace.exists();
        ProgramRun run (home, {});
        ASSERT_TRUE (run.waitForErrorLine ("POS: ", startTimeout).isNotEmpty()) << run.standardError();

        laterLaunch (home, { "/shutdown" });
        ASSERT_TRUE (run.waitForExit (exitTimeout)) << "the later launch ran as a panel of its own, or was not acted on";
        EXPECT_EQ (run.exitCode, 0);

        if (! sharedPlaceWasThere)
            sharedPlace.deleteRecursively();
    }
}

TEST (Program, ARelativeOrEmptyHomeIsTheHomeOfTheUserDatabase)
{
    const auto realHome = homeOfUserDatabase();
    ASSERT_TRUE (realHome.isDirectory()) << "no home in the user database";

    for (auto* variable : { "rel", "" })
    {
        SCOPED_TRACE (juce::String ("HOME=") + variable);
        ProgramHome home;
        home.homeVariable = variable;
        home.workingFolder = home.root.getChildFile ("work");
        ASSERT_TRUE (home.workingFolder.createDirectory());

        // The run stores its window there; whatever it finds is put back afterwards. The root
        // is where an empty HOME taken as it stands would put them.
        RealSettingsGuard real (realHome.getChildFile (".config/Tarvik Panel/Tarvik Panel.settings"));
        RealSettingsGuard atRoot (juce::File ("/.config/Tarvik Panel/Tarvik Panel.settings"));
        {
            ProgramRun run (home, {});
            ASSERT_TRUE (run.waitForErrorLine ("POS: ", startTimeout).isNotEmpty()) << run.standardError();
            ASSERT_TRUE (run.sendSignal (SIGTERM));
            ASSERT_TRUE (run.waitForExit (exitTimeout));
            EXPECT_EQ (run.exitCode, 0);
            EXPECT_FALSE (run.standardError().contains ("JUCE Assertion")) << run.standardError();
        }

        EXPECT_EQ (home.workingFolder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0)
            << "the program wrote under the working folder";
        EXPECT_FALSE (home.settingsFile().exists()) << "the settings went to the test's home, not the user's";
        if (realHome != juce::File ("/"))
        {
            EXPECT_FALSE (atRoot.file.exists()) << "the settings went to the root";
        }

        juce::PropertiesFile::Options options;
        options.applicationName = "Tarvik Panel";
        options.filenameSuffix = ".settings";
        options.folderName = real.file.getParentDirectory().getFullPathName();
        juce::PropertiesFile stored (options);
        const auto centre = defaultCentredPosition (barHeight);
        EXPECT_TRUE (stored.getValue ("WindowPosition").startsWith (juce::String (centre.x) + " " + juce::String (centre.y) + " 316 429"))
            << "no window stored in " << real.file.getFullPathName() << ": " << stored.getValue ("WindowPosition");
    }
}

TEST (Program, NoDisplaySaysWhichAndEndsWithStatusOne)
{
    for (auto arguments : { juce::StringArray {}, juce::StringArray { "/default" } })
    {
        SCOPED_TRACE (arguments.joinIntoString (" "));
        ProgramHome home;
        home.display = ":9999";

        ProgramRun run (home, arguments);
        ASSERT_TRUE (run.waitForExit (exitTimeout)) << "the program kept running without a display";
        EXPECT_EQ (run.exitCode, 1) << run.standardError();

        // Besides the version line that JUCE prints in a Debug build.
        auto lines = juce::StringArray::fromLines (run.standardError().trimEnd());
        lines.removeString (juce::SystemStats::getJUCEVersion());
        ASSERT_EQ (lines.size(), 1) << run.standardError();
        EXPECT_TRUE (lines[0].contains ("\":9999\"")) << lines[0];
        EXPECT_FALSE (home.settingsFile().getParentDirectory().exists()) << "the settings folder was created";
    }
}

TEST (Program, NoDisplayVariableNamesTheDefaultDisplayAndEndsWithStatusOne)
{
    // Without DISPLAY the program tries ":0.0", which another test's server may hold: it runs
    // where none can be reached, in namespaces of its own over an empty socket folder.
    const std::vector<std::string> isolated { "unshare", "--user", "--map-root-user", "--net", "--mount" };
    int probe = -1;
    auto probeCommand = isolated;
    probeCommand.push_back ("true");
    runAndCapture (probeCommand, {}, 10000, &probe);
    if (probe != 0)
        GTEST_SKIP() << "no namespaces to be had here, so no display-free place to start the program";

    ProgramHome home;
    const auto errFile = home.root.getChildFile ("stderr.txt");
    ChildProcess::Options options;
    options.arguments = isolated;
    options.arguments.insert (options.arguments.end(),
                              { "sh", "-c", "mount -t tmpfs none /tmp/.X11-unix 2>/dev/null || [ ! -e /tmp/.X11-unix ] || exit 97; exec \"$0\"",
                                TARVIK_PANEL_PROGRAM });
    options.inheritEnvironment = false;
    const auto env = home.environment();
    for (auto& key : env.getAllKeys())
        if (key != "DISPLAY")
            options.environment[key.toStdString()] = env[key].toStdString();
    options.standardError = errFile.getFullPathName().toStdString();

    ChildProcess run;
    ASSERT_TRUE (run.start (options));
    ASSERT_TRUE (run.waitForExit (exitTimeout)) << "the program kept running without a display";
    EXPECT_EQ (run.exitCode(), 1) << errFile.loadFileAsString();

    auto lines = juce::StringArray::fromLines (errFile.loadFileAsString().trimEnd());
    lines.removeString (juce::SystemStats::getJUCEVersion());
    EXPECT_EQ (lines.joinIntoString ("\n"), "Tarvik Panel: cannot open the X display \":0.0\" (DISPLAY is not set)");
    EXPECT_FALSE (home.settingsFile().getParentDirectory().exists()) << "the settings folder was created";
}
