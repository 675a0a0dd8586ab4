#pragma once

// Xlib's macros clash with JUCE's and GoogleTest's names: include this after them.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <string>

namespace tarvik::test
{
/** A window's WM_NAME as bytes, or "". JUCE writes it as UTF8_STRING, which XFetchName does
    not return. */
inline std::string windowTitle (Display* display, Window window)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;

    if (XGetWindowProperty (display, window, XA_WM_NAME, 0, 1024, False, AnyPropertyType,
                            &type, &format, &count, &after, &data) == Success
        && data != nullptr && format == 8)
        title.assign (reinterpret_cast<const char*> (data), count);

    if (data != nullptr)
        XFree (data);

    return title;
}
} // namespace tarvik::test
