// The single-instance hand-over: lock, private folder, socket, commands taken once and
// delivered on the message thread.
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <thread>
#include <utility>
#include <vector>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include "desktop/posix/InstanceHandover.h"
#include "support/ChildProcess.h"
#include "support/Timing.h"
#include "support/MessageLoop.h"

using tarvik::test::pumpFor;
using tarvik::test::pumpUntil;

namespace
{
struct TempFolder
{
    TempFolder()
    {
        root.createDirectory();
        ::chmod (root.getFullPathName().toRawUTF8(), 0755);
    }
    // Not JUCE's deleteRecursively(): JUCE 7.0.5 takes a socket for a folder (it tests the
    // mode with & S_IFDIR) and cannot remove it, and a peer killed while serving leaves one.
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all (root.getFullPathName().toStdString(), ignored);
    }

    // Test cases run in parallel processes, so the name carries the process id.
    juce::File root = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("handover-test-" + juce::String (::getpid()) + "-"
                                         + juce::String::toHexString (juce::Random().nextInt64()));

    juce::File folder() const { return root.getChildFile ("private"); }

    // Makes the private folder and holds its lock as a starting instance holds it; returns the
    // lock's handle, or -1.
    int folderWithTheLockHeld() const
    {
        if (! folder().createDirectory().wasOk() || ::chmod (folder().getFullPathName().toRawUTF8(), 0700) != 0)
            return -1;
        const auto lock = ::open (folder().getChildFile ("instance.lock").getFullPathName().toRawUTF8(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lock >= 0 && ::flock (lock, LOCK_EX | LOCK_NB) != 0)
        {
            ::close (lock);
            return -1;
        }
        return lock;
    }
};

struct Received
{
    juce::StringArray strings;
    bool allOnMessageThread = true;

    InstanceHandover::Callback callback()
    {
        return [this] (const juce::String& s)
        {
            allOnMessageThread = allOnMessageThread && juce::MessageManager::existsAndIsCurrentThread();
            strings.add (s);
        };
    }
};

int permissionsOf (const juce::File& file)
{
    struct stat info {};
    return ::lstat (file.getFullPathName().toRawUTF8(), &info) == 0 ? (int) (info.st_mode & 07777) : -1;
}

sockaddr_un addressOf (const juce::File& socketFile)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy (address.sun_path, socketFile.getFullPathName().toRawUTF8(), sizeof (address.sun_path) - 1);
    return address;
}

/** A connection to the socket, or -1. System calls only: a forked child uses it too. */
int connectTo (const sockaddr_un& address)
{
    const int handle = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);

    if (handle >= 0 && ::connect (handle, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0)
    {
        ::close (handle);
        return -1;
    }

    return handle;
}

int connectTo (const juce::File& socketFile) { return connectTo (addressOf (socketFile)); }

/** True once the other end closed the connection (read or reset), false if it stays open that long. */
bool closedByPeer (int handle, int timeoutMilliseconds)
{
    pollfd entry { handle, POLLIN, 0 };

    if (::poll (&entry, 1, timeoutMilliseconds) <= 0)
        return false;

    char byte = 0;
    return ::recv (handle, &byte, 1, MSG_DONTWAIT) <= 0;
}

/** Sends raw bytes and reports whether the server acknowledged before closing. System calls only. */
bool rawExchangeAcknowledged (const sockaddr_un& address, const void* bytes, size_t size)
{
    const int handle = connectTo (address);

    if (handle < 0)
        return false;

    const bool sent = ::send (handle, bytes, size, MSG_NOSIGNAL) == (ssize_t) size;
    const timeval fiveSeconds { 5, 0 };
    ::setsockopt (handle, SOL_SOCKET, SO_RCVTIMEO, &fiveSeconds, sizeof (fiveSeconds));
    char reply = 0;
    const bool acknowledged = sent && ::recv (handle, &reply, 1, 0) == 1 && reply == 'K';
    ::close (handle);
    return acknowledged;
}

bool rawExchangeAcknowledged (const juce::File& socketFile, const juce::MemoryBlock& bytes)
{
    return rawExchangeAcknowledged (addressOf (socketFile), bytes.getData(), bytes.getSize());
}

