#pragma once

#include <functional>
#include <memory>

#include <juce_core/juce_core.h>

/** One running panel per user, and the hand-over of a later launch's command line.

    JUCE's own single-instance check on Linux takes one lock for all users and never
    delivers the later launch's parameters, so the panel does it itself:

    - a lock file in a private folder of the user (mode 0700) tells whether an instance
      of this user runs; the lock is an flock, so it dies with its process;
    - the running instance listens on 127.0.0.1 at a port the system picks and publishes
      the port and a random token in a file only the user can read (mode 0600);
    - a later launch reads that file, connects, sends the token and its parameter string,
      and waits for a one-byte acknowledgement.

    The running instance checks the token before it reads the parameters, caps their size,
    and gives each connection a short deadline, on a thread of its own; accepted strings
    reach the callback on the message thread.

    Typical use, at the top of initialise():
    @code
    if (handover.isAnotherInstanceRunning())
    {
        handover.sendToRunningInstance (commandLine);
        quit();
        return;
    }
    handover.startServing ([this] (const juce::String& s) { anotherInstanceStarted (s); });
    @endcode

    Create, use and destroy an object on the message thread.
*/
class InstanceHandover final
{
public:
    /** Receives a later launch's parameter string, on the message thread. */
    using Callback = std::function<void (const juce::String&)>;

    /** The largest parameter string, in UTF-8 bytes, that is handed over. */
    static constexpr int maxParameterBytes = 64 * 1024;

    /** @param privateFolder  the folder that holds the lock and the published address; it is
                              created with mode 0700 if missing. Tests pass a temporary folder.
    */
    explicit InstanceHandover (const juce::File& privateFolder = getDefaultFolder());
    ~InstanceHandover();

    /** $XDG_RUNTIME_DIR/tarvik-panel when the runtime folder is usable,
        otherwise /tmp/tarvik-panel-<uid>.
    */
    static juce::File getDefaultFolder();

    /** Tries to take the per-user lock.

        Returns true when another instance holds it. Returns false when this object now
        holds the lock (it is the running instance from here on, and any address a crashed
        instance left behind is removed), and also when the private folder is not safe to
        use, in which case the panel simply runs on its own.
    */
    bool isAnotherInstanceRunning();

    /** Hands the parameter string to the running instance.

        Tries up to `attempts` times, pausing between tries, while nothing answers yet (the
        running instance may still be starting and not have published its address). Returns
        true only when the running instance acknowledged the string; false at once for a
        string over maxParameterBytes, or when this object holds the lock itself.
    */
    bool sendToRunningInstance (const juce::String& parameters, int attempts = 20, int pauseMilliseconds = 100);

    /** Starts listening and publishes the address; takes the lock first if this object
        does not hold it yet. Returns false when another instance holds the lock, the
        folder is not safe, or listening or publishing failed.
    */
    bool startServing (Callback onParametersReceived);

    /** True while the listening thread runs. */
    bool isServing() const noexcept;

    /** The private folder, the lock file and the published address file. */
    juce::File getFolder() const { return folder; }
    juce::File getLockFile() const { return folder.getChildFile ("instance.lock"); }
    juce::File getAddressFile() const { return folder.getChildFile ("instance.address"); }

private:
    class Server;
    struct Delivery;

    bool takeLock();
    void removeOwnAddressFile();

    juce::File folder;
    bool folderIsSafe = false;
    int lockHandle = -1;
    juce::String publishedText;
    std::shared_ptr<Delivery> delivery;
    std::unique_ptr<Server> server;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (InstanceHandover)
};
