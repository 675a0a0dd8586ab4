#include "desktop/posix/QuitSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

#include <juce_events/juce_events.h>

namespace
{
constexpr int quitSignals[] { SIGTERM, SIGHUP, SIGINT };

std::atomic<int> signalWriteEnd { -1 };
struct sigaction previousActions[std::size (quitSignals)];

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
} // namespace

QuitSignals::QuitSignals (std::function<void()> onQuitRequested)
    : callback (std::move (onQuitRequested))
{
    jassert (signalWriteEnd.load() < 0);

    int ends[2] { -1, -1 };

    if (::pipe2 (ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;

    readEnd = ends[0];
    signalWriteEnd = ends[1];

    juce::LinuxEventLoop::registerFdCallback (readEnd, [this] (int) { drain(); });

    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;

    for (size_t i = 0; i < std::size (quitSignals); ++i)
        ::sigaction (quitSignals[i], &action, &previousActions[i]);
}

QuitSignals::~QuitSignals()
{
    if (readEnd < 0)
        return;

    for (size_t i = 0; i < std::size (quitSignals); ++i)
        ::sigaction (quitSignals[i], &previousActions[i], nullptr);

    juce::LinuxEventLoop::unregisterFdCallback (readEnd);

    const int writeEnd = signalWriteEnd.exchange (-1);
    ::close (writeEnd);
    ::close (readEnd);
}

void QuitSignals::drain()
{
    unsigned char bytes[64];
    bool requested = false;

    while (::read (readEnd, bytes, sizeof (bytes)) > 0)
        requested = true;

    if (requested && callback != nullptr)
        callback();
}