/** A command as a later launch sends it: magic, 16-byte id, big-endian length, payload. */
juce::MemoryBlock frame (const char* id, juce::uint32 length, const juce::MemoryBlock& payload, const char* magic = "TPH1")
{
    juce::MemoryOutputStream out;
    out.write (magic, 4);
    out.write (id, 16);
    out.writeIntBigEndian ((int) length);
    out.write (payload.getData(), payload.getSize());
    return out.getMemoryBlock();
}

/** A peer process whose output is read line by line. */
struct Peer
{
    // A peer that a failed test left running ends with it.
    ~Peer()
    {
        if (process.isRunning())
            process.kill();
    }

    juce::ChildProcess process;
    juce::String pending;

    bool start (const juce::StringArray& arguments)
    {
        juce::StringArray command { TARVIK_HANDOVER_PEER };
        command.addArray (arguments);
        return process.start (command);
    }

    /** Reads the output up to a line equal to this; false when the stream ends first. */
    bool waitForLine (const juce::String& wanted)
    {
        // One byte at a time: a larger read waits for that many bytes or the end of the stream.
        char c = 0;

        while (process.readProcessOutput (&c, 1) == 1)
        {
            if (c != '\n')
                pending << c;
            else if (std::exchange (pending, {}) == wanted)
                return true;
        }

        return false;
    }
};

/** A serving peer in its own process; what it received is what it printed. */
struct ServingPeer
{
    explicit ServingPeer (const juce::File& folder)
    {
        pipePath = folder.getSiblingFile ("peer-output-" + juce::String::toHexString (juce::Random().nextInt64()));
        tarvik::test::ChildProcess::Options options;
        options.arguments = { TARVIK_HANDOVER_PEER, "serve", folder.getFullPathName().toStdString() };
        options.standardOutput = pipePath.getFullPathName().toStdString();
        options.standardError = {};
        process.start (options);
    }

    ~ServingPeer()
    {
        process.stop();
        pipePath.deleteFile();
    }

    juce::StringArray lines() const { return juce::StringArray::fromLines (pipePath.loadFileAsString().trimEnd()); }

    bool waitUntilReady() const
    {
        return pumpUntil ([this] { return lines().contains ("ready"); }, 10000);
    }

    juce::StringArray received() const
    {
        juce::StringArray r;
        for (auto& l : lines())
            if (l.startsWith ("received "))
                r.add (l.fromFirstOccurrenceOf ("received ", false, false));
        return r;
    }

    tarvik::test::ChildProcess process;
    juce::File pipePath;
};
} // namespace

TEST (InstanceHandover, SecondObjectHandsWholeStringsOverOnTheMessageThreadInOrder)
{
    TempFolder temp;
    Received received;

    InstanceHandover first (temp.folder());
    ASSERT_FALSE (first.isAnotherInstanceRunning()) << "nothing runs yet, so the first object must get the lock";
    ASSERT_TRUE (first.startServing (received.callback()));
    EXPECT_TRUE (first.isServing());

    EXPECT_EQ (permissionsOf (temp.folder()), 0700);
    EXPECT_EQ (permissionsOf (first.getSocketFile()) & 0777, 0600);
    EXPECT_EQ (permissionsOf (first.getLockFile()), 0600);

    const juce::StringArray sent { "/default",
                                   "  two words   with blanks ",
                                   juce::String (juce::CharPointer_UTF8 ("Gr\xc3\xbc\xc3\x9f" "e \xe2\x80\x93 \xe9\x9f\xb3 /Shutdown")),
                                   "",
                                   juce::String::repeatedString ("x", InstanceHandover::maxParameterBytes) };

    InstanceHandover second (temp.folder());
    ASSERT_TRUE (second.isAnotherInstanceRunning());
    EXPECT_FALSE (second.startServing (received.callback())) << "a later launch must not serve beside the first";

    for (const auto& s : sent)
        EXPECT_TRUE (second.sendToRunningInstance (s)) << "not acknowledged: " << s.substring (0, 40);

    EXPECT_FALSE (second.sendToRunningInstance (juce::String::repeatedString ("x", InstanceHandover::maxParameterBytes + 1)))
        << "a string over the limit cannot be handed over whole, so it is not sent";

    ASSERT_TRUE (pumpUntil ([&] { return received.strings.size() >= sent.size(); }));
    pumpFor (50);
    EXPECT_EQ (received.strings, sent);
    EXPECT_TRUE (received.allOnMessageThread);
}

