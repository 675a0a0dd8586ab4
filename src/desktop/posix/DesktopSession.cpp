// The program's life on a Linux desktop: the per-user hand-over, the X display, the quit
// signals, and the simulated interface that this build runs with.

#include "desktop/DesktopSession.h"

#include "desktop/posix/InstanceHandover.h"
#include "desktop/posix/QuitSignals.h"
#include "desktop/x11/DisplayCheck.h"
#include "simulation/SimControlSocket.h"
#include "simulation/TarvikSimulation.h"

#include <iostream>
#include <thread>

#include <juce_events/juce_events.h>

namespace desktop
{
namespace
{
void endLaunch (int exitCode)
{
    if (auto* application = juce::JUCEApplicationBase::getInstance())
        application->setApplicationReturnValue (exitCode);

    juce::MessageManager::getInstance()->stopDispatchLoop();
}
} // namespace

struct DesktopSession::Impl
{
    std::unique_ptr<QuitSignals> quitSignals;
    std::unique_ptr<tarvik::sim::SimControlSocket> controlSocket;
    std::unique_ptr<InstanceHandover> handover;
    std::thread sender;
    bool run = false;
};

DesktopSession::DesktopSession (const juce::String& applicationName, const juce::String& commandLine,
                                bool onlyToHandOver, Hooks hooks)
    : impl (std::make_unique<Impl>())
{
    // JUCE's own check here takes one lock for all users and never hands the later
    // launch's command line over; InstanceHandover does both, per user.
    auto handover = std::make_unique<InstanceHandover>();

    if (handover->isAnotherInstanceRunning())
    {
        // The running panel may still be starting: the tries go on beside the message loop,
        // which ends the launch once they are over.
        impl->handover = std::move (handover);
        impl->sender = std::thread ([sending = impl->handover.get(), commandLine, applicationName] {
            const bool taken = sending->sendToRunningInstance (commandLine);

            if (! taken)
                std::cerr << applicationName << ": the running panel did not take the command line" << std::endl;

            juce::MessageManager::callAsync ([taken] { endLaunch (taken ? 0 : 1); });
        });
        return;
    }

    if (onlyToHandOver)
    {
        endLaunch (0);
        return;
    }

    if (const auto noDisplay = x11::unopenableDisplayMessage (applicationName))
    {
        std::cerr << *noDisplay << "\n" << std::flush;
        endLaunch (1);
        return;
    }

    // A logout or kill ends the panel the way a quit from the system does.
    impl->quitSignals = std::make_unique<QuitSignals> (std::move (hooks.quitRequested));

    // Other programs (and the end-to-end tests) attach, detach and change the simulated
    // interface through this socket while the panel runs.
    impl->controlSocket = tarvik::sim::startControlSocketFromEnvironment();
    tarvik::sim::Simulation::get().startFromEnvironment();

    // Commands handed over reach the message loop, which runs once the window is built.
    handover->startServing (std::move (hooks.laterLaunch));
    impl->handover = std::move (handover);
    impl->run = true;
}

DesktopSession::~DesktopSession()
{
    if (impl->sender.joinable())
        impl->sender.join();

    impl->handover.reset();
    impl->controlSocket.reset();
    impl->quitSignals.reset();
}

bool DesktopSession::shouldRun() const noexcept { return impl->run; }
bool DesktopSession::usesFrameworkInstanceCheck() noexcept { return false; }
} // namespace desktop
