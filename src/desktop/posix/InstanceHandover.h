#pragma once

#include <functional>
#include <memory>

#include <juce_core/juce_core.h>

/** One running panel per user, and the hand-over of a later launch's command line.

    JUCE's own single-instance check on Linux takes one lock for all users and never
    delivers the later launch's parameters, so the panel does it itself, inside a private
    folder of the user (a real directory of theirs, mode 0700: no other user can even look
    inside):

    - a lock file there tells whether an instance of this user runs; the lock is an flock,
      so it dies with its process;
    - the lock holder listens at once on a Unix-domain socket there, so a later launch
      arriving while it still starts waits in the queue instead of finding nobody;
    - a later launch connects, sends a random command id and its parameter string, and
      waits for a one-byte acknowledgement, trying again until its time is up.

    The running instance acknowledges a command before acting on it, and acts only when the
    acknowledgement went out; an id it has seen before is acknowledged again but not acted
    on, so a later launch that lost the acknowledgement and tries again is acted on once.
    Connections are served side by side, each with a short deadline, so an idle one holds
    up nobody. Accepted strings reach the callback on the message thread.

    Typical use, at the top of initialise():
    @code
    if (handover.isAnotherInstanceRunning())
    {
        const bool taken = handover.sendToRunningInstance (commandLine);
        quit();
        return;
    }
    ... build the window ...
    handover.startServing ([this] (const juce::String& s) { anotherInstanceStarted (s); });
    @endcode

    Create, use and destroy an object on the message thread; a later launch may make its
    sendToRunningInstance() call from a thread of its own.
*/
class InstanceHandover final
{
public:
    /** Receives a later launch's parameter string, on the message thread. */
    using Callback = std::function<void (const juce::String&)>;

    /** The largest parameter string, in UTF-8 bytes, that is handed over. */
    static constexpr int maxParameterBytes = 64 * 1024;

    /** How long a later launch tries in all, waiting for a starting instance included. */
    static constexpr int defaultSendTimeoutMs = 4500;

    /** @param privateFolder  the folder that holds the lock and the socket; it is created
                              with mode 0700 if missing, and refused unless it is a real
                              directory of this user that no one else may enter.
    */
    explicit InstanceHandover (const juce::File& privateFolder = getDefaultFolder());
    ~InstanceHandover();

    /** The first of $XDG_RUNTIME_DIR/tarvik-panel (when the runtime folder is this user's
        and private), /tmp/tarvik-panel-<uid> and ~/.cache/tarvik-panel that passes
        firstPrivateFolder()'s checks; no other user can get first into the last one.
    */
    static juce::File getDefaultFolder();

    /** The first place that is (or can be made) a real folder of this user with mode 0700,
        not a link, whose socket's place holds nothing but a socket or a leftover of this
        user; the last place when none is. Every launch checks alike, so a running panel
        and a later launch agree on the place.
    */
    static juce::File firstPrivateFolder (const juce::Array<juce::File>& places);

    /** Tries to take the per-user lock.

        Returns true when another instance holds it. Returns false when this object now
        holds the lock (it is the running instance from here on: it listens at once, and
        whatever a crashed instance left behind is replaced), and also when the private
        folder is not safe to use, in which case the panel simply runs on its own.
    */
    bool isAnotherInstanceRunning();

    /** Hands the parameter string to the running instance.

        Tries until the timeout is up: while nobody listens yet (the running instance may
        still be starting), and again with the same command id when a try fails. Returns
        true only when the running instance acknowledged the string; false at once for a
        string over maxParameterBytes, or when this object holds the lock itself.
    */
    bool sendToRunningInstance (const juce::String& parameters, int timeoutMilliseconds = defaultSendTimeoutMs);

    /** Starts serving the connections; takes the lock first if this object does not hold
        it yet. Returns false when another instance holds the lock, the folder is not safe,
        or listening failed.
    */
    bool startServing (Callback onParametersReceived);

    /** True while the serving thread runs. */
    bool isServing() const noexcept;

    /** Whether the private folder passed the checks. */
    bool isFolderSafe() const noexcept { return folderIsSafe; }

    /** The private folder, the lock file and the socket. */
    juce::File getFolder() const { return folder; }
    juce::File getLockFile() const { return folder.getChildFile ("instance.lock"); }
    juce::File getSocketFile() const { return folder.getChildFile ("instance.socket"); }

private:
    class Server;
    struct Delivery;

    bool listen();
    void stopListening();

    juce::File folder;
    bool folderIsSafe = false;
    int lockHandle = -1;
    int listenHandle = -1;
    std::shared_ptr<Delivery> delivery;
    std::unique_ptr<Server> server;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (InstanceHandover)
};
