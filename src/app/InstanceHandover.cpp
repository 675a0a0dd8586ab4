#include "app/InstanceHandover.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <juce_events/juce_events.h>

namespace
{
constexpr int tokenLength = 32; // hex digits, 128 random bits
constexpr int lengthFieldBytes = 4;
constexpr char acknowledgement = 'K';
constexpr int connectionDeadlineMs = 1000; // a silent or slow peer holds the server no longer
constexpr int connectTimeoutMs = 500;
constexpr int acknowledgementTimeoutMs = 2000; // longer than one connection's deadline
constexpr int pollSliceMs = 100;

bool isPrivateDirectory (const struct stat& info)
{
    return S_ISDIR (info.st_mode) && info.st_uid == geteuid();
}

/** Creates the folder if needed and makes sure it is ours, a real directory, and 0700. */
bool preparePrivateFolder (const juce::File& folder)
{
    const auto path = folder.getFullPathName();

    if (path.isEmpty() || ! juce::File::isAbsolutePath (path))
        return false;

    folder.getParentDirectory().createDirectory();

    if (::mkdir (path.toRawUTF8(), 0700) != 0 && errno != EEXIST)
        return false;

    struct stat info {};

    if (::lstat (path.toRawUTF8(), &info) != 0 || ! isPrivateDirectory (info))
        return false; // a symlink or another user's folder: never use it

    if ((info.st_mode & 0777) != 0700 && ::chmod (path.toRawUTF8(), 0700) != 0)
        return false;

    return true;
}

juce::String makeToken()
{
    std::random_device source;
    juce::String token;

    for (int i = 0; i < tokenLength / 8; ++i)
    {
        char word[9];
        std::snprintf (word, sizeof (word), "%08x", (unsigned int) source());
        token << word;
    }

    return token;
}

bool tokensMatch (const char* a, const char* b)
{
    unsigned char difference = 0;

    for (int i = 0; i < tokenLength; ++i)
        difference |= (unsigned char) (a[i] ^ b[i]);

    return difference == 0;
}

void closeOnExec (int handle)
{
    if (handle >= 0)
        ::fcntl (handle, F_SETFD, ::fcntl (handle, F_GETFD) | FD_CLOEXEC);
}

int millisecondsUntil (juce::uint32 deadline)
{
    return (int) ((juce::int64) deadline - (juce::int64) juce::Time::getMillisecondCounter());
}

/** Reads exactly numBytes before the deadline; false on end of stream, error, timeout or exit request. */
bool readExactly (juce::StreamingSocket& socket, void* buffer, int numBytes, juce::uint32 deadline,
                  const juce::Thread* owner)
{
    int done = 0;

    while (done < numBytes)
    {
        const auto remaining = millisecondsUntil (deadline);

        if (remaining <= 0 || (owner != nullptr && owner->threadShouldExit()))
            return false;

        const auto ready = socket.waitUntilReady (true, juce::jmin (remaining, pollSliceMs));

        if (ready < 0)
            return false;

        if (ready == 0)
            continue;

        const auto got = socket.read (static_cast<char*> (buffer) + done, numBytes - done, false);

        if (got <= 0)
            return false; // readable but empty: the peer has gone

        done += got;
    }

    return true;
}

/** Writes everything before the deadline. MSG_NOSIGNAL: a peer that went away must not raise SIGPIPE. */
bool writeAll (juce::StreamingSocket& socket, const void* data, int numBytes, juce::uint32 deadline)
{
    int done = 0;

    while (done < numBytes)
    {
        const auto sent = ::send (socket.getRawSocketHandle(), static_cast<const char*> (data) + done,
                                  (size_t) (numBytes - done), MSG_NOSIGNAL);

        if (sent > 0)
        {
            done += (int) sent;
            continue;
        }

        if (sent < 0 && errno == EINTR)
            continue;

        const auto remaining = millisecondsUntil (deadline);

        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || remaining <= 0
            || socket.waitUntilReady (false, remaining) != 1)
            return false;
    }

    return true;
}

struct PublishedAddress
{
    int port = 0;
    juce::String token;
};