TEST (InstanceHandover, LaterLaunchesInOtherProcessesAreEachTakenOnce)
{
    TempFolder temp;
    Received received;

    InstanceHandover running (temp.folder());
    ASSERT_FALSE (running.isAnotherInstanceRunning());
    ASSERT_TRUE (running.startServing (received.callback()));

    // Many at once, as a script starting the panel in a loop would.
    constexpr int launches = 50;
    std::vector<std::unique_ptr<juce::ChildProcess>> later;
    juce::StringArray sent;

    for (int i = 0; i < launches; ++i)
    {
        sent.add (juce::String (juce::CharPointer_UTF8 ("/defaults \xc3\xa4\xe2\x82\xac #")) + juce::String (i));
        later.push_back (std::make_unique<juce::ChildProcess>());
        ASSERT_TRUE (later.back()->start (juce::StringArray { TARVIK_HANDOVER_PEER, "send", temp.folder().getFullPathName(), sent[i] }));
    }

    ASSERT_TRUE (pumpUntil ([&] { return received.strings.size() >= launches; }, 30000)) << received.strings.size();

    for (auto& p : later)
    {
        EXPECT_TRUE (p->waitForProcessToFinish (tarvik::test::scaled (10000)));
        EXPECT_EQ (p->getExitCode(), 0u) << "a launch whose command was taken must end with success";
    }

    pumpFor (200);
    received.strings.sort (false);
    sent.sort (false);
    EXPECT_EQ (received.strings, sent) << "each launch acted on exactly once";
    EXPECT_TRUE (received.allOnMessageThread);
}

TEST (InstanceHandover, StaleSocketAndKilledInstanceDoNotStopTheNextStart)
{
    TempFolder temp;
    Received received;

    {
        // A socket file left behind with nobody holding the lock.
        ASSERT_TRUE (temp.folder().createDirectory());
        ASSERT_EQ (::chmod (temp.folder().getFullPathName().toRawUTF8(), 0700), 0);
        ASSERT_TRUE (temp.folder().getChildFile ("instance.socket").replaceWithText ("left over"));

        InstanceHandover next (temp.folder());
        EXPECT_FALSE (next.isAnotherInstanceRunning()) << "a file alone must not count as a running instance";
        ASSERT_TRUE (next.startServing (received.callback()));

        InstanceHandover later (temp.folder());
        ASSERT_TRUE (later.isAnotherInstanceRunning());
        EXPECT_TRUE (later.sendToRunningInstance ("over the stale file"));
        ASSERT_TRUE (pumpUntil ([&] { return received.strings.contains ("over the stale file"); }));
    }

    EXPECT_FALSE (temp.folder().getChildFile ("instance.socket").exists()) << "an instance that ends removes its socket";

    // A serving instance in another process, killed without any chance to tidy up.
    {
        ServingPeer crashed (temp.folder());
        ASSERT_TRUE (crashed.waitUntilReady()) << "the serving process did not start";

        InstanceHandover whileItRuns (temp.folder());
        EXPECT_TRUE (whileItRuns.isAnotherInstanceRunning()) << "the lock must hold across processes";
    }

    EXPECT_TRUE (temp.folder().getChildFile ("instance.socket").exists());

    InstanceHandover next (temp.folder());
    ASSERT_FALSE (next.isAnotherInstanceRunning()) << "the lock must die with its process";
    ASSERT_TRUE (next.startServing (received.callback()));

    InstanceHandover later (temp.folder());
    ASSERT_TRUE (later.isAnotherInstanceRunning());
    EXPECT_TRUE (later.sendToRunningInstance ("after the crash"));
    ASSERT_TRUE (pumpUntil ([&] { return received.strings.contains ("after the crash"); }));
}

