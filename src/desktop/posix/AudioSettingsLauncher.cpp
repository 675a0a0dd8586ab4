#include "desktop/posix/AudioSettingsLauncher.h"

#include "desktop/AudioSettings.h"

#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
struct SettingsTool
{
    const char* program;
    std::vector<const char*> arguments;
};

// The mixer first: it works on any desktop with PulseAudio or PipeWire.
const std::vector<SettingsTool>& settingsTools()
{
    static const std::vector<SettingsTool> tools {
        { "pavucontrol", {} },
        { "pavucontrol-qt", {} },
        { "gnome-control-center", { "sound" } },
    };
    return tools;
}

juce::File findProgram (const juce::String& name, const juce::String& searchPath)
{
    for (const auto& folder : juce::StringArray::fromTokens (searchPath, ":", ""))
    {
        // An empty entry would mean the working folder; never start programs from there.
        if (! juce::File::isAbsolutePath (folder))
            continue;

        const auto candidate = juce::File (folder).getChildFile (name);

        if (candidate.existsAsFile() && ::access (candidate.getFullPathName().toRawUTF8(), X_OK) == 0)
            return candidate;
    }

    return {};
}

desktop::AudioSettingsLauncher& currentLauncher()
{
    static desktop::AudioSettingsLauncher launcher;
    return launcher;
}

void closeBoth (int (&fds)[2])
{
    ::close (fds[0]);
    ::close (fds[1]);
}
} // namespace

bool startDetachedProgram (const juce::File& program, const juce::StringArray& arguments)
{
    // Everything the children need is prepared here: between fork and exec only
    // async-signal-safe calls are allowed.
    std::vector<std::string> words { program.getFullPathName().toStdString() };

    for (const auto& argument : arguments)
        words.push_back (argument.toStdString());

    std::vector<char*> argv;

    for (auto& word : words)
        argv.push_back (word.data());

    argv.push_back (nullptr);

    // Closed by a successful exec; carries errno back when the exec fails.
    int report[2];

    if (::pipe2 (report, O_CLOEXEC) != 0)
        return false;

    const pid_t child = ::fork();

    if (child < 0)
    {
        closeBoth (report);
        return false;
    }

    if (child == 0)
    {
        ::close (report[0]);
        ::setsid();

        // The tool is the grandchild, so it is nobody's zombie once it ends.
        const pid_t grandchild = ::fork();

        if (grandchild != 0)
        {
            if (grandchild < 0)
            {
                const int error = errno;
                [[maybe_unused]] const auto written = ::write (report[1], &error, sizeof (error));
            }

            ::_exit (grandchild < 0 ? 1 : 0);
        }

        // The panel's own descriptors (X connection, settings, device) stay with the panel.
        ::close_range (3, ~0u, CLOSE_RANGE_CLOEXEC);

        const int devNull = ::open ("/dev/null", O_RDWR);

        if (devNull >= 0)
        {
            ::dup2 (devNull, 0);
            ::dup2 (devNull, 1);
            ::dup2 (devNull, 2);
        }

        ::execv (argv[0], argv.data());

        const int error = errno;
        [[maybe_unused]] const auto written = ::write (report[1], &error, sizeof (error));
        ::_exit (127);
    }

    ::close (report[1]);

    int status = 0;

    while (::waitpid (child, &status, 0) < 0 && errno == EINTR)
    {
    }

    int error = 0;
    ssize_t received;

    while ((received = ::read (report[0], &error, sizeof (error))) < 0 && errno == EINTR)
    {
    }

    ::close (report[0]);

    return WIFEXITED (status) && WEXITSTATUS (status) == 0 && received == 0;
}

bool launchDesktopAudioSettings (const juce::String& searchPath)
{
    for (const auto& tool : settingsTools())
    {
        const auto program = findProgram (tool.program, searchPath);

        if (program == juce::File())
            continue;

        juce::StringArray arguments;

        for (const auto* argument : tool.arguments)
            arguments.add (argument);

        if (startDetachedProgram (program, arguments))
            return true;
    }

    return false;
}

void desktop::setAudioSettingsLauncher (AudioSettingsLauncher launcher)
{
    currentLauncher() = std::move (launcher);
}

bool desktop::launchAudioSettings()
{
    if (const auto& launcher = currentLauncher())
        return launcher();

    return launchDesktopAudioSettings (juce::SystemStats::getEnvironmentVariable ("PATH", {}));
}
