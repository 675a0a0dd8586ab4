#include "simulation/SimControlCommands.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace tarvik::sim
{
namespace
{
std::vector<std::string_view> splitWords (std::string_view line)
{
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const auto start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.push_back (line.substr (start, i - start));
    }
    return words;
}

/** A whole word as a finite number; from_chars keeps it independent of the C locale. */
std::optional<double> parseNumber (std::string_view word)
{
    double value = 0.0;
    const auto* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars (word.data(), end, value);
    if (ec != std::errc() || ptr != end || ! std::isfinite (value))
        return std::nullopt;
    return value;
}

std::optional<Side> parseSide (std::string_view word)
{
    if (word == "inpt")
        return Side::input;
    if (word == "outp")
        return Side::output;
    return std::nullopt;
}

ParsedControlCommand fail (std::string reason) { return { std::nullopt, std::move (reason) }; }
ParsedControlCommand succeed (const ControlCommand& command) { return { command, {} }; }

ParsedControlCommand parseSet (const std::vector<std::string_view>& words)
{
    const auto what = words.size() > 1 ? words[1] : std::string_view();
    const bool perChannel = what == "vold" || what == "mute";

    if (what == "nsrt")
    {
        if (words.size() != 4)
            return fail ("usage: set nsrt <inpt|outp> <Hz>");
    }
    else if (perChannel)
    {
        if (words.size() != 5)
            return fail (what == "vold" ? "usage: set vold <inpt|outp> <1|2> <dB>"
                                        : "usage: set mute <inpt|outp> <1|2> <0|1>");
    }
    else
    {
        return fail ("unknown property; use vold, mute or nsrt");
    }

    ControlCommand c;
    const auto side = parseSide (words[2]);
    if (! side)
        return fail ("side must be inpt or outp");
    c.side = *side;

    if (what == "nsrt")
    {
        const auto rate = parseNumber (words[3]);
        if (! rate || *rate <= 0.0)
            return fail ("sample rate must be a positive number of Hz");
        c.kind = ControlCommand::Kind::setRate;
        c.value = *rate;
        return succeed (c);
    }

    if (words[3] != "1" && words[3] != "2")
        return fail ("channel must be 1 or 2");
    c.channel = words[3] == "1" ? 1 : 2;

    if (what == "mute")
    {
        if (words[4] != "0" && words[4] != "1")
            return fail ("mute must be 0 or 1");
        c.kind = ControlCommand::Kind::setMute;
        c.value = words[4] == "1" ? 1.0 : 0.0;
        return succeed (c);
    }

    const auto db = parseNumber (words[4]);
    if (! db || ! std::isfinite ((float) *db))
        return fail ("volume must be a number of dB");
    c.kind = ControlCommand::Kind::setVolume;
    c.value = *db;
    return succeed (c);
}

ParsedControlCommand parsePower (const std::vector<std::string_view>& words)
{
    static constexpr std::pair<std::string_view, natural_t> messages[] {
        { "cansleep", kIOMessageCanSystemSleep },
        { "willsleep", kIOMessageSystemWillSleep },
        { "willpoweron", kIOMessageSystemWillPowerOn },
        { "haspoweredon", kIOMessageSystemHasPoweredOn },
    };

    if (words.size() == 2)
        for (auto& [name, message] : messages)
            if (words[1] == name)
            {
                ControlCommand c;
                c.kind = ControlCommand::Kind::power;
                c.powerMessage = message;
                return succeed (c);
            }

    return fail ("usage: power <cansleep|willsleep|willpoweron|haspoweredon>");
}

std::string describeStatus (OSStatus status)
{
    // CoreAudio errors are mostly four printable characters, such as '!dat'.
    const auto code = (UInt32) status;
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
    {
        const auto ch = (char) ((code >> shift) & 0xFF);
        if (ch < 0x20 || ch > 0x7E)
            return std::to_string (status);
        text += ch;
    }
    return "'" + text + "'";
}
} // namespace

