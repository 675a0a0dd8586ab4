#include "SimClient.h"

#include <chrono>
#include <cstring>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "support/Timing.h"

namespace tarvik::e2e
{
SimClient::~SimClient()
{
    if (fd >= 0)
        close (fd);
}

bool SimClient::connect (const std::string& socketPath, int timeoutMilliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (test::scaled (timeoutMilliseconds));

    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy (address.sun_path, socketPath.c_str(), sizeof (address.sun_path) - 1);

    while (std::chrono::steady_clock::now() < deadline)
    {
        fd = socket (AF_UNIX, SOCK_STREAM, 0);
        if (fd >= 0 && ::connect (fd, reinterpret_cast<sockaddr*> (&address), sizeof (address)) == 0)
            return true;
        if (fd >= 0)
            close (fd);
        fd = -1;
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
    }

    return false;
}

std::string SimClient::command (const std::string& line)
{
    if (fd < 0)
        return {};

    const auto out = line + "\n";
    if (send (fd, out.data(), out.size(), MSG_NOSIGNAL) != (ssize_t) out.size())
        return {};

    while (pending.find ('\n') == std::string::npos)
    {
        pollfd pfd { fd, POLLIN, 0 };
        if (poll (&pfd, 1, test::scaled (10000)) <= 0)
            return {};

        char buffer[512];
        const auto n = recv (fd, buffer, sizeof (buffer), 0);
        if (n <= 0)
            return {};
        pending.append (buffer, (size_t) n);
    }

    const auto end = pending.find ('\n');
    auto reply = pending.substr (0, end);
    pending.erase (0, end + 1);
    return reply;
}

std::map<std::string, std::string> SimClient::state()
{
    const auto reply = command ("state");
    std::map<std::string, std::string> result;

    if (reply.rfind ("ok ", 0) != 0)
        return result;

    std::istringstream words (reply.substr (3));
    std::string word;
    while (words >> word)
    {
        const auto eq = word.find ('=');
        if (eq != std::string::npos)
            result[word.substr (0, eq)] = word.substr (eq + 1);
    }
    return result;
}
} // namespace tarvik::e2e
