#include "app/WindowOnTop.h"

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>

namespace
{
const juce::Identifier onTopProperty ("tarvikKeptOnTop");

/** Asks the window manager to add or remove _NET_WM_STATE_ABOVE on a mapped window. */
void sendAboveState (::Window window, bool above)
{
    const std::unique_ptr<Display, int (*) (Display*)> display (XOpenDisplay (nullptr), XCloseDisplay);

    if (display == nullptr)
        return;

    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.display = display.get();
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom (display.get(), "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = above ? 1 : 0; // add or remove
    event.xclient.data.l[1] = (long) XInternAtom (display.get(), "_NET_WM_STATE_ABOVE", False);
    event.xclient.data.l[2] = 0;
    event.xclient.data.l[3] = 1; // from an application

    XSendEvent (display.get(), DefaultRootWindow (display.get()), False,
                SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush (display.get());
}
} // namespace

bool isKeptOnTop (const juce::Component& window)
{
    if (const auto* kept = window.getProperties().getVarPointer (onTopProperty))
        return (bool) *kept;

    return window.isAlwaysOnTop();
}

void setKeptOnTop (juce::Component& window, bool onTop)
{
    auto* peer = window.getPeer();

    // Without a native window there is nothing to make afresh: JUCE's own switch serves.
    if (peer == nullptr)
    {
        window.getProperties().remove (onTopProperty);
        window.setAlwaysOnTop (onTop);
        return;
    }

    sendAboveState (static_cast<::Window> (reinterpret_cast<std::uintptr_t> (peer->getNativeHandle())), onTop);
    window.getProperties().set (onTopProperty, onTop);
}