ParsedControlCommand parseControlCommand (std::string_view line)
{
    if (! line.empty() && line.back() == '\r')
        line.remove_suffix (1);

    const auto words = splitWords (line);
    if (words.empty())
        return fail ("empty command");

    const auto verb = words[0];
    const auto bare = [&] (ControlCommand::Kind kind, const char* usage)
    {
        if (words.size() != 1)
            return fail (usage);
        ControlCommand c;
        c.kind = kind;
        return succeed (c);
    };

    if (verb == "attach")
        return bare (ControlCommand::Kind::attach, "usage: attach");
    if (verb == "detach")
        return bare (ControlCommand::Kind::detach, "usage: detach");
    if (verb == "state")
        return bare (ControlCommand::Kind::state, "usage: state");
    if (verb == "set")
        return parseSet (words);
    if (verb == "power")
        return parsePower (words);

    return fail ("unknown command; use attach, detach, set, power or state");
}

std::string executeControlCommand (const ControlCommand& command, Simulation& simulation)
{
    using Kind = ControlCommand::Kind;

    switch (command.kind)
    {
        case Kind::attach:
            simulation.attachTarvik();
            return "ok";

        case Kind::detach:
            simulation.detachTarvik();
            return "ok";

        case Kind::state:
            return "ok " + formatControlState (simulation.state());

        case Kind::power:
            simulation.sendPowerMessage (command.powerMessage);
            return "ok";

        case Kind::setVolume:
        case Kind::setMute:
        case Kind::setRate:
            break;
    }

    if (simulation.tarvikAudioObject (command.side) == 0)
        return "error: not attached";

    OSStatus status = 0;
    if (command.kind == Kind::setVolume)
        status = simulation.setVolumeDb (command.side, command.channel, (float) command.value);
    else if (command.kind == Kind::setMute)
        status = simulation.setMute (command.side, command.channel, command.value != 0.0);
    else
        status = simulation.setNominalRate (command.side, command.value);

    if (status != 0)
        return "error: the device refused the change (status " + describeStatus (status) + ")";
    return "ok";
}

std::string runControlLine (std::string_view line, Simulation& simulation)
{
    const auto parsed = parseControlCommand (line);
    if (! parsed.command)
        return "error: " + parsed.error;
    return executeControlCommand (*parsed.command, simulation);
}

std::string formatDecibels (float decibels)
{
    if (decibels == 0.0f)
        return "0"; // not "-0"

    char buffer[64];
    const auto result = std::to_chars (buffer, buffer + sizeof (buffer), decibels, std::chars_format::fixed);
    if (result.ec != std::errc())
        return "nan";
    return std::string (buffer, result.ptr);
}

std::string formatControlState (const TarvikState& s)
{
    const auto rate = [] (double hz) { return std::to_string (std::isfinite (hz) ? std::llround (hz) : 0LL); };
    const auto flag = [] (bool on) { return on ? "1" : "0"; };

    std::string text;
    text += "attached=" + std::string (flag (s.attached));
    text += " in.vol1=" + formatDecibels (s.in[0].volumeDb);
    text += " in.vol2=" + formatDecibels (s.in[1].volumeDb);
    text += " out.vol1=" + formatDecibels (s.out[0].volumeDb);
    text += " out.vol2=" + formatDecibels (s.out[1].volumeDb);
    text += " in.mute1=" + std::string (flag (s.in[0].muted));
    text += " in.mute2=" + std::string (flag (s.in[1].muted));
    text += " out.mute1=" + std::string (flag (s.out[0].muted));
    text += " out.mute2=" + std::string (flag (s.out[1].muted));
    text += " in.rate=" + rate (s.inRate);
    text += " out.rate=" + rate (s.outRate);
    text += " loopback=" + std::to_string (s.loopback);
    text += " transfers=" + std::to_string (s.transfers);
    return text;
}
} // namespace tarvik::sim