TEST (InstanceHandover, BadAndIdleConnectionsAreDroppedAndRepeatsTakenOnce)
{
    TempFolder temp;
    Received received;

    InstanceHandover running (temp.folder());
    ASSERT_FALSE (running.isAnotherInstanceRunning());
    ASSERT_TRUE (running.startServing (received.callback()));
    const auto socket = running.getSocketFile();

    const char* id = "0123456789abcdef";
    const juce::MemoryBlock hello ("hello", 5);
    const juce::MemoryBlock notUtf8 ("\xff\xfe\x80", 3);
    const juce::MemoryBlock withNul ("a\0b", 3);

    EXPECT_FALSE (rawExchangeAcknowledged (socket, frame (id, 5, hello, "TPH0"))) << "wrong magic accepted";
    EXPECT_FALSE (rawExchangeAcknowledged (socket, juce::MemoryBlock ("GET / HTTP/1.0\r\n\r\n", 18))) << "junk accepted";
    EXPECT_FALSE (rawExchangeAcknowledged (socket, frame (id, 0x7fffffffu, hello))) << "oversized length accepted";
    EXPECT_FALSE (rawExchangeAcknowledged (socket, frame (id, 50, hello))) << "a short payload was taken as whole";
    EXPECT_FALSE (rawExchangeAcknowledged (socket, frame (id, 3, notUtf8))) << "invalid UTF-8 accepted";
    EXPECT_FALSE (rawExchangeAcknowledged (socket, frame (id, 3, withNul))) << "embedded NUL accepted";

    // Peers that connect and say nothing, or stop half-way, must not keep real launches out:
    // every one of the 64 places the server serves at once, and more waiting behind them.
    std::vector<int> idle;
    for (int i = 0; i < 64 + 8; ++i)
        idle.push_back (connectTo (socket));
    ::send (idle.front(), "TPH1", 4, MSG_NOSIGNAL);

    InstanceHandover later (temp.folder());
    ASSERT_TRUE (later.isAnotherInstanceRunning());
    EXPECT_TRUE (later.sendToRunningInstance ("still serving")) << "idle connections kept a real launch out";

    for (size_t i = 0; i < idle.size(); ++i)
        EXPECT_TRUE (closedByPeer (idle[i], 5000)) << "idle connection " << i << " was never dropped";

    // The same command again, as a launch that lost the acknowledgement sends it: acknowledged, not acted on twice.
    EXPECT_TRUE (rawExchangeAcknowledged (socket, frame (id, 5, hello))) << "the right frame by hand";
    EXPECT_TRUE (rawExchangeAcknowledged (socket, frame (id, 5, hello))) << "a repeat must be acknowledged too";
    EXPECT_TRUE (rawExchangeAcknowledged (socket, frame ("fedcba9876543210", 5, hello))) << "another command with the same text";

    ASSERT_TRUE (pumpUntil ([&] { return received.strings.size() >= 3; }));
    pumpFor (100);
    EXPECT_EQ (received.strings, (juce::StringArray { "still serving", "hello", "hello" }));
    EXPECT_TRUE (running.isServing());

    for (auto h : idle)
        ::close (h);
}

TEST (InstanceHandover, ALaterLaunchDuringASlowStartIsDeliveredOnceServingBegins)
{
    TempFolder temp;
    Received received;

    InstanceHandover starting (temp.folder());
    ASSERT_FALSE (starting.isAnotherInstanceRunning()); // holds the lock, builds its window for a while

    Peer later;
    ASSERT_TRUE (later.start ({ "send", temp.folder().getFullPathName(), "during the start" }));
    pumpFor (1500);

    ASSERT_TRUE (starting.startServing (received.callback()));
    ASSERT_TRUE (later.process.waitForProcessToFinish (tarvik::test::scaled (10000)));
    EXPECT_EQ (later.process.getExitCode(), 0u);
    ASSERT_TRUE (pumpUntil ([&] { return ! received.strings.isEmpty(); }));
    pumpFor (50);
    EXPECT_EQ (received.strings, juce::StringArray { "during the start" });
}

TEST (InstanceHandover, ALaterLaunchThatGaveUpIsNeitherSuccessfulNorActedOn)
{
    TempFolder temp;
    Received received;

    InstanceHandover starting (temp.folder());
    ASSERT_FALSE (starting.isAnotherInstanceRunning()); // holds the lock, not serving yet

    InstanceHandover later (temp.folder());
    ASSERT_TRUE (later.isAnotherInstanceRunning());
    EXPECT_FALSE (later.sendToRunningInstance ("too late", 200)) << "nobody took it, yet it counted as handed over";
    EXPECT_FALSE (starting.sendToRunningInstance ("self", 100)) << "the lock holder must not send to itself";

    // Its connection still waits in the queue; served now, it must not be acted on.
    ASSERT_TRUE (starting.startServing (received.callback()));
    EXPECT_TRUE (later.sendToRunningInstance ("in time"));
    ASSERT_TRUE (pumpUntil ([&] { return received.strings.contains ("in time"); }));
    pumpFor (100);
    EXPECT_EQ (received.strings, juce::StringArray { "in time" });
}

