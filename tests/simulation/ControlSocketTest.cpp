// The simulation's control socket, driven as the end-to-end tests and a person with a
// terminal drive it: text lines over a Unix stream socket.
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "../platform/SimulationFixture.h"
#include "simulation/SimControlCommands.h"
#include "simulation/SimControlSocket.h"
#include "support/Timing.h"

using namespace tarvik::sim;
using tarvik::test::pumpUntil;

namespace
{
/** A connection as a client program has it; reads give up after a guard time. */
class Client
{
public:
    explicit Client (const std::string& path)
    {
        fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf (address.sun_path, sizeof (address.sun_path), "%s", path.c_str());
        if (::connect (fd, reinterpret_cast<sockaddr*> (&address), sizeof (address)) != 0)
        {
            ::close (fd);
            fd = -1;
        }
    }

    ~Client() { close(); }

    bool connected() const { return fd >= 0; }

    void close()
    {
        if (fd >= 0)
            ::close (fd);
        fd = -1;
    }

    bool send (const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size())
        {
            const auto n = ::send (fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += (size_t) n;
        }
        return true;
    }

    /** The next line without its newline; nothing on end-of-file or when none comes in time. */
    std::optional<std::string> readLine (int guardMs = 5000)
    {
        for (;;)
        {
            const auto newline = pending.find ('\n');
            if (newline != std::string::npos)
            {
                auto line = pending.substr (0, newline);
                pending.erase (0, newline + 1);
                return line;
            }

            pollfd p { fd, POLLIN, 0 };
            if (::poll (&p, 1, tarvik::test::scaled (guardMs)) <= 0)
                return std::nullopt;
            char buffer[4096];
            const auto n = ::recv (fd, buffer, sizeof (buffer), 0);
            if (n <= 0)
                return std::nullopt;
            pending.append (buffer, (size_t) n);
        }
    }

    std::string ask (const std::string& command)
    {
        if (! send (command + "\n"))
            return "<send failed>";
        return readLine().value_or ("<no reply>");
    }

    /** True when the server closed the connection. */
    bool sawEndOfFile (int guardMs = 5000)
    {
        pollfd p { fd, POLLIN, 0 };
        if (::poll (&p, 1, tarvik::test::scaled (guardMs)) <= 0)
            return false;
        char c;
        return ::recv (fd, &c, 1, 0) == 0;
    }

private:
    int fd = -1;
    std::string pending;
};

class ControlSocketTest : public SimulationTest
{
protected:
    void SetUp() override
    {
        SimulationTest::SetUp();
        char pattern[] = "/tmp/tarvik-sock-XXXXXX";
        ASSERT_NE (::mkdtemp (pattern), nullptr);
        dir = pattern;
        path = dir + "/control";
    }

    void TearDown() override
    {
        ::unlink (path.c_str());
        ::rmdir (dir.c_str());
        SimulationTest::TearDown();
    }

    std::unique_ptr<SimControlSocket> openSocket()
    {
        std::string error;
        auto socket = SimControlSocket::open (path, error);
        EXPECT_NE (socket, nullptr) << error;
        return socket;
    }

    std::string dir, path;
};

IOUSBDeviceInterface** openTarvikUsb()
{
    const auto iterator = presentUsbServices();
    IOUSBDeviceInterface** dev = nullptr;
    while (io_service_t service = IOIteratorNext (iterator))
    {
        if (dev == nullptr)
            dev = deviceInterfaceOf (service);
        IOObjectRelease (service);
    }
    return dev;
}

void switchLoopbackOn (IOUSBDeviceInterface** dev)
{
    for (UInt8 byte : std::initializer_list<UInt8> { 0x55, 0xAA, 0x03 })
        EXPECT_EQ (sendLoopbackByte (dev, byte), kIOReturnSuccess);
}

struct ListenerLog
{
    std::mutex lock;
    std::vector<AudioObjectPropertyAddress> addresses;

