#pragma once

#include <map>
#include <string>

namespace tarvik::e2e
{
/** Talks to the running program's simulated interface over its control socket. */
class SimClient final
{
public:
    SimClient() = default;
    ~SimClient();

    SimClient (const SimClient&) = delete;
    SimClient& operator= (const SimClient&) = delete;

    /** Connects, retrying while the program is still starting. */
    bool connect (const std::string& socketPath, int timeoutMilliseconds = 10000);

    /** Sends one command line and returns the reply line (empty when the connection failed). */
    std::string command (const std::string& line);

    /** The "state" reply as key/value pairs (empty when the reply was not "ok ..."). */
    std::map<std::string, std::string> state();

private:
    int fd = -1;
    std::string pending;
};
} // namespace tarvik::e2e
