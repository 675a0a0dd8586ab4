#include "support/NativeWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "support/MessageLoop.h"

namespace tarvik::test
{
bool isNativeWindowMapped (juce::Component& topLevel)
{
    auto* peer = topLevel.getPeer();
    if (peer == nullptr)
        return false;

    // A round trip on the framework's own connection sends whatever it still buffers.
    pumpFor (50);
    juce::Desktop::getMousePosition();

    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return false;

    XWindowAttributes attributes {};
    const auto window = (::Window) reinterpret_cast<juce::pointer_sized_uint> (peer->getNativeHandle());
    const bool mapped = XGetWindowAttributes (display, window, &attributes) != 0
                        && attributes.map_state != IsUnmapped;
    XCloseDisplay (display);
    return mapped;
}

juce::String nativeSizeHints (juce::Component& topLevel)
{
    auto* peer = topLevel.getPeer();
    if (peer == nullptr)
        return {};

    pumpFor (50);
    juce::Desktop::getMousePosition();

    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return {};

    XSizeHints hints {};
    long supplied = 0;
    const auto window = (::Window) reinterpret_cast<juce::pointer_sized_uint> (peer->getNativeHandle());
    juce::StringArray parts;

    if (XGetWMNormalHints (display, window, &hints, &supplied) != 0)
    {
        const auto size = [] (int w, int h) { return juce::String (w) + "x" + juce::String (h); };
        if ((hints.flags & PMinSize) != 0)
            parts.add ("min " + size (hints.min_width, hints.min_height));
        if ((hints.flags & PMaxSize) != 0)
            parts.add ("max " + size (hints.max_width, hints.max_height));
        if ((hints.flags & PAspect) != 0)
            parts.add ("aspect " + juce::String (hints.min_aspect.x) + "/" + juce::String (hints.min_aspect.y) + ".."
                       + juce::String (hints.max_aspect.x) + "/" + juce::String (hints.max_aspect.y));
        if ((hints.flags & PBaseSize) != 0)
            parts.add ("base " + size (hints.base_width, hints.base_height));
    }

    XCloseDisplay (display);
    return parts.joinIntoString (" ");
}
} // namespace tarvik::test