    bool saw (AudioObjectPropertySelector selector, AudioObjectPropertyScope scope, AudioObjectPropertyElement element)
    {
        const std::lock_guard<std::mutex> g (lock);
        for (auto& a : addresses)
            if (a.mSelector == selector && a.mScope == scope && a.mElement == element)
                return true;
        return false;
    }
};

OSStatus logChange (AudioObjectID, UInt32 count, const AudioObjectPropertyAddress* addresses, void* clientData)
{
    auto& log = *static_cast<ListenerLog*> (clientData);
    const std::lock_guard<std::mutex> g (log.lock);
    log.addresses.insert (log.addresses.end(), addresses, addresses + count);
    return 0;
}

struct PresenceLog
{
    int removals = 0, arrivals = 0;
    std::vector<natural_t> power;
    bool offThread = false;

    int drain (io_iterator_t iterator)
    {
        offThread |= ! juce::MessageManager::getInstance()->isThisTheMessageThread();
        int n = 0;
        while (io_service_t service = IOIteratorNext (iterator))
        {
            ++n;
            IOObjectRelease (service);
        }
        return n;
    }

    static void arrived (void* log, io_iterator_t it) { static_cast<PresenceLog*> (log)->arrivals += static_cast<PresenceLog*> (log)->drain (it); }
    static void removed (void* log, io_iterator_t it) { static_cast<PresenceLog*> (log)->removals += static_cast<PresenceLog*> (log)->drain (it); }
};

std::string modeOf (const std::string& path)
{
    struct stat st;
    if (::lstat (path.c_str(), &st) != 0)
        return "missing";
    char text[16];
    std::snprintf (text, sizeof (text), "%s%04o", S_ISSOCK (st.st_mode) ? "socket " : "other ", st.st_mode & 07777);
    return text;
}
} // namespace

TEST_F (ControlSocketTest, CommandsDriveTheSimulationAndStateListsEveryValueInOrder)
{
    auto socket = openSocket();
    Client client (path);
    ASSERT_TRUE (client.connected());

    EXPECT_EQ (client.ask ("state"),
               "ok attached=0 in.vol1=0 in.vol2=0 out.vol1=0 out.vol2=0 in.mute1=0 in.mute2=0 out.mute1=0 "
               "out.mute2=0 in.rate=0 out.rate=0 loopback=-1 transfers=0");

    EXPECT_EQ (client.ask ("attach"), "ok");
    EXPECT_TRUE (sim().isTarvikAttached());
    EXPECT_NE (sim().tarvikAudioObject (Side::input), 0u);

    EXPECT_EQ (client.ask ("set vold inpt 1 -12.5"), "ok");
    EXPECT_EQ (client.ask ("set vold inpt 2 -200"), "ok"); // the device clamps to its range
    EXPECT_EQ (client.ask ("set vold outp 1 -60"), "ok");
    EXPECT_EQ (client.ask ("set vold outp 2 -0.25"), "ok");
    EXPECT_EQ (client.ask ("set mute inpt 2 1"), "ok");
    EXPECT_EQ (client.ask ("set mute outp 1 1"), "ok");
    EXPECT_EQ (client.ask ("set nsrt outp 96000"), "ok");

    auto dev = openTarvikUsb();
    ASSERT_NE (dev, nullptr);
    ASSERT_EQ ((*dev)->USBDeviceOpen (dev), kIOReturnSuccess);
    switchLoopbackOn (dev);

    EXPECT_EQ (client.ask ("state"),
               "ok attached=1 in.vol1=-12.5 in.vol2=-127 out.vol1=-60 out.vol2=-0.25 in.mute1=0 in.mute2=1 "
               "out.mute1=1 out.mute2=0 in.rate=96000 out.rate=96000 loopback=1 transfers=3");

    const auto s = sim().state();
    EXPECT_EQ (s.in[0].volumeDb, -12.5f);
    EXPECT_EQ (s.out[1].volumeDb, -0.25f);
    EXPECT_TRUE (s.in[1].muted);
    EXPECT_EQ (s.outRate, 96000.0);

    // The changes were made as another program, not through the stand-in's own calls.
    for (auto& write : sim().propertyWrites())
        EXPECT_TRUE (write.external);

    (*dev)->USBDeviceClose (dev);
    (*dev)->Release (dev);

    EXPECT_EQ (client.ask ("detach"), "ok");
    EXPECT_FALSE (sim().isTarvikAttached());
    EXPECT_EQ (sim().tarvikAudioObject (Side::output), 0u);
    EXPECT_EQ (client.ask ("state").substr (0, 14), "ok attached=0 ");
    EXPECT_EQ (client.ask ("set vold inpt 1 -3"), "error: not attached");
    EXPECT_EQ (client.ask ("detach"), "ok");
}

