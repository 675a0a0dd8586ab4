#include "simulation/SimControlSocket.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "simulation/SimControlCommands.h"

namespace tarvik::sim
{
namespace
{
/** Replies waiting beyond this stop the reading of more commands from that client. */
constexpr size_t maxPendingOutput = 64 * 1024;
constexpr size_t readChunk = 4096;

struct Client
{
    int fd = -1;
    std::string input, output;
    bool discarding = false; ///< inside a line that was too long, up to its newline
    bool closing = false;    ///< the client sent end-of-file; close once the replies are out
};

std::string systemError (const char* what) { return std::string (what) + ": " + std::strerror (errno); }

void closeQuietly (int fd)
{
    if (fd >= 0)
        ::close (fd);
}

bool fillAddress (const std::string& path, sockaddr_un& address)
{
    std::memset (&address, 0, sizeof (address));
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof (address.sun_path))
        return false;
    std::memcpy (address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

/** Whether a program still accepts connections on the socket file at the address. */
bool someoneListens (const sockaddr_un& address)
{
    // Non-blocking, so a live server with a full backlog cannot hold us up: that is EAGAIN.
    const int probe = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0)
        return false;
    const bool listening = ::connect (probe, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0
                        || errno == EAGAIN;
    ::close (probe);
    return listening;
}

void handleLine (Client& client, std::string_view line)
{
    if (line.size() > SimControlSocket::maxLineLength)
        client.output += "error: line too long\n";
    else
        client.output += runControlLine (line, Simulation::get()) + "\n";
}

void feed (Client& client, const char* data, size_t size)
{
    size_t pos = 0;
    while (pos < size)
    {
        const auto* newline = static_cast<const char*> (std::memchr (data + pos, '\n', size - pos));
        const size_t end = newline != nullptr ? (size_t) (newline - data) : size;

        if (client.discarding)
        {
            client.discarding = newline == nullptr;
        }
        else if (newline == nullptr)
        {
            client.input.append (data + pos, end - pos);
            if (client.input.size() > SimControlSocket::maxLineLength)
            {
                client.output += "error: line too long\n";
                client.input.clear();
                client.discarding = true;
            }
        }
        else if (client.input.empty())
        {
            handleLine (client, std::string_view (data + pos, end - pos));
        }
        else
        {
            client.input.append (data + pos, end - pos);
            handleLine (client, client.input);
            client.input.clear();
        }

        pos = newline != nullptr ? end + 1 : size;
    }
}

/** Reads what is there; false when the connection is broken. */
bool readFrom (Client& client)
{
    char buffer[readChunk];
    const auto n = ::recv (client.fd, buffer, sizeof (buffer), MSG_DONTWAIT);
    if (n > 0)
    {
        feed (client, buffer, (size_t) n);
        return true;
    }
    if (n == 0)
    {
        client.closing = true; // a command without its newline is dropped
        client.input.clear();
        return true;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

/** Sends what it can; false when the connection is broken. */
bool writeTo (Client& client)
{
    while (! client.output.empty())
    {
        const auto n = ::send (client.fd, client.output.data(), client.output.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        client.output.erase (0, (size_t) n);
    }
    return true;
}
} // namespace

std::unique_ptr<SimControlSocket> SimControlSocket::open (const std::string& path, std::string& error)
{
    sockaddr_un address;
    if (! fillAddress (path, address))
    {
        error = path.empty() ? "no path given" : "path too long for a Unix socket";
        return nullptr;
    }

    struct stat existing;
    if (::lstat (path.c_str(), &existing) == 0)
    {
        if (! S_ISSOCK (existing.st_mode))
        {
            error = "the path exists and is not a socket";
            return nullptr;
        }
        if (someoneListens (address))
        {
            error = "another program is serving this socket";
            return nullptr;
        }
        if (::unlink (path.c_str()) != 0 && errno != ENOENT)
        {
            error = systemError ("cannot remove the stale socket");
            return nullptr;
        }
    }

    const int listener = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0)
    {
        error = systemError ("socket");
        return nullptr;
    }

    // Linux creates the socket file with the socket's own mode (less the umask), so it is
    // never reachable by others, not even between bind and the chmod below.
    ::fchmod (listener, S_IRUSR | S_IWUSR);

    struct stat bound;
    if (::bind (listener, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0)
    {
        error = systemError ("bind");
        ::close (listener);
        return nullptr;
    }

    if (::lstat (path.c_str(), &bound) != 0 || ! S_ISSOCK (bound.st_mode)
        || ((bound.st_mode & 07777) != 0600 && ::chmod (path.c_str(), 0600) != 0))
    {
        error = systemError ("cannot make the socket owner-only");
        ::unlink (path.c_str());
        ::close (listener);
        return nullptr;
    }

    int wake[2] { -1, -1 };
    if (::listen (listener, 16) != 0 || ::pipe2 (wake, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        error = systemError ("listen");
        ::unlink (path.c_str());
        ::close (listener);
        return nullptr;
    }

    return std::unique_ptr<SimControlSocket> (
        new SimControlSocket (path, listener, wake[0], wake[1], bound.st_dev, bound.st_ino));
}

SimControlSocket::SimControlSocket (std::string socketPath, int listener, int wakeRead, int wakeWrite,
                                    dev_t device, ino_t inode)
    : path (std::move (socketPath)),
      listenFd (listener),
      wakeReadFd (wakeRead),
      wakeWriteFd (wakeWrite),
      fileDevice (device),
      fileInode (inode)
{
    thread = std::thread ([this] { run(); });
}

SimControlSocket::~SimControlSocket()
{
    const char stop = 1;
    while (::write (wakeWriteFd, &stop, 1) < 0 && errno == EINTR)
    {
    }
    thread.join();

    // Only our own socket file: something else may have been put there meanwhile.
    struct stat now;
    if (::lstat (path.c_str(), &now) == 0 && S_ISSOCK (now.st_mode) && now.st_dev == fileDevice
        && now.st_ino == fileInode)
        ::unlink (path.c_str());

    closeQuietly (listenFd);
    closeQuietly (wakeReadFd);
    closeQuietly (wakeWriteFd);
}

void SimControlSocket::run()
{
    std::vector<Client> clients;
    std::vector<pollfd> fds;

    for (;;)
    {
        fds.clear();
        fds.push_back ({ wakeReadFd, POLLIN, 0 });
        fds.push_back ({ listenFd, POLLIN, 0 });
        for (auto& c : clients)
        {
            short events = 0;
            if (! c.closing && c.output.size() < maxPendingOutput)
                events |= POLLIN;
            if (! c.output.empty())
                events |= POLLOUT;
            fds.push_back ({ c.fd, events, 0 });
        }

        if (::poll (fds.data(), (nfds_t) fds.size(), -1) < 0)
        {
            if (errno == EINTR)
                continue;
            break;
        }

        if (fds[0].revents != 0)
            break;

        // Clients first: fds[2 + i] belongs to clients[i] only until the list changes.
        std::vector<Client> kept;
        kept.reserve (clients.size());
        for (size_t i = 0; i < clients.size(); ++i)
        {
            auto& c = clients[i];
            const auto revents = fds[2 + i].revents;
            bool alive = (revents & POLLNVAL) == 0;

            if (alive && (revents & (POLLIN | POLLHUP | POLLERR)) != 0 && ! c.closing
                && c.output.size() < maxPendingOutput)
                alive = readFrom (c);
            if (alive && (revents & (POLLOUT | POLLHUP | POLLERR)) != 0)
                alive = writeTo (c);
            if (alive && (revents & POLLERR) != 0)
                alive = false;
            if (alive && c.closing && c.output.empty())
                alive = false;

            if (alive)
                kept.push_back (std::move (c));
            else
                ::close (c.fd);
        }
        clients = std::move (kept);

        if ((fds[1].revents & POLLIN) != 0)
        {
            for (;;)
            {
                const int fd = ::accept4 (listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;

                if ((int) clients.size() >= maxClients)
                {
                    static constexpr char busy[] = "error: too many clients\n";
                    [[maybe_unused]] const auto sent = ::send (fd, busy, sizeof (busy) - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
                    ::close (fd);
                    continue;
                }

                Client c;
                c.fd = fd;
                clients.push_back (std::move (c));
            }
        }
    }

    for (auto& c : clients)
        ::close (c.fd);
}

std::unique_ptr<SimControlSocket> startControlSocketFromEnvironment()
{
    const char* path = std::getenv ("TARVIK_SIM_SOCKET");
    if (path == nullptr || *path == 0)
        return nullptr;

    std::string error;
    auto socket = SimControlSocket::open (path, error);
    if (socket == nullptr)
        std::fprintf (stderr, "Control socket %s not opened: %s\n", path, error.c_str());
    return socket;
}
} // namespace tarvik::sim
