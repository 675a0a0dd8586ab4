// The single-instance hand-over: lock, published address, token and delivery on the message thread.
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include "app/InstanceHandover.h"
#include "support/MessageLoop.h"

using tarvik::test::pumpFor;
using tarvik::test::pumpUntil;

namespace
{
struct TempFolder
{
    TempFolder() { root.createDirectory(); }
    ~TempFolder() { root.deleteRecursively(); }

    // Test cases run in parallel processes, so the name carries the process id.
    juce::File root = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("handover-test-" + juce::String (::getpid()) + "-"
                                         + juce::String::toHexString (juce::Random().nextInt64()));

    juce::File folder() const { return root.getChildFile ("private"); }
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

/** Sends raw bytes to the server and reports whether it acknowledged before closing. */
bool rawExchangeAcknowledged (int port, const juce::MemoryBlock& bytes)
{
    juce::StreamingSocket socket;

    if (! socket.connect ("127.0.0.1", port, 1000))
        return false;

    socket.write (bytes.getData(), (int) bytes.getSize());
    char reply = 0;
    return socket.waitUntilReady (true, 5000) == 1 && socket.read (&reply, 1, false) == 1;
}

juce::MemoryBlock frame (const juce::String& token, juce::uint32 length, const juce::MemoryBlock& payload)
{
    juce::MemoryOutputStream out;
    out.write (token.toRawUTF8(), (size_t) token.getNumBytesAsUTF8());
    out.writeIntBigEndian ((int) length);
    out.write (payload.getData(), payload.getSize());
    return out.getMemoryBlock();
}

/** Reads the child's output up to the line "ready"; false when the stream ends first. */
bool waitForReady (juce::ChildProcess& process)
{
    // One byte at a time: a larger read waits for that many bytes or the end of the stream.
    juce::String line;
    char c = 0;

    while (process.readProcessOutput (&c, 1) == 1)
    {
        if (c != '\n')
            line << c;
        else if (line == "ready")
            return true;
        else
            line.clear();
    }

    return false;
}
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
    EXPECT_EQ (permissionsOf (first.getAddressFile()), 0600);
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

TEST (InstanceHandover, LaterLaunchInAnotherProcessHandsOverAndEnds)
{
    TempFolder temp;
    Received received;

    InstanceHandover running (temp.folder());
    ASSERT_FALSE (running.isAnotherInstanceRunning());
    ASSERT_TRUE (running.startServing (received.callback()));

    const auto parameters = juce::String (juce::CharPointer_UTF8 ("/defaults  \xc3\xa4\xc3\xb6\xc3\xbc \xe2\x82\xac"));
    juce::ChildProcess later;
    ASSERT_TRUE (later.start (juce::StringArray { TARVIK_HANDOVER_PEER, "send", temp.folder().getFullPathName(), parameters }));

    ASSERT_TRUE (pumpUntil ([&] { return ! received.strings.isEmpty(); }, 10000));
    EXPECT_TRUE (later.waitForProcessToFinish (10000));
    EXPECT_EQ (later.getExitCode(), 0u);
    EXPECT_EQ (received.strings, juce::StringArray { parameters });
    EXPECT_TRUE (received.allOnMessageThread);
}

TEST (InstanceHandover, StaleAddressAndKilledInstanceDoNotStopTheNextStart)
{
    TempFolder temp;
    Received received;

    {
        // An address left behind with nobody holding the lock.
        ASSERT_TRUE (temp.folder().createDirectory());
        ASSERT_TRUE (temp.folder().getChildFile ("instance.address").replaceWithText ("1 0123456789abcdef0123456789abcdef\n"));

        InstanceHandover next (temp.folder());
        EXPECT_FALSE (next.isAnotherInstanceRunning()) << "a file alone must not count as a running instance";
        EXPECT_FALSE (next.getAddressFile().existsAsFile()) << "the stale address must go once the lock is taken";
        ASSERT_TRUE (next.startServing (received.callback()));
        EXPECT_FALSE (next.getAddressFile().loadFileAsString().startsWith ("1 "));
    }

    // A serving instance in another process, killed without any chance to tidy up.
    juce::ChildProcess crashed;
    ASSERT_TRUE (crashed.start (juce::StringArray { TARVIK_HANDOVER_PEER, "serve", temp.folder().getFullPathName() }));
    ASSERT_TRUE (waitForReady (crashed)) << "the serving process did not start";
    const auto crashedAddress = temp.folder().getChildFile ("instance.address").loadFileAsString();

    {
        InstanceHandover whileItRuns (temp.folder());
        EXPECT_TRUE (whileItRuns.isAnotherInstanceRunning()) << "the lock must hold across processes";
    }

    ASSERT_TRUE (crashed.kill());
    crashed.waitForProcessToFinish (5000);

    InstanceHandover next (temp.folder());
    ASSERT_FALSE (next.isAnotherInstanceRunning()) << "the lock must die with its process";
    ASSERT_TRUE (next.startServing (received.callback()));
    EXPECT_NE (next.getAddressFile().loadFileAsString(), crashedAddress);

    InstanceHandover later (temp.folder());
    ASSERT_TRUE (later.isAnotherInstanceRunning());
    EXPECT_TRUE (later.sendToRunningInstance ("after the crash"));
    ASSERT_TRUE (pumpUntil ([&] { return received.strings.contains ("after the crash"); }));
}

TEST (InstanceHandover, BadConnectionsAreDroppedAndTheServerKeepsServing)
{
    TempFolder temp;
    Received received;

    InstanceHandover running (temp.folder());
    ASSERT_FALSE (running.isAnotherInstanceRunning());
    ASSERT_TRUE (running.startServing (received.callback()));

    const auto fields = juce::StringArray::fromTokens (running.getAddressFile().loadFileAsString().trimEnd(), " ", {});
    ASSERT_EQ (fields.size(), 2);
    const auto port = fields[0].getIntValue();
    const auto token = fields[1];
    auto wrongToken = token.substring (0, token.length() - 1) + (token.getLastCharacter() == '0' ? "1" : "0");

    const juce::MemoryBlock hello ("hello", 5);
    const juce::MemoryBlock notUtf8 ("\xff\xfe\x80", 3);
    const juce::MemoryBlock withNul ("a\0b", 3);

    EXPECT_FALSE (rawExchangeAcknowledged (port, frame (wrongToken, 5, hello))) << "wrong token accepted";
    EXPECT_FALSE (rawExchangeAcknowledged (port, juce::MemoryBlock ("GET / HTTP/1.0\r\n\r\n", 18))) << "junk accepted";
    EXPECT_FALSE (rawExchangeAcknowledged (port, frame (token, 0x7fffffffu, hello))) << "oversized length accepted";
    EXPECT_FALSE (rawExchangeAcknowledged (port, frame (token, 50, hello))) << "a short payload was taken as whole";
    EXPECT_FALSE (rawExchangeAcknowledged (port, frame (token, 3, notUtf8))) << "invalid UTF-8 accepted";
    EXPECT_FALSE (rawExchangeAcknowledged (port, frame (token, 3, withNul))) << "embedded NUL accepted";

    // A peer that connects and says nothing must not keep a real launch out.
    juce::StreamingSocket silent;
    ASSERT_TRUE (silent.connect ("127.0.0.1", port, 1000));

    InstanceHandover later (temp.folder());
    ASSERT_TRUE (later.isAnotherInstanceRunning());
    EXPECT_TRUE (later.sendToRunningInstance ("still serving"));
    EXPECT_TRUE (rawExchangeAcknowledged (port, frame (token, 5, hello))) << "the right frame by hand";

    ASSERT_TRUE (pumpUntil ([&] { return received.strings.size() >= 2; }));
    pumpFor (50);
    EXPECT_EQ (received.strings, (juce::StringArray { "still serving", "hello" }));
    EXPECT_TRUE (running.isServing());
}

TEST (InstanceHandover, LaterLaunchGivesUpWhenNothingAnswers)
{
    TempFolder temp;

    InstanceHandover starting (temp.folder());
    ASSERT_FALSE (starting.isAnotherInstanceRunning()); // holds the lock but never serves

    InstanceHandover later (temp.folder());
    ASSERT_TRUE (later.isAnotherInstanceRunning());
    EXPECT_FALSE (later.sendToRunningInstance ("nobody", 3, 10)) << "no address published";

    int closedPort = 0;
    {
        juce::StreamingSocket listener;
        ASSERT_TRUE (listener.createListener (0, "127.0.0.1"));
        closedPort = listener.getBoundPort();
    }

    ASSERT_TRUE (starting.getAddressFile().replaceWithText (juce::String (closedPort) + " 0123456789abcdef0123456789abcdef\n"));
    EXPECT_FALSE (later.sendToRunningInstance ("nobody", 3, 10)) << "address published, nobody listening";

    // A damaged address file reads as no address at all.
    for (const char* damaged : { "", "\n", "65536 0123456789abcdef0123456789abcdef\n", "123 0123456789abcdef0123456789abcde\xef",
                                 "123 \xf0", "\xe2 0123456789abcdef0123456789abcdef", "12\xc3 0123456789abcdef0123456789abcdef\n" })
    {
        SCOPED_TRACE (juce::String::toHexString (damaged, (int) std::strlen (damaged)));
        ASSERT_TRUE (starting.getAddressFile().replaceWithData (damaged, std::strlen (damaged)));
        EXPECT_FALSE (later.sendToRunningInstance ("nobody", 3, 10));
    }

    EXPECT_FALSE (starting.sendToRunningInstance ("self", 1, 0)) << "the lock holder must not send to itself";
}

TEST (InstanceHandover, UnsafeFolderIsTightenedOrRefused)
{
    TempFolder temp;
    ASSERT_TRUE (temp.folder().createDirectory());
    ASSERT_EQ (::chmod (temp.folder().getFullPathName().toRawUTF8(), 0755), 0);

    {
        InstanceHandover handover (temp.folder());
        EXPECT_EQ (permissionsOf (temp.folder()), 0700) << "a folder of ours open to others is closed";
    }

    const auto link = temp.root.getChildFile ("link");
    ASSERT_TRUE (temp.folder().createSymbolicLink (link, true));

    InstanceHandover throughLink (link);
    EXPECT_FALSE (throughLink.isAnotherInstanceRunning());
    EXPECT_FALSE (throughLink.startServing ([] (const juce::String&) {})) << "a symlinked folder must not be used";
    EXPECT_FALSE (link.getChildFile ("instance.lock").exists());
}
