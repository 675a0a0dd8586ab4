#include "app/NativeBoundsRefresh.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace
{
/** Runs the question on a connection of our own (JUCE's is not ours to share, and these are
    asked seldom) with the window; the fallback where there is no display or no window.
*/
template <typename Result, typename Question>
Result askServer (void* nativeHandle, Result fallback, Question&& question)
{
    const auto window = static_cast<::Window> (reinterpret_cast<std::uintptr_t> (nativeHandle));

    if (window == 0)
        return fallback;

    const std::unique_ptr<Display, int (*) (Display*)> display (XOpenDisplay (nullptr), XCloseDisplay);

    if (display == nullptr)
        return fallback;

    return question (display.get(), window);
}
} // namespace

bool refreshNativeBounds (void* nativeHandle)
{
    return askServer (nativeHandle, false, [] (Display* display, ::Window window) {
        XEvent event {};
        event.xconfigure.type = ConfigureNotify;
        event.xconfigure.send_event = True;
        event.xconfigure.display = display;
        event.xconfigure.event = window;
        event.xconfigure.window = window;
        event.xconfigure.above = 0; // no restacking to report

        // An empty event mask sends the event to the client that made the window, JUCE, and to no
        // one else: the window manager is not told of a change that did not happen.
        const auto sent = XSendEvent (display, window, False, 0, &event) != 0;
        XFlush (display);
        return sent;
    });
}

std::optional<juce::Rectangle<int>> readNativeBounds (void* nativeHandle)
{
    return askServer (nativeHandle, std::optional<juce::Rectangle<int>>(), [] (Display* display, ::Window window) {
        XWindowAttributes attributes {};
        int x = 0, y = 0;
        ::Window child = 0;

        if (XGetWindowAttributes (display, window, &attributes) == 0
            || XTranslateCoordinates (display, window, attributes.root, 0, 0, &x, &y, &child) == 0)
            return std::optional<juce::Rectangle<int>>();

        return std::optional<juce::Rectangle<int>> (juce::Rectangle<int> (x, y, attributes.width, attributes.height));
    });
}

bool isNativelyMaximised (void* nativeHandle)
{
    return askServer (nativeHandle, false, [] (Display* display, ::Window window) {
        const auto vertical = XInternAtom (display, "_NET_WM_STATE_MAXIMIZED_VERT", False);
        const auto horizontal = XInternAtom (display, "_NET_WM_STATE_MAXIMIZED_HORZ", False);

        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;

        if (XGetWindowProperty (display, window, XInternAtom (display, "_NET_WM_STATE", False), 0, 64, False,
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
    });
}