/** Reads the address file, refusing anything that is not a small regular file of ours in the expected form. */
std::optional<PublishedAddress> readAddress (const juce::File& file)
{
    const auto handle = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);

    if (handle < 0)
        return std::nullopt;

    char text[128] {};
    struct stat info {};
    ssize_t length = -1;

    if (::fstat (handle, &info) == 0 && S_ISREG (info.st_mode) && info.st_uid == geteuid())
        length = ::read (handle, text, sizeof (text) - 1);

    ::close (handle);

    if (length <= 0 || ! juce::CharPointer_UTF8::isValidString (text, (int) length))
        return std::nullopt;

    const auto fields = juce::StringArray::fromTokens (juce::String::fromUTF8 (text, (int) length).trimEnd(), " ", {});

    if (fields.size() != 2 || ! fields[0].containsOnly ("0123456789") || fields[0].length() > 5
        || fields[1].length() != tokenLength || ! fields[1].containsOnly ("0123456789abcdef"))
        return std::nullopt;

    const auto port = fields[0].getIntValue();

    if (port <= 0 || port > 65535)
        return std::nullopt;

    return PublishedAddress { port, fields[1] };
}

/** Replaces the file atomically with a new one that only this user can read. */
bool writePrivateFile (const juce::File& file, const juce::String& content)
{
    auto temporaryPath = file.getSiblingFile ("." + file.getFileName() + ".XXXXXX").getFullPathName().toStdString();
    const auto handle = ::mkostemp (temporaryPath.data(), O_CLOEXEC); // mkostemp creates it 0600

    if (handle < 0)
        return false;

    const auto bytes = content.toStdString();
    const auto written = ::write (handle, bytes.data(), bytes.size());
    const auto closed = ::close (handle) == 0;

    if (written != (ssize_t) bytes.size() || ! closed
        || ::rename (temporaryPath.c_str(), file.getFullPathName().toRawUTF8()) != 0)
    {
        ::unlink (temporaryPath.c_str());
        return false;
    }

    return true;
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
/** Accepts one connection at a time; each gets a short deadline, so a silent peer cannot stall the queue for long. */
class InstanceHandover::Server final : public juce::Thread
{
public:
    Server (juce::String tokenToUse, std::shared_ptr<Delivery> deliveryToUse)
        : juce::Thread ("Instance hand-over"), token (std::move (tokenToUse)), delivery (std::move (deliveryToUse))
    {
    }

    ~Server() override
    {
        stopThread (4 * pollSliceMs + connectionDeadlineMs);
        listener.close();
    }

    bool listen()
    {
        if (! listener.createListener (0, "127.0.0.1"))
            return false;

        closeOnExec (listener.getRawSocketHandle()); // programs the panel starts must not keep the port
        return listener.getBoundPort() > 0;
    }

    int getPort() const { return listener.getBoundPort(); }

    void run() override
    {
        while (! threadShouldExit())
        {
            const auto ready = listener.waitUntilReady (true, pollSliceMs);

            if (ready < 0)
            {
                wait (pollSliceMs);
                continue;
            }

            if (ready == 0)
                continue;

            if (std::unique_ptr<juce::StreamingSocket> peer { listener.waitForNextConnection() })
            {
                closeOnExec (peer->getRawSocketHandle());
                serve (*peer);
            }
        }
    }

private:
    void serve (juce::StreamingSocket& peer)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) connectionDeadlineMs;

        char receivedToken[tokenLength];

        if (! readExactly (peer, receivedToken, tokenLength, deadline, this)
            || ! tokensMatch (receivedToken, token.toRawUTF8()))
            return;

        unsigned char lengthField[lengthFieldBytes];

        if (! readExactly (peer, lengthField, lengthFieldBytes, deadline, this))
            return;

        const auto length = (juce::uint32) lengthField[0] << 24 | (juce::uint32) lengthField[1] << 16
                          | (juce::uint32) lengthField[2] << 8 | (juce::uint32) lengthField[3];

        if (length > (juce::uint32) maxParameterBytes)
            return;

        juce::HeapBlock<char> text ((size_t) length + 1, true);

        if (! readExactly (peer, text.get(), (int) length, deadline, this))
            return;

        // The string has to survive as one: no embedded NUL, nothing that is not UTF-8.
        if (std::memchr (text.get(), 0, length) != nullptr
            || ! juce::CharPointer_UTF8::isValidString (text.get(), (int) length))
            return;

        const auto parameters = juce::String::fromUTF8 (text.get(), (int) length);

        juce::MessageManager::callAsync ([target = delivery, parameters]
        {
            if (target->active)
                target->callback (parameters);
        });

        writeAll (peer, &acknowledgement, 1, deadline);
    }

    const juce::String token;
    const std::shared_ptr<Delivery> delivery;
    juce::StreamingSocket listener;
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
    removeOwnAddressFile(); // while still holding the lock, so a successor's file is never touched

    if (lockHandle >= 0)
        ::close (lockHandle); // releases the flock
}

