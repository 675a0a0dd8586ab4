#include "desktop/x11/XConnection.h"

#include <X11/Xatom.h>

#include <cstdint>

#include <juce_gui_basics/juce_gui_basics.h>

namespace desktop::x11
{
JUCE_IMPLEMENT_SINGLETON (XConnection)

XConnection* XConnection::get()
{
    JUCE_ASSERT_MESSAGE_THREAD

    // An attempt that found no display is not repeated: the instance stays, unconnected.
    auto* instance = getInstance();
    return instance->connection != nullptr ? instance : nullptr;
}

juce::String XConnection::displayName()
{
    const auto variable = juce::SystemStats::getEnvironmentVariable ("DISPLAY", {});
    return variable.isEmpty() ? juce::String (":0.0") : variable;
}

XConnection::XConnection()
    : connection (XOpenDisplay (displayName().toRawUTF8()))
{
    if (connection == nullptr)
        return;

    fd = ConnectionNumber (connection);
    juce::LinuxEventLoop::registerFdCallback (fd, [this] (int) { readEvents(); });
}

XConnection::~XConnection()
{
    cancelPendingUpdate();
    clearSingletonInstance();

    if (connection == nullptr)
        return;

    juce::LinuxEventLoop::unregisterFdCallback (fd);

    // JUCE may have put Xlib's default error handler back by now, which ends the process on
    // any error: one about a window that went before us must not do that here.
    const auto previousHandler = XSetErrorHandler ([] (Display*, XErrorEvent*) { return 0; });
    XSync (connection, True);
    XCloseDisplay (connection);
    XSetErrorHandler (previousHandler);
}

Atom XConnection::atom (const char* name)
{
    const auto found = atoms.find (name);

    if (found != atoms.end())
        return found->second;

    const auto interned = XInternAtom (connection, name, False);
    atoms.emplace (name, interned);
    return interned;
}

std::optional<std::vector<unsigned long>> XConnection::property (::Window window, const char* name, Atom type)
{
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<std::vector<unsigned long>> items;

    if (XGetWindowProperty (connection, window, atom (name), 0, 4096, False, type,
                            &actualType, &format, &count, &after, &data) == Success
        && data != nullptr && actualType == type && format == 32)
    {
        const auto* values = reinterpret_cast<const unsigned long*> (data);
        items.emplace (values, values + count);
    }

    if (data != nullptr)
        XFree (data);

    readSoonIfQueued();
    return items;
}

bool XConnection::hasState (::Window window, std::initializer_list<const char*> states)
{
    const auto held = property (window, "_NET_WM_STATE", XA_ATOM);

    if (! held)
        return false;

    for (const auto* state : states)
        for (const auto item : *held)
            if (item == atom (state))
                return true;

    return false;
}

void XConnection::sendToWindowManager (::Window window, const char* messageType, std::array<long, 5> data)
{
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.display = connection;
    event.xclient.window = window;
    event.xclient.message_type = atom (messageType);
    event.xclient.format = 32;

    for (size_t i = 0; i < data.size(); ++i)
        event.xclient.data.l[i] = data[i];

    XSendEvent (connection, DefaultRootWindow (connection), False,
                SubstructureRedirectMask | SubstructureNotifyMask, &event);
    flush();
}

int XConnection::subscribe (::Window window, long eventMask, EventHandler handler)
{
    const auto token = nextToken++;
    subscriptions[token] = { window, eventMask, std::move (handler) };
    selectEvents (window);
    flush();
    return token;
}

void XConnection::unsubscribe (int token)
{
    const auto found = subscriptions.find (token);

    if (found == subscriptions.end())
        return;

    const auto window = found->second.window;
    subscriptions.erase (found);

    // A window nobody watches any more may be gone already (JUCE makes some afresh): asking
    // the server to deselect it would be an error. Its events are dropped here instead.
    for (const auto& [other, subscription] : subscriptions)
    {
        if (subscription.window == window)
        {
            selectEvents (window);
            flush();
            return;
        }
    }
}

void XConnection::selectEvents (::Window window)
{
    long mask = 0;

    for (const auto& [token, subscription] : subscriptions)
        if (subscription.window == window)
            mask |= subscription.mask;

    XSelectInput (connection, window, mask);
}

void XConnection::flush()
{
    XFlush (connection);
    readSoonIfQueued();
}

// A round trip may bring events into Xlib's queue without the socket becoming readable
// again: read them on the next turn of the loop.
void XConnection::readSoonIfQueued()
{
    if (XEventsQueued (connection, QueuedAlready) > 0)
        triggerAsyncUpdate();
}

void XConnection::handleAsyncUpdate()
{
    readEvents();
}

void XConnection::readEvents()
{
    // Only what has arrived so far: handlers make requests whose answers bring more events,
    // and JUCE's own events must get their turn in between.
    for (auto count = XPending (connection); count > 0; --count)
    {
        XEvent event;
        XNextEvent (connection, &event);

        // A handler may subscribe or unsubscribe: pick the receivers first.
        std::vector<int> receivers;

        for (const auto& [token, subscription] : subscriptions)
            if (subscription.window == event.xany.window)
                receivers.push_back (token);

        for (const auto token : receivers)
        {
            const auto found = subscriptions.find (token);

            if (found != subscriptions.end())
            {
                const auto handler = found->second.handler;
                handler (event);
            }
        }
    }

    readSoonIfQueued();
}

::Window nativeWindowOf (const juce::ComponentPeer& peer)
{
    return static_cast<::Window> (reinterpret_cast<std::uintptr_t> (peer.getNativeHandle()));
}
} // namespace desktop::x11