TEST (InstanceHandover, AStoppedInstanceMakesALaterLaunchFailAndIsNotActedOnAfterwards)
{
    TempFolder temp;
    ServingPeer running (temp.folder());
    ASSERT_TRUE (running.waitUntilReady());

    ASSERT_EQ (::kill (running.process.pid(), SIGSTOP), 0);
    Peer later;
    ASSERT_TRUE (later.start ({ "send", temp.folder().getFullPathName(), "while stopped", "500" }));
    ASSERT_TRUE (later.process.waitForProcessToFinish (tarvik::test::scaled (10000)));
    EXPECT_EQ (later.process.getExitCode(), 1u) << "a stopped instance cannot have taken the command";

    ASSERT_EQ (::kill (running.process.pid(), SIGCONT), 0);
    Peer afterwards;
    ASSERT_TRUE (afterwards.start ({ "send", temp.folder().getFullPathName(), "after it went on" }));
    ASSERT_TRUE (afterwards.process.waitForProcessToFinish (tarvik::test::scaled (10000)));
    EXPECT_EQ (afterwards.process.getExitCode(), 0u);

    ASSERT_TRUE (pumpUntil ([&] { return running.received().contains ("after it went on"); }));
    EXPECT_EQ (running.received(), juce::StringArray { "after it went on" }) << "a command whose launch gave up was acted on";
}

TEST (InstanceHandover, UnsafeFoldersAreRefused)
{
    TempFolder temp;
    ASSERT_TRUE (temp.folder().createDirectory());
    ASSERT_EQ (::chmod (temp.folder().getFullPathName().toRawUTF8(), 0755), 0);

    {
        InstanceHandover open (temp.folder());
        EXPECT_FALSE (open.isFolderSafe()) << "a folder others may enter";
        EXPECT_FALSE (open.isAnotherInstanceRunning());
        EXPECT_FALSE (open.startServing ([] (const juce::String&) {}));
        EXPECT_FALSE (open.getLockFile().exists());
    }

    ASSERT_EQ (::chmod (temp.folder().getFullPathName().toRawUTF8(), 0700), 0);
    const auto link = temp.root.getChildFile ("link");
    ASSERT_TRUE (temp.folder().createSymbolicLink (link, true));

    InstanceHandover throughLink (link);
    EXPECT_FALSE (throughLink.isFolderSafe());
    EXPECT_FALSE (throughLink.startServing ([] (const juce::String&) {})) << "a symlinked folder must not be used";
    EXPECT_FALSE (link.getChildFile ("instance.lock").exists());

    // A link in the first place, to a good folder of the user's own: every launch passes it by.
    const auto next = temp.root.getChildFile ("next");
    EXPECT_EQ (InstanceHandover::firstPrivateFolder ({ link, next, temp.folder() }).getFullPathName(), next.getFullPathName());
    EXPECT_EQ (permissionsOf (next), 0700) << "the next place was not made private";
    EXPECT_EQ (InstanceHandover::firstPrivateFolder ({ link }).getFullPathName(), link.getFullPathName()) << "with no good place, the last is given back";

    // Another user's folder, made before ours could be.
    if (::geteuid() == 0)
    {
        const auto foreign = temp.root.getChildFile ("foreign");
        ASSERT_TRUE (foreign.createDirectory());
        ASSERT_EQ (::chmod (foreign.getFullPathName().toRawUTF8(), 0700), 0);
        ASSERT_EQ (::chown (foreign.getFullPathName().toRawUTF8(), 65534, 65534), 0);
        InstanceHandover taken (foreign);
        EXPECT_FALSE (taken.isFolderSafe()) << "another user's folder";

        // Another user's folder in the socket's place of ours cannot be replaced: the next place serves.
        const auto blocked = temp.root.getChildFile ("blocked");
        ASSERT_TRUE (blocked.getChildFile ("instance.socket").createDirectory());
        ASSERT_EQ (::chmod (blocked.getFullPathName().toRawUTF8(), 0700), 0);
        ASSERT_EQ (::chown (blocked.getChildFile ("instance.socket").getFullPathName().toRawUTF8(), 65534, 65534), 0);
        EXPECT_EQ (InstanceHandover::firstPrivateFolder ({ blocked, temp.folder() }).getFullPathName(), temp.folder().getFullPathName());
    }
}