TEST_F (ControlSocketTest, SetCommandsReachListenersAndAttachPowerReachTheMessageThread)
{
    sim().attachTarvik();
    const auto device = sim().tarvikAudioObject (Side::input);
    ListenerLog log;
    const AudioObjectPropertyAddress everything { kAudioObjectPropertySelectorWildcard, kAudioObjectPropertyScopeWildcard,
                                                  kAudioObjectPropertyElementWildcard };
    ASSERT_EQ (AudioObjectAddPropertyListener (device, &everything, logChange, &log), 0);

    auto socket = openSocket();
    Client client (path);
    EXPECT_EQ (client.ask ("set vold inpt 2 -6"), "ok");
    EXPECT_EQ (client.ask ("set mute outp 2 1"), "ok");
    EXPECT_EQ (client.ask ("set nsrt inpt 44100"), "ok");

    EXPECT_TRUE (pumpUntil ([&] { return log.saw (kAudioDevicePropertyVolumeDecibels, kAudioObjectPropertyScopeInput, 2)
                                      && log.saw (kAudioDevicePropertyVolumeScalar, kAudioObjectPropertyScopeInput, 2)
                                      && log.saw (kAudioDevicePropertyMute, kAudioObjectPropertyScopeOutput, 2)
                                      && log.saw (kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopeGlobal, 0); }));

    // USB presence and power messages from the socket's thread arrive on the message thread.
    PresenceLog seen;
    mach_port_t master = 0;
    IOMasterPort (MACH_PORT_NULL, &master);
    auto port = IONotificationPortCreate (master);
    CFRunLoopAddSource (CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource (port), kCFRunLoopDefaultMode);
    io_iterator_t added = 0, removed = 0;
    IOServiceAddMatchingNotification (port, kIOMatchedNotification, IOServiceMatching (kIOUSBDeviceClassName),
                                      PresenceLog::arrived, &seen, &added);
    IOServiceAddMatchingNotification (port, kIOTerminatedNotification, IOServiceMatching (kIOUSBDeviceClassName),
                                      PresenceLog::removed, &seen, &removed);
    PresenceLog::arrived (&seen, added);
    PresenceLog::removed (&seen, removed);
    EXPECT_EQ (seen.arrivals, 1);
    seen.arrivals = 0;

    IONotificationPortRef powerPort = nullptr;
    io_object_t notifier = 0;
    IORegisterForSystemPower (&seen, &powerPort, [] (void* r, io_service_t, natural_t type, void*)
    {
        auto& s = *static_cast<PresenceLog*> (r);
        s.offThread |= ! juce::MessageManager::getInstance()->isThisTheMessageThread();
        s.power.push_back (type);
    }, &notifier);
    CFRunLoopAddSource (CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource (powerPort), kCFRunLoopDefaultMode);

    EXPECT_EQ (client.ask ("detach"), "ok");
    EXPECT_TRUE (pumpUntil ([&] { return seen.removals == 1; }));
    EXPECT_EQ (client.ask ("attach"), "ok");
    EXPECT_TRUE (pumpUntil ([&] { return seen.arrivals == 1; }));
    EXPECT_NE (sim().tarvikAudioObject (Side::output), 0u);

    for (auto name : { "cansleep", "willsleep", "willpoweron", "haspoweredon" })
        EXPECT_EQ (client.ask (std::string ("power ") + name), "ok");
    ASSERT_TRUE (pumpUntil ([&] { return seen.power.size() == 4; }));
    EXPECT_EQ (seen.power, (std::vector<natural_t> { 0xE0000270, 0xE0000280, 0xE0000320, 0xE0000300 }));
    EXPECT_FALSE (seen.offThread);
    mach_port_deallocate (mach_task_self(), master);
}

