// The control socket's command lines: any bytes, split into lines as the socket splits them,
// parsed and carried out against the simulation. A parsed command must be one the simulation
// can take as it is.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "simulation/SimControlCommands.h"

using namespace tarvik::sim;

namespace
{
void check (bool condition, const char* what)
{
    if (! condition)
    {
        std::fprintf (stderr, "broken invariant: %s\n", what);
        std::abort();
    }
}

void checkCommand (const ControlCommand& c)
{
    using Kind = ControlCommand::Kind;

    switch (c.kind)
    {
        case Kind::setVolume:
            check (c.channel == 1 || c.channel == 2, "volume channel is 1 or 2");
            check (std::isfinite (c.value) && std::abs (c.value) <= 3.4e38, "volume fits a float");
            break;
        case Kind::setMute:
            check (c.channel == 1 || c.channel == 2, "mute channel is 1 or 2");
            check (c.value == 0.0 || c.value == 1.0, "mute is 0 or 1");
            break;
        case Kind::setRate:
            check (std::isfinite (c.value) && c.value > 0.0, "rate is positive and finite");
            break;
        case Kind::attach:
        case Kind::detach:
        case Kind::power:
        case Kind::state:
            break;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    auto& simulation = Simulation::get();
    simulation.reset(); // also keeps the simulation's logs from growing over the run

    // Half of the inputs find the interface attached, so that changes reach a device.
    if (size > 0 && (data[0] & 1) != 0)
        simulation.attachTarvik();

    std::string_view rest (reinterpret_cast<const char*> (data), size);

    while (! rest.empty())
    {
        const auto end = rest.find ('\n');
        const auto line = rest.substr (0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr (end + 1);

        const auto parsed = parseControlCommand (line);
        check (parsed.command.has_value() != ! parsed.error.empty(), "either a command or a reason");

        if (parsed.command)
            checkCommand (*parsed.command);

        const auto reply = runControlLine (line, simulation);
        check (reply == "ok" || reply.rfind ("ok ", 0) == 0 || reply.rfind ("error: ", 0) == 0, "reply form");
        check (reply.find ('\n') == std::string::npos, "one reply line");
    }

    return 0;
}
