// The program's life on a Linux desktop: the per-user hand-over, the X display, the quit
// signals, and the simulated interface that this build runs with.

#include "desktop/DesktopSession.h"

#include "desktop/posix/InstanceHandover.h"
#include "desktop/posix/QuitSignals.h"
#include "desktop/x11/DisplayCheck.h"
#include "simulation/SimControlSocket.h"
#include "simulation/TarvikSimulation.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <vector>

#include <pwd.h>
#include <unistd.h>

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

/** JUCE takes $HOME as it stands: a relative one puts the settings under the working
    folder (and trips its assertions), an empty one at the root. Either counts as unset,
    and the home comes from the user database, as JUCE takes it when HOME is missing.
*/
void useAbsoluteHome()
{
    const char* home = std::getenv ("HOME");

    if (home != nullptr && home[0] == '/')
        return;

    const auto suggested = ::sysconf (_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer (suggested > 0 ? (size_t) suggested : 16384);
    passwd entry {};
    passwd* found = nullptr;
    int error;

    while ((error = ::getpwuid_r (::getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE
           && buffer.size() < 1024 * 1024)
        buffer.resize (buffer.size() * 2);

    if (error == 0 && found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        ::setenv ("HOME", found->pw_dir, 1);
    else
        ::unsetenv ("HOME");
}
} // namespace

void DesktopSession::startOfProgram()
{
    // Before anything else, so that no moment of the start is left to the default action.
    QuitSignals::catchFromStart();

    // Still one thread: changing the environment is safe only now.
    useAbsoluteHome();
}

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
    // A logout or kill ends the panel the way a quit from the system does, and a launch
    // that only hands over as well. Caught since the start, a signal that came while the
    // program started is taken now.
    impl->quitSignals = std::make_unique<QuitSignals> (std::move (hooks.quitRequested));

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
