#pragma once

// The simulation's control socket: a Unix stream socket, readable and writable by its owner
// only, that takes the commands of SimControlCommands.h one line at a time and answers each
// with one line. It is served on a thread of its own and never touches the message thread.

#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include <sys/types.h>

namespace tarvik::sim
{
class SimControlSocket final
{
public:
    /** Longest command line taken, without its newline; a longer one is answered with an
        error and skipped up to its newline. */
    static constexpr size_t maxLineLength = 1024;
    /** Clients served at once; one more is told so and disconnected. */
    static constexpr int maxClients = 8;

    /** Creates the socket at path and starts serving it. A stale socket there is replaced;
        anything else there (a live socket, a symlink, a file) is left alone and the open
        fails. Returns null with the reason in error on failure. */
    static std::unique_ptr<SimControlSocket> open (const std::string& path, std::string& error);

    /** Disconnects every client, stops the thread and removes the socket file. */
    ~SimControlSocket();

    const std::string& getPath() const { return path; }

private:
    SimControlSocket (std::string socketPath, int listener, int wakeRead, int wakeWrite, dev_t device, ino_t inode);
    void run();

    const std::string path;
    const int listenFd, wakeReadFd, wakeWriteFd;
    const dev_t fileDevice;
    const ino_t fileInode;
    std::thread thread;

    SimControlSocket (const SimControlSocket&) = delete;
    SimControlSocket& operator= (const SimControlSocket&) = delete;
};

/** Opens the control socket named by TARVIK_SIM_SOCKET. Returns null when the variable is
    unset or empty, or when the socket cannot be opened (the reason goes to standard error). */
std::unique_ptr<SimControlSocket> startControlSocketFromEnvironment();
} // namespace tarvik::sim
