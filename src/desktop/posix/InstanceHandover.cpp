#include "desktop/posix/InstanceHandover.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <juce_events/juce_events.h>

namespace
{
// A command: magic, id, parameter length (big-endian), the parameters in UTF-8.
constexpr char magic[4] = { 'T', 'P', 'H', '1' };
constexpr int idBytes = 16;
constexpr int headerBytes = (int) sizeof (magic) + idBytes + 4;
constexpr char acknowledgement = 'K';

constexpr int connectionDeadlineMs = 1000; // a silent or slow peer is dropped after this
constexpr int maxConnections = 64;         // more wait in the listen queue
constexpr int listenQueue = 128;
constexpr int pollSliceMs = 100;
constexpr int retryPauseMs = 50;
constexpr size_t rememberedIds = 256;

using CommandId = std::array<char, idBytes>;

constexpr const char* socketName = "instance.socket";

/** A real directory of this user that nobody else may enter, checked on the opened folder
    so that a link, or a folder swapped in between a look and its use, is never taken.
    Returns the open folder, or -1.
*/
int openPrivateFolder (const char* path)
{
    const auto handle = ::open (path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);

    if (handle < 0)
        return -1;

    struct stat info {};

    if (::fstat (handle, &info) == 0 && S_ISDIR (info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & 0777) == 0700)
        return handle;

    ::close (handle);
    return -1;
}

bool isPrivateFolder (const char* path)
{
    const auto handle = openPrivateFolder (path);

    if (handle < 0)
        return false;

    ::close (handle);
    return true;
}

/** Creates the folder if needed; true only if it is now a private folder of this user
    whose socket's place is free, a socket, or a leftover of this user that the running
    instance replaces. Every launch checks alike, so they all agree on one folder.
*/
bool preparePrivateFolder (const juce::File& folder)
{
    const auto path = folder.getFullPathName();

    if (path.isEmpty() || ! juce::File::isAbsolutePath (path))
        return false;

    if (::mkdir (path.toRawUTF8(), 0700) != 0 && errno != EEXIST)
        return false;

    const auto handle = openPrivateFolder (path.toRawUTF8());

    if (handle < 0)
        return false;

    struct stat info {};
    const bool socketPlaceUsable = ::fstatat (handle, socketName, &info, AT_SYMLINK_NOFOLLOW) == 0
                                       ? S_ISSOCK (info.st_mode) || info.st_uid == ::geteuid()
                                       : errno == ENOENT;
    ::close (handle);
    return socketPlaceUsable;
}

bool makeAddress (const juce::File& socketFile, sockaddr_un& address)
{
    const auto path = socketFile.getFullPathName();
    const auto length = (size_t) path.getNumBytesAsUTF8();

    address = {};
    address.sun_family = AF_UNIX;

    if (length == 0 || length >= sizeof (address.sun_path))
        return false;

    std::memcpy (address.sun_path, path.toRawUTF8(), length);
    return true;
}

/** The peer's user: the hand-over takes and gives commands only within one user. */
bool peerIsThisUser (int handle)
{
    ucred credentials {};
    socklen_t size = sizeof (credentials);
    return ::getsockopt (handle, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0
           && credentials.uid == ::geteuid();
}

juce::uint32 now() { return juce::Time::getMillisecondCounter(); }

int millisecondsUntil (juce::uint32 deadline)
{
    return (int) ((juce::int64) deadline - (juce::int64) now());
}

/** Waits until the handle is ready for the events or the deadline passes. */
bool waitFor (int handle, short events, juce::uint32 deadline)
{
    for (;;)
    {
        const auto remaining = millisecondsUntil (deadline);

        if (remaining <= 0)
            return false;

        pollfd entry { handle, events, 0 };
        const auto ready = ::poll (&entry, 1, remaining);

        if (ready > 0)
            return true;

        if (ready < 0 && errno != EINTR)
            return false;
    }
}

/** Connects without blocking; false when nobody listens, or the queue stays full. */
int connectBefore (const sockaddr_un& address, juce::uint32 deadline)
{
    const auto handle = ::socket (AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);

    if (handle < 0)
        return -1;

    if (::connect (handle, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0
        || ((errno == EINPROGRESS || errno == EINTR) && waitFor (handle, POLLOUT, deadline)))
    {
        int error = 0;
        socklen_t size = sizeof (error);

        if (::getsockopt (handle, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0 && peerIsThisUser (handle))
            return handle;
    }

    ::close (handle);
    return -1;
}

bool sendAll (int handle, const char* data, size_t size, juce::uint32 deadline)
{
    while (size > 0)
    {
        // MSG_NOSIGNAL: a peer that went away must not raise SIGPIPE.
        const auto sent = ::send (handle, data, size, MSG_NOSIGNAL);

        if (sent > 0)
        {
            data += sent;
            size -= (size_t) sent;
        }
        else if (! (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) || ! waitFor (handle, POLLOUT, deadline))
        {
            return false;
        }
    }

    return true;
}

bool receiveAcknowledgement (int handle, juce::uint32 deadline)
{
    for (;;)
    {
        char reply = 0;
        const auto got = ::recv (handle, &reply, 1, 0);

        if (got == 1)
            return reply == acknowledgement;

        if (got == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) || ! waitFor (handle, POLLIN, deadline))
            return false;
    }
}

/** The string in UTF-8 that the running instance accepts. A command line of bytes that are
    no UTF-8 leaves characters in the string that UTF-8 cannot carry, and NULs where the
    framework decoded an overlong zero; they go as U+FFFD.
*/
juce::MemoryBlock wellFormedUtf8 (const juce::String& text)
{
    juce::MemoryOutputStream out;

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        auto c = p.getAndAdvance();

        if (c == 0 || (juce::uint32) c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
            c = 0xfffd;

        char encoded[8] {};
        juce::CharPointer_UTF8 end (encoded);
        end.write (c);
        out.write (encoded, (size_t) (end.getAddress() - encoded));
    }

    return out.getMemoryBlock();
}

CommandId makeCommandId()
{
    std::random_device source;
    CommandId id {};

    for (size_t i = 0; i < id.size(); i += 4)
    {
        const auto word = source();
        std::memcpy (id.data() + i, &word, 4);
    }

    return id;
}
} // namespace

//==============================================================================
struct InstanceHandover::Delivery
{
    explicit Delivery (Callback cb) : callback (std::move (cb)) {}

    Callback callback;
    std::atomic<bool> active { true };
};

//==============================================================================
/** Serves every connection side by side from one poll loop; each has its own deadline. */
class InstanceHandover::Server final : public juce::Thread
{
public:
    Server (int listenHandleToUse, std::shared_ptr<Delivery> deliveryToUse)
        : juce::Thread ("Instance hand-over"), listener (listenHandleToUse), delivery (std::move (deliveryToUse))
    {
    }

    ~Server() override
    {
        stopThread (4 * pollSliceMs + 1000);
    }

    void run() override
    {
        std::vector<Connection> connections;

        while (! threadShouldExit())
        {
            std::vector<pollfd> entries;

            if (connections.size() < (size_t) maxConnections)
                entries.push_back ({ listener, POLLIN, 0 });

            for (auto& c : connections)
                entries.push_back ({ c.handle, POLLIN, 0 });

            if (::poll (entries.data(), (nfds_t) entries.size(), pollSliceMs) < 0 && errno != EINTR)
                wait (pollSliceMs);

            const bool listening = connections.size() < (size_t) maxConnections;
            const size_t first = listening ? 1 : 0;

            for (size_t i = 0; i < connections.size(); ++i)
                if (entries[first + i].revents != 0 || millisecondsUntil (connections[i].deadline) <= 0)
                    serve (connections[i]);

            connections.erase (std::remove_if (connections.begin(), connections.end(), [] (const Connection& c) { return c.handle < 0; }),
                               connections.end());

            if (listening && (entries[0].revents & POLLIN) != 0)
                acceptWaiting (connections);
        }

        for (auto& c : connections)
            ::close (c.handle);
    }

private:
    struct Connection
    {
        int handle;
        juce::uint32 deadline;
        juce::MemoryBlock received;
    };

    void acceptWaiting (std::vector<Connection>& connections)
    {
        while (connections.size() < (size_t) maxConnections)
        {
            const auto handle = ::accept4 (listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);

            if (handle < 0)
                return;

            if (! peerIsThisUser (handle))
            {
                ::close (handle);
                continue;
            }

            connections.push_back ({ handle, now() + (juce::uint32) connectionDeadlineMs, {} });
        }
    }

    /** Reads what has arrived; once a whole command is in, or on any fault or the deadline, the connection ends. */
    void serve (Connection& c)
    {
        char buffer[4096];

        for (;;)
        {
            const auto expected = expectedSize (c.received);

            if (expected < 0)
                break; // not a command of ours

            if (c.received.getSize() == (size_t) expected)
            {
                complete (c);
                break;
            }

            const auto wanted = juce::jmin (sizeof (buffer), (size_t) expected - c.received.getSize());
            const auto got = ::recv (c.handle, buffer, wanted, 0);

            if (got > 0)
            {
                c.received.append (buffer, (size_t) got);
                continue;
            }

            if (got < 0 && errno == EINTR)
                continue;

            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && millisecondsUntil (c.deadline) > 0)
                return; // more to come

            break;
        }

        ::close (c.handle);
        c.handle = -1;
    }

    /** The whole command's size as far as its header tells: the header's size until that is
        in, -1 once the header is wrong.
    */
    static int expectedSize (const juce::MemoryBlock& received)
    {
        const auto* data = static_cast<const unsigned char*> (received.getData());
        const auto size = received.getSize();

        if (size == 0)
            return headerBytes;

        if (std::memcmp (data, magic, juce::jmin (size, sizeof (magic))) != 0)
            return -1;

        if (size < (size_t) headerBytes)
            return headerBytes;

        const auto* field = data + sizeof (magic) + idBytes;
        const auto length = (juce::uint32) field[0] << 24 | (juce::uint32) field[1] << 16
                          | (juce::uint32) field[2] << 8 | (juce::uint32) field[3];

        return length > (juce::uint32) maxParameterBytes ? -1 : headerBytes + (int) length;
    }

    void complete (Connection& c)
    {
        const auto* data = static_cast<const char*> (c.received.getData());
        const auto* text = data + headerBytes;
        const auto length = (int) c.received.getSize() - headerBytes;

        // The string has to survive as one: no embedded NUL, nothing that is not UTF-8.
        if (std::memchr (text, 0, (size_t) length) != nullptr || ! juce::CharPointer_UTF8::isValidString (text, length))
            return;

        CommandId id;
        std::memcpy (id.data(), data + sizeof (magic), id.size());

        // Acknowledged first: a command whose sender has gone, and so cannot learn that it
        // was taken, is not acted on.
        if (::send (c.handle, &acknowledgement, 1, MSG_NOSIGNAL) != 1)
            return;

        if (std::find (seen.begin(), seen.end(), id) != seen.end())
            return; // a repeat whose first acknowledgement was lost

        seen.push_back (id);

        if (seen.size() > rememberedIds)
            seen.pop_front();

        juce::MessageManager::callAsync ([target = delivery, parameters = juce::String::fromUTF8 (text, length)]
        {
            if (target->active)
                target->callback (parameters);
        });
    }

    const int listener;
    const std::shared_ptr<Delivery> delivery;
    std::deque<CommandId> seen;
};

//==============================================================================
InstanceHandover::InstanceHandover (const juce::File& privateFolder)
    : folder (privateFolder), folderIsSafe (preparePrivateFolder (privateFolder))
{
}

InstanceHandover::~InstanceHandover()
{
    if (delivery != nullptr)
        delivery->active = false;

    server.reset();
    stopListening(); // while still holding the lock, so a successor's socket is never touched

    if (lockHandle >= 0)
        ::close (lockHandle); // releases the flock
}

juce::File InstanceHandover::getDefaultFolder()
{
    juce::Array<juce::File> places;
    const auto* runtime = std::getenv ("XDG_RUNTIME_DIR");

    if (runtime != nullptr && runtime[0] == '/' && isPrivateFolder (runtime))
        places.add (juce::File (juce::CharPointer_UTF8 (runtime)).getChildFile ("tarvik-panel"));

    // Another user may have made this one first; they cannot make one in our home.
    places.add (juce::File ("/tmp/tarvik-panel-" + juce::String ((juce::int64) ::geteuid())));

    const auto cache = juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile (".cache");
    cache.createDirectory();
    places.add (cache.getChildFile ("tarvik-panel"));

    return firstPrivateFolder (places);
}

juce::File InstanceHandover::firstPrivateFolder (const juce::Array<juce::File>& places)
{
    for (const auto& place : places)
        if (preparePrivateFolder (place))
            return place;

    return places.getLast();
}

bool InstanceHandover::isAnotherInstanceRunning()
{
    if (lockHandle >= 0 || ! folderIsSafe)
        return false;

    const auto handle = ::open (getLockFile().getFullPathName().toRawUTF8(),
                                O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);

    if (handle < 0)
        return false;

    int result;

    do
        result = ::flock (handle, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);

    if (result == 0)
    {
        lockHandle = handle;
        listen();
        return false;
    }

    const auto heldElsewhere = (errno == EWOULDBLOCK);
    ::close (handle);
    return heldElsewhere;
}

bool InstanceHandover::listen()
{
    sockaddr_un address;

    if (! makeAddress (getSocketFile(), address))
        return false;

    // Whatever is there was left by an instance that is gone: the lock is ours. A folder
    // there would keep every later launch out.
    struct stat info {};

    if (::lstat (address.sun_path, &info) == 0 && S_ISDIR (info.st_mode))
        getSocketFile().deleteRecursively (false);
    else
        ::unlink (address.sun_path);

    const auto handle = ::socket (AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);

    if (handle < 0)
        return false;

    if (::bind (handle, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0
        || ::chmod (address.sun_path, 0600) != 0 || ::listen (handle, listenQueue) != 0)
    {
        ::close (handle);
        ::unlink (address.sun_path);
        return false;
    }

    listenHandle = handle;
    return true;
}

void InstanceHandover::stopListening()
{
    if (listenHandle < 0)
        return;

    ::close (listenHandle);
    listenHandle = -1;
    ::unlink (getSocketFile().getFullPathName().toRawUTF8());
}

bool InstanceHandover::sendToRunningInstance (const juce::String& parameters, int timeoutMilliseconds)
{
    if (! folderIsSafe || lockHandle >= 0)
        return false;

    const auto utf8 = wellFormedUtf8 (parameters);
    const auto length = (int) utf8.getSize();
    sockaddr_un address;

    if (length > maxParameterBytes || ! makeAddress (getSocketFile(), address))
        return false;

    const auto id = makeCommandId();
    juce::MemoryOutputStream message;
    message.write (magic, sizeof (magic));
    message.write (id.data(), id.size());
    message.writeIntBigEndian (length);
    message.write (utf8.getData(), utf8.getSize());

    const auto deadline = now() + (juce::uint32) juce::jmax (0, timeoutMilliseconds);

    // Every try sends the same id, so a command whose acknowledgement was lost is not taken twice.
    while (millisecondsUntil (deadline) > 0)
    {
        const auto handle = connectBefore (address, deadline);

        if (handle >= 0)
        {
            const bool taken = sendAll (handle, static_cast<const char*> (message.getData()), message.getDataSize(), deadline)
                               && receiveAcknowledgement (handle, deadline);
            ::close (handle);

            if (taken)
                return true;
        }

        juce::Thread::sleep (juce::jlimit (0, retryPauseMs, millisecondsUntil (deadline)));
    }

    return false;
}

bool InstanceHandover::startServing (Callback onParametersReceived)
{
    if (server != nullptr || onParametersReceived == nullptr)
        return false;

    if (lockHandle < 0)
        isAnotherInstanceRunning();

    if (lockHandle < 0 || (listenHandle < 0 && ! listen()))
        return false; // another instance holds the lock, or the folder is unusable

    delivery = std::make_shared<Delivery> (std::move (onParametersReceived));
    server = std::make_unique<Server> (listenHandle, delivery);
    server->startThread();
    return true;
}

bool InstanceHandover::isServing() const noexcept
{
    return server != nullptr && server->isThreadRunning();
}