TEST (InstanceHandover, ALinkOrAFolderInTheWayGivesOneServingInstanceThatLaterLaunchesReach)
{
    TempFolder temp;
    const auto own = temp.root.getChildFile ("own");
    ASSERT_TRUE (own.createDirectory());
    ASSERT_EQ (::chmod (own.getFullPathName().toRawUTF8(), 0700), 0);
    const auto link = temp.root.getChildFile ("link");
    ASSERT_TRUE (own.createSymbolicLink (link, true));

    // A folder left where the socket goes, with something in it.
    ASSERT_TRUE (temp.folder().getChildFile ("instance.socket/inside").createDirectory());
    ASSERT_EQ (::chmod (temp.folder().getFullPathName().toRawUTF8(), 0700), 0);

    const juce::Array<juce::File> places { link, temp.folder() };

    // Each launch in a process of its own, choosing its place as a launch of the program does.
    ServingPeer running (InstanceHandover::firstPrivateFolder (places));
    ASSERT_TRUE (running.waitUntilReady());

    const auto chosen = InstanceHandover::firstPrivateFolder (places);
    EXPECT_EQ (chosen.getFullPathName(), temp.folder().getFullPathName()) << "the later launch chose another place than the running one";
    InstanceHandover later (chosen);
    EXPECT_TRUE (later.isAnotherInstanceRunning()) << "two instances would run";

    Peer sending;
    ASSERT_TRUE (sending.start ({ "send", chosen.getFullPathName(), "past the folder" }));
    ASSERT_TRUE (sending.process.waitForProcessToFinish (10000));
    EXPECT_EQ (sending.process.getExitCode(), 0u) << "the folder in the socket's place kept the launch out";
    ASSERT_TRUE (pumpUntil ([&] { return running.received().contains ("past the folder"); }));
}

TEST (InstanceHandover, ACommandQueuedWhenTheInstanceGoesIsNotActedOn)
{
    TempFolder temp;
    Received received;
    auto running = std::make_unique<InstanceHandover> (temp.folder());
    ASSERT_FALSE (running->isAnotherInstanceRunning());
    ASSERT_TRUE (running->startServing (received.callback()));

    // Nothing pumps here: the acknowledged command is queued (or about to be) when the instance goes.
    InstanceHandover later (temp.folder());
    ASSERT_TRUE (later.isAnotherInstanceRunning());
    ASSERT_TRUE (later.sendToRunningInstance ("into a gone application"));
    running.reset();

    pumpFor (300);
    EXPECT_TRUE (received.strings.isEmpty()) << "a queued command ran after its instance was destroyed";
}

TEST (InstanceHandover, AFailedSendWaitsBetweenItsTriesInsteadOfSpinning)
{
    // The lock held as a starting instance holds it, with nothing or a dead socket to connect to.
    TempFolder temp;
    const auto lock = temp.folderWithTheLockHeld();
    ASSERT_GE (lock, 0);

    for (const bool deadSocket : { false, true })
    {
        SCOPED_TRACE (deadSocket ? "a socket nobody listens on" : "no socket");

        if (deadSocket)
        {
            const int handle = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const auto address = addressOf (temp.folder().getChildFile ("instance.socket"));
            ASSERT_EQ (::bind (handle, reinterpret_cast<const sockaddr*> (&address), sizeof (address)), 0);
            ::close (handle);
        }

        InstanceHandover later (temp.folder());
        ASSERT_TRUE (later.isAnotherInstanceRunning());

        // Measured on the sending thread itself; generous against a loaded machine, where a
        // spinning sender still uses most of the interval.
        constexpr int timeoutMs = 1500;
        bool taken = true;
        timespec before {}, after {};
        std::thread sender ([&] {
            ::clock_gettime (CLOCK_THREAD_CPUTIME_ID, &before);
            taken = later.sendToRunningInstance ("nobody takes this", timeoutMs);
            ::clock_gettime (CLOCK_THREAD_CPUTIME_ID, &after);
        });
        sender.join();

        const auto usedMs = (double) (after.tv_sec - before.tv_sec) * 1000.0 + (double) (after.tv_nsec - before.tv_nsec) / 1.0e6;
        EXPECT_FALSE (taken);
        EXPECT_LT (usedMs, timeoutMs / 10) << "the failing sender used " << usedMs << " ms of CPU in " << timeoutMs << " ms";
    }

    ::close (lock);
}

