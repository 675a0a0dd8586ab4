#pragma once

#include <functional>

/** Turns SIGTERM, SIGHUP and SIGINT into a quit request on the message thread.

    A logout, a shutdown or `kill` end a program with SIGTERM (SIGHUP when its terminal
    goes); left to the default action the panel would die without storing its window or
    its pending settings. The handler only writes a byte to a pipe that the message loop
    watches, since nothing else is safe inside a signal handler; the callback then runs on
    the message thread, where quitting the normal way is allowed.

    JUCE's own SIGINT handling only sets a flag that its loop polls; SIGINT goes through
    here too, so every signal takes the same way out.

    One object at a time; create and destroy it on the message thread, while the message
    loop exists. The previous signal actions come back when it is destroyed.
*/
class QuitSignals final
{
public:
    explicit QuitSignals (std::function<void()> onQuitRequested);
    ~QuitSignals();

    QuitSignals (const QuitSignals&) = delete;
    QuitSignals& operator= (const QuitSignals&) = delete;

private:
    void drain();

    std::function<void()> callback;
    int readEnd = -1;
};
