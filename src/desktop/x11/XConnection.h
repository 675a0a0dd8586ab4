#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

namespace desktop::x11
{
/** The program's one connection of its own to the X server, beside JUCE's (which is not
    ours to share): for what JUCE 7.0.5 does not do right under a window manager.

    Opened once, on the message thread, at the first call of get(), at the display JUCE
    uses; absent when no server answers there. Atoms are interned once. One watch of the
    connection hands the events of a window to whoever subscribed to them.
*/
class XConnection final : private juce::AsyncUpdater,
                          public juce::DeletedAtShutdown
{
public:
    /** The connection, or nullptr when the display does not open. */
    static XConnection* get();

    /** The display JUCE opens: $DISPLAY, or ":0.0" when that is unset or empty. */
    static juce::String displayName();

    Display* display() const noexcept { return connection; }

    Atom atom (const char* name);

    /** A property of 32-bit items as the server holds it now (Xlib hands them over as
        longs); nothing when it is missing or of another type or format.
    */
    std::optional<std::vector<unsigned long>> property (::Window window, const char* name, Atom type);

    /** Whether the window's _NET_WM_STATE holds any of the named states. */
    bool hasState (::Window window, std::initializer_list<const char*> states);

    /** Sends a client message about a window to the root window, where the window
        manager listens (as the EWMH asks for state changes and requests).
    */
    void sendToWindowManager (::Window window, const char* messageType, std::array<long, 5> data);

    /** Called with each event of the window that the mask selects, on the message thread. */
    using EventHandler = std::function<void (const XEvent&)>;

    /** Returns a token for unsubscribe(). */
    int subscribe (::Window window, long eventMask, EventHandler handler);
    void unsubscribe (int token);

    void flush();

    ~XConnection() override;

    JUCE_DECLARE_SINGLETON_SINGLETHREADED (XConnection, false)

private:
    XConnection();

    void handleAsyncUpdate() override;
    void readEvents();
    void selectEvents (::Window window);
    void readSoonIfQueued();

    struct Subscription
    {
        ::Window window;
        long mask;
        EventHandler handler;
    };

    Display* connection = nullptr;
    int fd = -1;
    std::map<std::string, Atom> atoms;
    std::map<int, Subscription> subscriptions;
    int nextToken = 1;

    JUCE_DECLARE_NON_COPYABLE (XConnection)
};

/** The X window of a top-level component's peer (0 without one). */
::Window nativeWindowOf (const juce::ComponentPeer& peer);
} // namespace desktop::x11