TEST (InstanceHandover, ALaterLaunchHandsNothingToAServerOfAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";

    TempFolder temp;
    const auto lock = temp.folderWithTheLockHeld();
    ASSERT_GE (lock, 0);

    // The socket is bound in our folder, but listened on and served by another user, whose
    // credentials are the ones a connecting launch sees.
    const int listener = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto address = addressOf (temp.folder().getChildFile ("instance.socket"));
    ASSERT_EQ (::bind (listener, reinterpret_cast<const sockaddr*> (&address), sizeof (address)), 0);
    int ready[2] { -1, -1 };
    ASSERT_EQ (::pipe2 (ready, O_CLOEXEC), 0);

    const auto child = ::fork();

    if (child == 0)
    {
        if (::setgid (65534) != 0 || ::setuid (65534) != 0 || ::listen (listener, 16) != 0)
            ::_exit (3);

        [[maybe_unused]] const auto told = ::write (ready[1], "r", 1);

        // Acknowledges whatever comes, as a server that wants the commands would.
        for (;;)
        {
            const int handle = ::accept (listener, nullptr, nullptr);
            char buffer[256];
            if (handle >= 0 && ::recv (handle, buffer, sizeof (buffer), 0) > 0)
                ::send (handle, "K", 1, MSG_NOSIGNAL);
            ::close (handle);
        }
    }

    ::close (ready[1]);
    char byte = 0;
    const bool listening = ::read (ready[0], &byte, 1) == 1;
    ::close (ready[0]);

    if (listening)
    {
        InstanceHandover later (temp.folder());
        EXPECT_TRUE (later.isAnotherInstanceRunning());
        EXPECT_FALSE (later.sendToRunningInstance ("/for the same user only", 2000)) << "a command went to another user's server";
    }

    ::kill (child, SIGKILL);
    ::waitpid (child, nullptr, 0);
    ::close (listener);
    ::close (lock);
    EXPECT_TRUE (listening) << "the other user's server did not start";
}

TEST (InstanceHandover, AnotherUserCannotConnectEvenWhereTheFolderLetsThemIn)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";

    TempFolder temp;
    Received received;
    InstanceHandover running (temp.folder());
    ASSERT_FALSE (running.isAnotherInstanceRunning());
    ASSERT_TRUE (running.startServing (received.callback()));

    // First as it is, then with the folder and socket opened up: the server itself still refuses.
    for (bool opened : { false, true })
    {
        SCOPED_TRACE (opened ? "folder and socket opened to all" : "private folder");

        if (opened)
        {
            ::chmod (temp.folder().getFullPathName().toRawUTF8(), 0711);
            ::chmod (running.getSocketFile().getFullPathName().toRawUTF8(), 0777);
        }

        const auto frameBytes = frame ("0123456789abcdef", 7, juce::MemoryBlock ("/nobody", 7));
        const auto address = addressOf (running.getSocketFile());
        const auto child = ::fork();

        if (child == 0)
        {
            if (::setgid (65534) != 0 || ::setuid (65534) != 0)
                ::_exit (3);
            ::_exit (rawExchangeAcknowledged (address, frameBytes.getData(), frameBytes.getSize()) ? 0 : 1);
        }

        int status = 0;
        ASSERT_TRUE (pumpUntil ([&] { return ::waitpid (child, &status, WNOHANG) == child; }, 10000));
        ASSERT_TRUE (WIFEXITED (status));
        EXPECT_EQ (WEXITSTATUS (status), 1) << "another user got an acknowledgement";
    }

    pumpFor (200);
    EXPECT_TRUE (received.strings.isEmpty());
    ::chmod (temp.folder().getFullPathName().toRawUTF8(), 0700);
}
