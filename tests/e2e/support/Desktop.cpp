#include "Desktop.h"

// Before Xlib, whose macros clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <chrono>
#include <thread>


namespace tarvik::e2e
{
namespace
{
void pause (int milliseconds)
{
    std::this_thread::sleep_for (std::chrono::milliseconds (milliseconds));
}

// Windows come and go while we look at them; Xlib's default handler would end the test
// on the first BadWindow.
int ignoreXErrors (Display*, XErrorEvent*) { return 0; }

struct DisplayConnection
{
    explicit DisplayConnection (const std::string& name)
    {
        static const auto installed = XSetErrorHandler (ignoreXErrors);
        (void) installed;
        display = XOpenDisplay (name.c_str());
    }
    ~DisplayConnection()
    {
        if (display != nullptr)
            XCloseDisplay (display);
    }
    Display* display = nullptr;
};
/** The window's title: _NET_WM_NAME, else WM_NAME, of whatever text type (JUCE sets WM_NAME
    as UTF8_STRING, which XFetchName does not return).
*/
std::string windowTitle (Display* display, Window window)
{
    for (const auto* property : { "_NET_WM_NAME", "WM_NAME" })
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        std::string title;

        if (XGetWindowProperty (display, window, XInternAtom (display, property, False), 0, 1024, False, AnyPropertyType,
                                &type, &format, &count, &remaining, &data) == Success
            && data != nullptr && format == 8)
            title.assign (reinterpret_cast<const char*> (data), count);
        if (data != nullptr)
            XFree (data);

        if (! title.empty())
            return title;
    }
    return {};
}
} // namespace

Desktop::Desktop() = default;

Desktop::~Desktop()
{
    // Each runs in a process group of its own (ChildProcess), which must be empty afterwards.
    std::vector<pid_t> groups;
    if (windowManager != nullptr)
        groups.push_back (windowManager->pid());
    if (xvfb != nullptr)
        groups.push_back (xvfb->process().pid());

    windowManager.reset();
    xvfb.reset();

    for (const auto group : groups)
    {
        if (group <= 0)
            continue;
        const auto left = test::processesLeftAfter ([group] { return test::processesInGroup (group); });
        const auto killed = test::killWithTheirGroups (left);
        EXPECT_TRUE (left.empty()) << "processes of the desktop outlived it:\n" << killed;
    }
}

bool Desktop::start()
{
    // On a loaded machine an X server or its window manager now and then fails to come up
    // (or dies at once); a desktop made afresh is the remedy, as a person would log in again.
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        if (startOnce())
            return true;

        windowManager.reset();
        xvfb.reset();
        displayName.clear();
    }

    return false;
}

bool Desktop::startOnce()
{
    xvfb = std::make_unique<test::VirtualDisplay>();

    if (! xvfb->isRunning())
        return false;

    displayName = xvfb->name();

    ChildProcess::Options options;
    options.arguments = { "openbox", "--sm-disable" };
    options.environment = environment();
    options.terminateGraceMilliseconds = 2000;
    windowManager = std::make_unique<ChildProcess>();
    if (! windowManager->start (options))
        return false;

    // The window manager is up once it has claimed the root window.
    for (int i = 0; i < 500; ++i)
    {
        if (runTool ({ "xprop", "-root", "_NET_SUPPORTING_WM_CHECK" }).find ("window id") != std::string::npos)
            return true;
        if (! windowManager->isRunning())
            return false;
        pause (20);
    }

    return false;
}

std::map<std::string, std::string> Desktop::environment() const
{
    return { { "DISPLAY", displayName } };
}

std::string Desktop::runTool (const std::vector<std::string>& argv) const
{
    return test::runAndCapture (argv, environment());
}

std::optional<unsigned long> Desktop::findWindow (const std::string& title) const
{
    const auto windows = managedWindows();
    for (const auto& [window, name] : windows)
        if (name == title)
            return window;
    return std::nullopt;
}

juce::Rectangle<int> Desktop::clientBounds (unsigned long window) const
{
    DisplayConnection c (displayName);
    if (c.display == nullptr)
        return {};

    XWindowAttributes attributes {};
    if (XGetWindowAttributes (c.display, window, &attributes) == 0)
        return {};

    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates (c.display, window, DefaultRootWindow (c.display), 0, 0, &x, &y, &child);
    return { x, y, attributes.width, attributes.height };
}

juce::Rectangle<int> Desktop::screenBounds() const
{
    DisplayConnection c (displayName);
    if (c.display == nullptr)
        return {};
    const int screen = DefaultScreen (c.display);
    return { 0, 0, DisplayWidth (c.display, screen), DisplayHeight (c.display, screen) };
}

juce::Image Desktop::screenshot() const
{
    return screenshot (screenBounds());
}

juce::Image Desktop::screenshot (juce::Rectangle<int> area) const
{
    DisplayConnection c (displayName);
    if (c.display == nullptr)
        return {};

    const auto bounds = area.getIntersection (screenBounds());
    if (bounds.isEmpty())
        return {};

    XImage* x = XGetImage (c.display, DefaultRootWindow (c.display), bounds.getX(), bounds.getY(),
                           (unsigned) bounds.getWidth(), (unsigned) bounds.getHeight(), AllPlanes, ZPixmap);
    if (x == nullptr)
        return {};

    juce::Image image (juce::Image::RGB, bounds.getWidth(), bounds.getHeight(), false);
    const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::writeOnly);
    const bool direct = x->bits_per_pixel == 32 && x->red_mask == 0xff0000 && x->green_mask == 0xff00 && x->blue_mask == 0xff;

    // Straight into the RGB lines: a setPixelColour per pixel made the screenshots a large share
    // of the e2e tests' time in the sanitizer builds, which take one every few hundred milliseconds.
    for (int py = 0; py < bounds.getHeight(); ++py)
    {
        auto* line = pixels.getLinePointer (py);
        for (int px = 0; px < bounds.getWidth(); ++px)
        {
            const auto pixel = direct ? (unsigned long) reinterpret_cast<const uint32_t*> (x->data + py * x->bytes_per_line)[px]
                                      : XGetPixel (x, px, py);
            reinterpret_cast<juce::PixelRGB*> (line + px * pixels.pixelStride)
                ->setARGB (255, (juce::uint8) ((pixel >> 16) & 0xff), (juce::uint8) ((pixel >> 8) & 0xff), (juce::uint8) (pixel & 0xff));
        }
    }

    XDestroyImage (x);
    return image;
}