TEST_F (ControlSocketTest, MalformedCommandsGetAnErrorAndTheConnectionStaysUsable)
{
    sim().attachTarvik();
    auto socket = openSocket();
    Client client (path);
    const auto before = client.ask ("state");
    ASSERT_EQ (before.substr (0, 14), "ok attached=1 ");

    for (const char* line : { "", "   ", "bogus", "STATE", "state now", "attach 1", "set", "set vold", "set volm inpt 1 0",
                              "set vold inpt 1", "set vold both 1 0", "set vold inpt 0 -3", "set vold inpt 3 -3",
                              "set vold inpt 1 loud", "set vold inpt 1 -3dB", "set vold inpt 1 nan", "set vold inpt 1 inf",
                              "set vold inpt 1 1e400", "set vold inpt 1 -3 4", "set mute inpt 1 2", "set mute outp 1 yes",
                              "set nsrt inpt", "set nsrt inpt -48000", "set nsrt inpt 0", "set nsrt inpt 12345",
                              "power", "power nap", "power willsleep now" })
    {
        const auto reply = client.ask (line);
        EXPECT_EQ (reply.substr (0, 7), "error: ") << "for \"" << line << "\": " << reply;
        EXPECT_GT (reply.size(), 7u) << "an error says why";
    }

    EXPECT_EQ (client.ask ("state"), before);
    EXPECT_EQ (client.ask ("set nsrt inpt 12345"), "error: the device refused the change (status '!dat')");

    // Extra blanks and a carriage return at the end are tolerated.
    EXPECT_EQ (client.ask ("  set\tvold  outp 2   -3.5 \r"), "ok");
    EXPECT_EQ (sim().state().out[1].volumeDb, -3.5f);
}

TEST_F (ControlSocketTest, ParserTakesArbitraryBytesWithoutHarm)
{
    // The parser alone, as a fuzzer would drive it: every single byte, and lines of junk.
    for (int b = 0; b < 256; ++b)
    {
        const std::string line (3, (char) b);
        const auto parsed = parseControlCommand (line);
        EXPECT_FALSE (parsed.command.has_value());
        EXPECT_FALSE (parsed.error.empty());
    }
    std::string junk;
    for (int i = 0; i < 5000; ++i)
        junk += (char) ((i * 131 + 7) % 256);
    EXPECT_FALSE (parseControlCommand (junk).command.has_value());
    EXPECT_FALSE (parseControlCommand (std::string ("state\0", 6)).command.has_value());

    const auto parsed = parseControlCommand ("set vold outp 2 -7.5");
    ASSERT_TRUE (parsed.command.has_value());
    EXPECT_EQ (parsed.command->kind, ControlCommand::Kind::setVolume);
    EXPECT_EQ (parsed.command->side, Side::output);
    EXPECT_EQ (parsed.command->channel, 2);
    EXPECT_EQ (parsed.command->value, -7.5);

    EXPECT_EQ (formatDecibels (-0.0f), "0");
    EXPECT_EQ (formatDecibels (-12.5f), "-12.5");
    EXPECT_EQ (formatDecibels (-63.5f), "-63.5");
    EXPECT_EQ (formatDecibels (-0.1f), "-0.1");
}

