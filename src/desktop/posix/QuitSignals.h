#pragma once

#include <functional>

/** Turns SIGTERM, SIGHUP and SIGINT into a quit request on the message thread.

    A logout, a shutdown or `kill` end a program with SIGTERM (SIGHUP when its terminal
    goes); left to the default action the panel would die without storing its window or
    its pending settings. The handler only writes a byte to a pipe that the message loop
    watches, since nothing else is safe inside a signal handler; the callback then runs on
    the message thread, where quitting the normal way is allowed.

    The handlers are installed by catchFromStart(), the first thing the program does, and
    stay until the process ends: a desktop session or service manager may send a second
    signal while the panel is still storing and ending, and one may come before the
    message loop exists. A signal that arrives before an object exists waits in the pipe
    and is taken as soon as one does; one that arrives after the first request, or once the
    object has gone, finds the program quitting already and is ignored.

    JUCE's own SIGINT handling only sets a flag that its loop polls; SIGINT goes through
    here too, so every signal takes the same way out.

    One object at a time; create and destroy it on the message thread, while the message
    loop exists.
*/
class QuitSignals final
{
public:
    /** Catches the signals from now until the process ends. Call it before any thread
        starts; later calls change nothing.
    */
    static void catchFromStart();

    explicit QuitSignals (std::function<void()> onQuitRequested);
    ~QuitSignals();

    QuitSignals (const QuitSignals&) = delete;
    QuitSignals& operator= (const QuitSignals&) = delete;

private:
    void drain();

    std::function<void()> callback;
    bool watching = false;
    bool requested = false;
};
