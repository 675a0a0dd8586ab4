#include "app/NativeBoundsRefresh.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <optional>

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

std::optional<juce::Rectangle<int>> readNativeBounds (void* nativeHandle)
{
    const auto window = static_cast<::Window> (reinterpret_cast<std::uintptr_t> (nativeHandle));

    if (window == 0)
        return std::nullopt;

    const std::unique_ptr<Display, int (*) (Display*)> display (XOpenDisplay (nullptr), XCloseDisplay);

    if (display == nullptr)
        return std::nullopt;

    XWindowAttributes attributes {};
    int x = 0, y = 0;
    ::Window child = 0;

    if (XGetWindowAttributes (display.get(), window, &attributes) == 0
        || XTranslateCoordinates (display.get(), window, attributes.root, 0, 0, &x, &y, &child) == 0)
        return std::nullopt;

    return juce::Rectangle<int> (x, y, attributes.width, attributes.height);
}

bool isNativelyMaximised (void* nativeHandle)
{
    const auto window = static_cast<::Window> (reinterpret_cast<std::uintptr_t> (nativeHandle));

    if (window == 0)
        return false;

    const std::unique_ptr<Display, int (*) (Display*)> display (XOpenDisplay (nullptr), XCloseDisplay);

    if (display == nullptr)
        return false;

    const auto vertical = XInternAtom (display.get(), "_NET_WM_STATE_MAXIMIZED_VERT", False);
    const auto horizontal = XInternAtom (display.get(), "_NET_WM_STATE_MAXIMIZED_HORZ", False);

    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;

    if (XGetWindowProperty (display.get(), window, XInternAtom (display.get(), "_NET_WM_STATE", False), 0, 64, False,
                            XA_ATOM, &type, &format, &count, &remaining, &data) != Success)
        return false;

    bool maximised = false;

    if (data != nullptr && type == XA_ATOM && format == 32)
    {
        const auto* atoms = reinterpret_cast<const Atom*> (data);

        for (unsigned long i = 0; i < count; ++i)
            maximised = maximised || atoms[i] == vertical || atoms[i] == horizontal;
    }

    if (data != nullptr)
        XFree (data);

    return maximised;
}