juce::File InstanceHandover::getDefaultFolder()
{
    const auto* runtime = std::getenv ("XDG_RUNTIME_DIR");
    struct stat info {};

    if (runtime != nullptr && runtime[0] == '/' && ::stat (runtime, &info) == 0 && isPrivateDirectory (info))
        return juce::File (juce::CharPointer_UTF8 (runtime)).getChildFile ("tarvik-panel");

    return juce::File ("/tmp/tarvik-panel-" + juce::String ((juce::int64) geteuid()));
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
        getAddressFile().deleteFile(); // whatever is there was left by an instance that is gone
        return false;
    }

    const auto heldElsewhere = (errno == EWOULDBLOCK);
    ::close (handle);
    return heldElsewhere;
}

bool InstanceHandover::sendToRunningInstance (const juce::String& parameters, int attempts, int pauseMilliseconds)
{
    if (! folderIsSafe || lockHandle >= 0)
        return false;

    const auto utf8 = parameters.toUTF8();
    const auto length = (int) utf8.sizeInBytes() - 1;

    if (length > maxParameterBytes)
        return false;

    for (int attempt = 0; attempt < attempts; ++attempt)
    {
        if (attempt > 0)
            juce::Thread::sleep (pauseMilliseconds);

        const auto address = readAddress (getAddressFile());

        if (! address.has_value())
            continue; // not published yet

        juce::MemoryOutputStream message;
        message.write (address->token.toRawUTF8(), (size_t) tokenLength);
        message.writeIntBigEndian (length);
        message.write (utf8.getAddress(), (size_t) length);

        juce::StreamingSocket socket;

        if (! socket.connect ("127.0.0.1", address->port, connectTimeoutMs))
            continue;

        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) acknowledgementTimeoutMs;
        char reply = 0;

        if (writeAll (socket, message.getData(), (int) message.getDataSize(), deadline)
            && readExactly (socket, &reply, 1, deadline, nullptr) && reply == acknowledgement)
            return true;
    }

    return false;
}

bool InstanceHandover::startServing (Callback onParametersReceived)
{
    if (server != nullptr || onParametersReceived == nullptr)
        return false;

    if (lockHandle < 0)
        isAnotherInstanceRunning();

    if (lockHandle < 0)
        return false; // another instance holds the lock, or the folder is unusable

    auto token = makeToken();
    auto newDelivery = std::make_shared<Delivery> (std::move (onParametersReceived));
    auto newServer = std::make_unique<Server> (token, newDelivery);

    if (! newServer->listen())
        return false;

    const auto text = juce::String (newServer->getPort()) + " " + token + "\n";

    if (! writePrivateFile (getAddressFile(), text))
        return false;

    publishedText = text;
    delivery = std::move (newDelivery);
    server = std::move (newServer);
    server->startThread();
    return true;
}

bool InstanceHandover::isServing() const noexcept
{
    return server != nullptr && server->isThreadRunning();
}

void InstanceHandover::removeOwnAddressFile()
{
    if (publishedText.isNotEmpty() && getAddressFile().loadFileAsString() == publishedText)
        getAddressFile().deleteFile();
}