juce::BorderSize<int> Desktop::frameExtents (unsigned long window) const
{
    DisplayConnection c (displayName);
    if (c.display == nullptr)
        return {};

    const Atom extents = XInternAtom (c.display, "_NET_FRAME_EXTENTS", True);
    if (extents == None)
        return {};

    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    juce::BorderSize<int> result;

    if (XGetWindowProperty (c.display, window, extents, 0, 4, False, XA_CARDINAL, &type, &format, &count, &remaining, &data) == Success
        && data != nullptr && format == 32 && count == 4)
    {
        const auto* v = reinterpret_cast<const long*> (data);
        result = { (int) v[2], (int) v[0], (int) v[3], (int) v[1] }; // left, right, top, bottom
    }

    if (data != nullptr)
        XFree (data);
    return result;
}

std::vector<std::string> Desktop::managedWindowTitles() const
{
    std::vector<std::string> titles;
    for (const auto& [window, title] : managedWindows())
        titles.push_back (title);
    return titles;
}

std::vector<std::pair<unsigned long, std::string>> Desktop::managedWindows() const
{
    std::vector<std::pair<unsigned long, std::string>> result;
    DisplayConnection c (displayName);
    if (c.display == nullptr)
        return result;

    const Atom clientList = XInternAtom (c.display, "_NET_CLIENT_LIST", True);
    if (clientList == None)
        return result;

    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;

    if (XGetWindowProperty (c.display, DefaultRootWindow (c.display), clientList, 0, 1024, False, XA_WINDOW,
                            &type, &format, &count, &remaining, &data) == Success && data != nullptr && format == 32)
    {
        const auto* windows = reinterpret_cast<const unsigned long*> (data);
        for (unsigned long i = 0; i < count; ++i)
        {
            XWindowAttributes attributes {};
            if (XGetWindowAttributes (c.display, windows[i], &attributes) != 0 && attributes.map_state == IsViewable)
                result.emplace_back (windows[i], windowTitle (c.display, windows[i]));
        }
    }

    if (data != nullptr)
        XFree (data);
    return result;
}

std::vector<juce::Rectangle<int>> Desktop::unmanagedWindows() const
{
    DisplayConnection c (displayName);
    if (c.display == nullptr)
        return {};

    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<juce::Rectangle<int>> viewable;

    if (XQueryTree (c.display, DefaultRootWindow (c.display), &root, &parent, &children, &count) != 0)
    {
        for (unsigned int i = 0; i < count; ++i)
        {
            XWindowAttributes attributes {};
            // Menus and tooltips bypass the window manager; anything else mapped at the top
            // is one of its frames.
            if (XGetWindowAttributes (c.display, children[i], &attributes) != 0
                && attributes.map_state == IsViewable && attributes.override_redirect
                && attributes.width > 1 && attributes.height > 1)
                viewable.emplace_back (attributes.x, attributes.y, attributes.width, attributes.height);
        }
    }

    if (children != nullptr)
        XFree (children);
    return viewable;
}

void Desktop::moveMouse (juce::Point<int> p) const
{
    // Not "mousemove --sync": that waits for a motion that never comes when the pointer is
    // already there. Ask where the pointer is instead.
    const auto x = std::to_string (p.x), y = std::to_string (p.y);
    runTool ({ "xdotool", "mousemove", x, y });
    const auto expected = "x:" + x + " y:" + y + " ";

    for (int i = 0; i < 50; ++i)
    {
        if (runTool ({ "xdotool", "getmouselocation" }).rfind (expected, 0) == 0)
            return;
        pause (10);
    }
}

void Desktop::click (juce::Point<int> p, int button) const
{
    // A person's click: the pointer arrives, rests, and the button goes down and up.
    // JUCE's menu bar misses a press that comes with the very event that moved the pointer.
    moveMouse (p);
    pause (150);
    runTool ({ "xdotool", "mousedown", std::to_string (button) });
    pause (80);
    runTool ({ "xdotool", "mouseup", std::to_string (button) });
}

void Desktop::drag (juce::Point<int> from, juce::Point<int> to, int steps) const
{
    moveMouse (from);
    pause (150);
    runTool ({ "xdotool", "mousedown", "1" });
    pause (50);
    for (int i = 1; i <= steps; ++i)
    {
        moveMouse (from + (to - from) * i / steps);
        pause (20);
    }
    pause (50);
    runTool ({ "xdotool", "mouseup", "1" });
}

void Desktop::wheel (juce::Point<int> p, int notches) const
{
    moveMouse (p);
    pause (150);
    const auto button = notches > 0 ? "4" : "5";
    for (int i = 0; i < std::abs (notches); ++i)
    {
        // No pause after the last notch: what follows at once may be worth watching.
        if (i > 0)
            pause (60);
        runTool ({ "xdotool", "click", button });
    }
}

void Desktop::key (const std::string& keyName) const
{
    runTool ({ "xdotool", "key", keyName });
}
} // namespace tarvik::e2e
