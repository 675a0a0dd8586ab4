#include "desktop/x11/ServerBounds.h"

#include "desktop/x11/XConnection.h"

namespace desktop::x11
{
bool refreshNativeBounds (const juce::ComponentPeer& peer)
{
    auto* x = XConnection::get();
    const auto window = nativeWindowOf (peer);

    if (x == nullptr || window == 0)
        return false;

    XEvent event {};
    event.xconfigure.type = ConfigureNotify;
    event.xconfigure.send_event = True;
    event.xconfigure.display = x->display();
    event.xconfigure.event = window;
    event.xconfigure.window = window;
    event.xconfigure.above = 0; // no restacking to report

    // An empty event mask sends the event to the client that made the window, JUCE, and to no
    // one else: the window manager is not told of a change that did not happen.
    const auto sent = XSendEvent (x->display(), window, False, 0, &event) != 0;
    x->flush();
    return sent;
}

std::optional<juce::Rectangle<int>> readNativeBounds (const juce::ComponentPeer& peer)
{
    auto* x = XConnection::get();
    const auto window = nativeWindowOf (peer);

    if (x == nullptr || window == 0)
        return std::nullopt;

    XWindowAttributes attributes {};
    int left = 0, top = 0;
    ::Window child = 0;

    if (XGetWindowAttributes (x->display(), window, &attributes) == 0
        || XTranslateCoordinates (x->display(), window, attributes.root, 0, 0, &left, &top, &child) == 0)
        return std::nullopt;

    return juce::Rectangle<int> (left, top, attributes.width, attributes.height);
}

bool isViewable (const juce::ComponentPeer& peer)
{
    auto* x = XConnection::get();
    const auto window = nativeWindowOf (peer);
    XWindowAttributes attributes {};

    return x != nullptr && window != 0 && XGetWindowAttributes (x->display(), window, &attributes) != 0
        && attributes.map_state == IsViewable;
}

bool isNativelyMaximised (const juce::ComponentPeer& peer)
{
    auto* x = XConnection::get();
    const auto window = nativeWindowOf (peer);

    return x != nullptr && window != 0
        && x->hasState (window, { "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ" });
}
} // namespace desktop::x11