TEST_F (ControlSocketTest, LongLinesJunkAndFloodsAreAnsweredLineByLine)
{
    auto socket = openSocket();
    Client client (path);

    // One byte over the cap is refused; exactly at the cap is taken.
    EXPECT_EQ (client.ask (std::string (SimControlSocket::maxLineLength + 1, 'a')), "error: line too long");
    auto padded = std::string ("state");
    padded.resize (SimControlSocket::maxLineLength, ' ');
    EXPECT_EQ (client.ask (padded).substr (0, 3), "ok ");

    // A very long line sent in pieces gets one error, and the next line is read afresh.
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE (client.send (std::string (1000, 'x')));
    ASSERT_TRUE (client.send ("\nstate\n"));
    EXPECT_EQ (client.readLine(), "error: line too long");
    EXPECT_EQ (client.readLine().value_or ("").substr (0, 3), "ok ");

    // Binary junk, NULs and all, is an unknown command per line.
    std::string junk;
    for (int b = 0; b < 256; ++b)
        if (b != '\n')
            junk += (char) b;
    ASSERT_TRUE (client.send (junk + "\n" + std::string (7, '\0') + "\n\xff\xfe\n"));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (client.readLine().value_or ("").substr (0, 7), "error: ");
    EXPECT_EQ (client.ask ("attach"), "ok");

    // A flood from a client that reads slowly: every command still gets its reply, in order.
    constexpr int floodLines = 20000;
    std::thread writer ([&]
    {
        std::string batch;
        for (int i = 0; i < floodLines; ++i)
            batch += (i % 2 == 0) ? "state\n" : "nonsense\n";
        client.send (batch);
    });
    int oks = 0, errors = 0;
    for (int i = 0; i < floodLines; ++i)
    {
        const auto line = client.readLine();
        if (! line)
            break;
        if (line->rfind ((i % 2 == 0) ? "ok attached=1 " : "error: ", 0) == 0)
            (i % 2 == 0 ? oks : errors)++;
    }
    writer.join();
    EXPECT_EQ (oks, floodLines / 2);
    EXPECT_EQ (errors, floodLines / 2);
    EXPECT_EQ (client.ask ("detach"), "ok");
}

TEST_F (ControlSocketTest, ClientsComeAndGoWithoutDisturbingEachOther)
{
    sim().attachTarvik();
    auto socket = openSocket();

    // A client that leaves mid-line: its half command is never carried out.
    {
        Client quitter (path);
        ASSERT_TRUE (quitter.send ("set vold inpt 1 -30"));
    }
    // One that leaves without reading its replies.
    {
        Client rude (path);
        ASSERT_TRUE (rude.send ("state\nstate\nset mute inpt 1 1\n"));
    }
    EXPECT_TRUE (pumpUntil ([&] { return sim().state().in[0].muted; }));
    EXPECT_EQ (Client (path).ask ("set mute inpt 2 1"), "ok");
    EXPECT_EQ (sim().state().in[0].volumeDb, 0.0f);

    // A fresh server, to count clients from none.
    socket.reset();
    socket = openSocket();
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < SimControlSocket::maxClients; ++i)
        clients.push_back (std::make_unique<Client> (path));

    // Lines sent in pieces by several clients at once are kept apart.
    for (auto& c : clients)
        ASSERT_TRUE (c->send ("set vold outp 1 "));
    for (int i = 0; i < SimControlSocket::maxClients; ++i)
    {
        ASSERT_TRUE (clients[(size_t) i]->send (std::to_string (-1 - i) + "\n"));
        EXPECT_EQ (clients[(size_t) i]->readLine(), "ok");
        EXPECT_EQ (sim().state().out[0].volumeDb, (float) (-1 - i));
    }

    Client oneTooMany (path);
    EXPECT_EQ (oneTooMany.readLine(), "error: too many clients");
    EXPECT_TRUE (oneTooMany.sawEndOfFile());

    // A place that comes free is taken by the next client.
    clients.front()->close();
    std::string reply;
    EXPECT_TRUE (pumpUntil ([&]
    {
        Client late (path);
        reply = late.ask ("state");
        return reply.rfind ("ok ", 0) == 0;
    }));
    EXPECT_EQ (clients.back()->ask ("state"), reply);

    // Stopping the server disconnects whoever is still there and removes the file.
    socket.reset();
    EXPECT_TRUE (clients.back()->sawEndOfFile());
    EXPECT_EQ (modeOf (path), "missing");
    EXPECT_FALSE (Client (path).connected());
}

