#include "app/NativeBoundsRefresh.h"

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>

bool refreshNativeBounds (void* nativeHandle)
{
    const auto window = static_cast<::Window> (reinterpret_cast<std::uintptr_t> (nativeHandle));

    if (window == 0)
        return false;

    // A connection of our own: JUCE's is not ours to share, and this is called seldom.
    const std::unique_ptr<Display, int (*) (Display*)> display (XOpenDisplay (nullptr), XCloseDisplay);

    if (display == nullptr)
        return false;

    XEvent event {};
    event.xconfigure.type = ConfigureNotify;
    event.xconfigure.send_event = True;
    event.xconfigure.display = display.get();
    event.xconfigure.event = window;
    event.xconfigure.window = window;
    event.xconfigure.above = 0; // no restacking to report

    // An empty event mask sends the event to the client that made the window, JUCE, and to no
    // one else: the window manager is not told of a change that did not happen.
    const auto sent = XSendEvent (display.get(), window, False, 0, &event) != 0;
    XFlush (display.get());
    return sent;
}
