#pragma once

// The simulation's control commands: one text line in, one reply line out. Parsing is kept
// apart from running so that the parser can be fed arbitrary bytes on its own.

#include <optional>
#include <string>
#include <string_view>

#include "simulation/TarvikSimulation.h"

namespace tarvik::sim
{
struct ControlCommand
{
    enum class Kind
    {
        attach,
        detach,
        setVolume,
        setMute,
        setRate,
        power,
        state
    };

    Kind kind = Kind::state;
    Side side = Side::input;
    int channel = 1;              ///< 1 or 2, for setVolume and setMute
    double value = 0.0;           ///< dB, 0/1 or Hz
    natural_t powerMessage = 0;
};

struct ParsedControlCommand
{
    std::optional<ControlCommand> command;
    std::string error; ///< why the line was refused, when there is no command
};

/** Parses one line (without its newline; a trailing carriage return is ignored). Never
    throws and accepts any bytes. */
ParsedControlCommand parseControlCommand (std::string_view line);

/** Carries out a parsed command; returns the reply line without its newline. */
std::string executeControlCommand (const ControlCommand& command, Simulation& simulation);

/** Parses and carries out one line; returns "ok", "ok <data>" or "error: <reason>". */
std::string runControlLine (std::string_view line, Simulation& simulation);

/** The reply data of the state command: key=value pairs separated by spaces. */
std::string formatControlState (const TarvikState& state);

/** A volume in the shortest decimal form that reads back as the same float ("-12.5", "0"). */
std::string formatDecibels (float decibels);
} // namespace tarvik::sim