TEST_F (ControlSocketTest, SocketIsOwnerOnlyAndOnlyAStaleSocketIsReplaced)
{
    // Owner-only whatever the umask says.
    const auto oldMask = ::umask (0);
    auto socket = openSocket();
    ::umask (oldMask);
    EXPECT_EQ (modeOf (path), "socket 0600");

    // A live socket is not taken over.
    std::string error;
    EXPECT_EQ (SimControlSocket::open (path, error), nullptr);
    EXPECT_FALSE (error.empty());
    EXPECT_EQ (Client (path).ask ("attach"), "ok");

    // A stale one, left by a program that died, is.
    socket.reset();
    {
        const int fd = ::socket (AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf (address.sun_path, sizeof (address.sun_path), "%s", path.c_str());
        ASSERT_EQ (::bind (fd, reinterpret_cast<sockaddr*> (&address), sizeof (address)), 0);
        ::close (fd);
    }
    ASSERT_EQ (modeOf (path).substr (0, 7), "socket ");
    socket = openSocket();
    EXPECT_EQ (Client (path).ask ("detach"), "ok");
    socket.reset();

    // A file or a symlink at the path is left alone.
    { std::ofstream (path) << "keep me"; }
    EXPECT_EQ (SimControlSocket::open (path, error), nullptr);
    std::string content;
    std::getline (std::ifstream (path), content);
    EXPECT_EQ (content, "keep me");

    const auto target = dir + "/target";
    ASSERT_EQ (::rename (path.c_str(), target.c_str()), 0);
    ASSERT_EQ (::symlink (target.c_str(), path.c_str()), 0);
    EXPECT_EQ (SimControlSocket::open (path, error), nullptr);
    struct stat st;
    EXPECT_EQ (::lstat (path.c_str(), &st), 0);
    EXPECT_TRUE (S_ISLNK (st.st_mode));
    std::getline (std::ifstream (target), content);
    EXPECT_EQ (content, "keep me");
    ::unlink (path.c_str());
    ::unlink (target.c_str());

    EXPECT_EQ (SimControlSocket::open (dir + "/" + std::string (200, 'n'), error), nullptr);
    EXPECT_FALSE (error.empty());
}

TEST_F (ControlSocketTest, TheEnvironmentVariableOpensTheSocket)
{
    ::unsetenv ("TARVIK_SIM_SOCKET");
    EXPECT_EQ (startControlSocketFromEnvironment(), nullptr);
    ::setenv ("TARVIK_SIM_SOCKET", "", 1);
    EXPECT_EQ (startControlSocketFromEnvironment(), nullptr);

    ::setenv ("TARVIK_SIM_SOCKET", path.c_str(), 1);
    auto socket = startControlSocketFromEnvironment();
    ASSERT_NE (socket, nullptr);
    EXPECT_EQ (socket->getPath(), path);
    EXPECT_EQ (Client (path).ask ("attach"), "ok");
    EXPECT_TRUE (sim().isTarvikAttached());

    // A second program on the same path does not get it.
    EXPECT_EQ (startControlSocketFromEnvironment(), nullptr);
    ::unsetenv ("TARVIK_SIM_SOCKET");
}
