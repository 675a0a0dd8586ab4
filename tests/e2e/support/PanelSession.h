#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Desktop.h"
#include "SimClient.h"

namespace tarvik::e2e
{
/** The real program on a private desktop, with a fresh home folder and its simulation's socket. */
class PanelSession final
{
public:
    /** Artifacts (screenshots, program output) go to a folder named after the test. */
    explicit PanelSession (const std::string& testName);
    ~PanelSession();

    bool startDesktop();

    /** Starts an instance of the program; returns it (running or already ended). */
    ChildProcess& launch (const std::vector<std::string>& arguments = {}, bool attached = true);

    /** Waits for the main window; returns its id. */
    std::optional<unsigned long> waitForMainWindow (int timeoutMilliseconds = 15000);

    /** The simulation of the instance launched last (connects on first use). */
    SimClient& sim();

    /** The simulation of one instance: later launches that hand over and end have none left. */
    SimClient& simOf (size_t instance);

    ChildProcess& instance (size_t index) { return *instances.at (index); }
    size_t instanceCount() const noexcept { return instances.size(); }

    /** Processes of the program that run with this session's home folder. */
    int runningPrograms() const;

    /** Every live process with this session's home folder: the programs and what they started. */
    std::vector<test::ProcessInfo> processesOfTheSession() const;

    Desktop& desktop() noexcept { return screen; }
    std::string settingsFile() const;
    std::string settingsText() const;
    std::string homeFolder() const { return home; }
    std::string stderrOf (size_t instance) const;
    std::string stdoutOf (size_t instance) const;

    /** Saves a screenshot as <step>.png in the artifacts folder and returns it. */
    juce::Image snapshot (const std::string& step);

    /** Panel client bounds on the screen. */
    juce::Rectangle<int> panelBounds();

    std::string artifactsFolder() const { return artifacts; }

private:
    Desktop screen;
    std::string home, artifacts;
    std::vector<std::unique_ptr<ChildProcess>> instances;
    std::unique_ptr<SimClient> client;
    size_t clientInstance = 0;
    std::optional<unsigned long> mainWindow;
    int stepCounter = 0;
};

/** Polls the condition for up to the timeout (scaled by timeoutScale()); returns it. */
bool eventually (const std::function<bool()>& condition, int timeoutMilliseconds = 3000);

inline constexpr const char* mainWindowTitle = "Tarvik Panel v1.2.0.0";
} // namespace tarvik::e2e
