#include "desktop/posix/QuitSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

#include <juce_events/juce_events.h>

namespace
{
constexpr int quitSignals[] { SIGTERM, SIGHUP, SIGINT };

std::atomic<int> signalWriteEnd { -1 };
int signalReadEnd = -1;

void onQuitSignal (int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = (unsigned char) signalNumber;

    // A full pipe already holds a request; nothing is lost by dropping this one.
    if (const int fd = signalWriteEnd.load(); fd >= 0)
    {
        [[maybe_unused]] const auto written = ::write (fd, &byte, 1);
    }

    errno = savedErrno;
}

void installHandlers()
{
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;

    for (const auto number : quitSignals)
        ::sigaction (number, &action, nullptr);
}
} // namespace

void QuitSignals::catchFromStart()
{
    if (signalReadEnd >= 0)
        return;

    int ends[2] { -1, -1 };

    if (::pipe2 (ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;

    // Both ends stay open until the process ends, like the handlers.
    signalReadEnd = ends[0];
    signalWriteEnd = ends[1];
    installHandlers();
}

QuitSignals::QuitSignals (std::function<void()> onQuitRequested)
    : callback (std::move (onQuitRequested))
{
    catchFromStart();

    if (signalReadEnd < 0)
        return;

    // JUCE's message manager put its own SIGINT handler in when it started.
    installHandlers();

    juce::LinuxEventLoop::registerFdCallback (signalReadEnd, [this] (int) { drain(); });
    watching = true;
}

QuitSignals::~QuitSignals()
{
    if (watching)
        juce::LinuxEventLoop::unregisterFdCallback (signalReadEnd);
}

void QuitSignals::drain()
{
    unsigned char bytes[64];
    bool received = false;

    while (::read (signalReadEnd, bytes, sizeof (bytes)) > 0)
        received = true;

    if (received && ! std::exchange (requested, true) && callback != nullptr)
        callback();
}
