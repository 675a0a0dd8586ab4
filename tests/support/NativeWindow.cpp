#include "support/NativeWindow.h"

#include <X11/Xlib.h>

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
} // namespace tarvik::test
