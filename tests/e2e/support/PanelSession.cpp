#include "PanelSession.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "support/Timing.h"

namespace tarvik::e2e
{
namespace fs = std::filesystem;

bool eventually (const std::function<bool()>& condition, int timeoutMilliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (test::scaled (timeoutMilliseconds));
    while (! condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }
    return true;
}

PanelSession::PanelSession (const std::string& testName)
{
    char pattern[] = "/tmp/tarvik-e2e-home.XXXXXX";
    home = mkdtemp (pattern);
    fs::create_directories (home + "/run");
    fs::permissions (home + "/run", fs::perms::owner_all, fs::perm_options::replace);

    artifacts = std::string (TARVIK_E2E_ARTIFACTS) + "/" + testName;
    fs::remove_all (artifacts);
    fs::create_directories (artifacts);
}

PanelSession::~PanelSession()
{
    client.reset();
    // Leave the program and the desktop in the order a session ends.
    for (auto& p : instances)
        p->stop();

    // Whatever the programs started (with the session's home) goes with them.
    const auto left = test::processesLeftAfter ([this] { return processesOfTheSession(); });
    const auto killed = test::killWithTheirGroups (left);
    EXPECT_TRUE (left.empty()) << "processes outlived the session:\n" << killed;

    std::error_code ignored;
    fs::remove_all (home, ignored);
}

bool PanelSession::startDesktop()
{
    return screen.start();
}

ChildProcess& PanelSession::launch (const std::vector<std::string>& arguments, bool attached)
{
    ChildProcess::Options options;
    auto& env = options.environment = screen.environment();
    env["HOME"] = home;
    env["XDG_CONFIG_HOME"] = home + "/.config";
    env["XDG_RUNTIME_DIR"] = home + "/run";
    env["TARVIK_SIM_SOCKET"] = home + "/sim-" + std::to_string (instances.size()) + ".sock";
    env["TARVIK_SIM_ATTACHED"] = attached ? "1" : "0";

    options.arguments = { TARVIK_PANEL_BINARY };
    options.arguments.insert (options.arguments.end(), arguments.begin(), arguments.end());

    const auto index = std::to_string (instances.size());
    options.standardOutput = artifacts + "/stdout-" + index + ".txt";
    options.standardError = artifacts + "/stderr-" + index + ".txt";
    // The panel is asked to end first, as a session logging out would ask it.
    options.terminateGraceMilliseconds = 2000;
    auto process = std::make_unique<ChildProcess>();
    process->start (options);
    instances.push_back (std::move (process));
    return *instances.back();
}

std::optional<unsigned long> PanelSession::waitForMainWindow (int timeoutMilliseconds)
{
    eventually ([this] {
        mainWindow = screen.findWindow (mainWindowTitle);
        return mainWindow.has_value();
    }, timeoutMilliseconds);
    return mainWindow;
}

SimClient& PanelSession::sim()
{
    return simOf (instances.empty() ? 0 : instances.size() - 1);
}

SimClient& PanelSession::simOf (size_t instance)
{
    if (client == nullptr || clientInstance != instance)
    {
        client = std::make_unique<SimClient>();
        clientInstance = instance;
        client->connect (home + "/sim-" + std::to_string (instance) + ".sock");
    }
    return *client;
}

std::vector<test::ProcessInfo> PanelSession::processesOfTheSession() const
{
    return test::processesWithEnvironment ("HOME=" + home);
}

int PanelSession::runningPrograms() const
{
    // Ours: started as the program, with this session's home folder.
    const std::string binary = TARVIK_PANEL_BINARY;
    int count = 0;
    for (const auto& p : processesOfTheSession())
        if (p.commandLine.compare (0, binary.size() + 1, binary + " ") == 0)
            ++count;
    return count;
}

std::string PanelSession::settingsFile() const
{
    return home + "/.config/Tarvik Panel/Tarvik Panel.settings";
}

std::string PanelSession::settingsText() const
{
    return readFile (settingsFile());
}

std::string PanelSession::stderrOf (size_t instance) const
{
    return readFile (artifacts + "/stderr-" + std::to_string (instance) + ".txt");
}

std::string PanelSession::stdoutOf (size_t instance) const
{
    return readFile (artifacts + "/stdout-" + std::to_string (instance) + ".txt");
}

juce::Image PanelSession::snapshot (const std::string& step)
{
    const auto image = screen.screenshot();
    char prefix[8];
    std::snprintf (prefix, sizeof (prefix), "%02d-", ++stepCounter);
    juce::File file (artifacts + "/" + prefix + step + ".png");
    file.deleteFile();
    if (auto stream = file.createOutputStream())
        juce::PNGImageFormat().writeImageToStream (image, *stream);
    return image;
}

juce::Rectangle<int> PanelSession::panelBounds()
{
    // Looked up afresh each time: the program replaces its native window while it sets
    // the window up.
    mainWindow = screen.findWindow (mainWindowTitle);
    return mainWindow ? screen.clientBounds (*mainWindow) : juce::Rectangle<int>();
}
} // namespace tarvik::e2e
