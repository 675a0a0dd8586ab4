#include "app/NativeSizeHints.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <memory>

namespace
{
constexpr long ourFlags = PMinSize | PMaxSize | PAspect | PBaseSize;

/** The rule as X size hints. The aspect may stray half a pixel at the smallest size either
    way, so that sizes rounded to the aspect (the default 316 x 405 among them) pass.
*/
void applyRule (XSizeHints& hints, const ClientSizeRule& rule, bool maximised)
{
    const auto& small = rule.smallestClient;
    const auto& large = rule.largestClient;
    const int faceHeight = small.y - rule.topStrip;

    hints.flags |= ourFlags;
    hints.min_width = small.x;
    hints.min_height = small.y;
    hints.max_width = large.x;
    hints.max_height = large.y;
    hints.base_width = 0;
    hints.base_height = rule.topStrip;
    hints.min_aspect.x = 2 * small.x - 1;
    hints.min_aspect.y = 2 * faceHeight;
    hints.max_aspect.x = 2 * small.x + 1;
    hints.max_aspect.y = 2 * faceHeight;

    // A maximised window is left the size the window manager gives it (the panel is fitted
    // inside): openbox grows it to the screen on JUCE's hints and shrinks it on ours, and
    // each change brings the next write from JUCE.
    if (maximised)
        hints.flags &= ~(PMaxSize | PAspect);
}

bool sameRule (const XSizeHints& a, const XSizeHints& b)
{
    return (a.flags & ourFlags) == (b.flags & ourFlags)
        && a.min_width == b.min_width && a.min_height == b.min_height
        && a.max_width == b.max_width && a.max_height == b.max_height
        && a.base_width == b.base_width && a.base_height == b.base_height
        && a.min_aspect.x == b.min_aspect.x && a.min_aspect.y == b.min_aspect.y
        && a.max_aspect.x == b.max_aspect.x && a.max_aspect.y == b.max_aspect.y;
}

struct SizeHintsKeeper final : public juce::ReferenceCountedObject,
                               private juce::ComponentListener
{
    SizeHintsKeeper (juce::ResizableWindow& w, ClientSizeRule r)
        : window (&w), rule (r), display (XOpenDisplay (nullptr), closeDisplay)
    {
        // What JUCE writes from these limits (less the frame of that moment) holds nothing
        // back, so a window manager that reads it between our writes shrinks nothing; ours
        // follow at once and bring the rule back.
        peerLimits.setSizeLimits (1, 1, 1 << 15, 1 << 15);

        if (display != nullptr)
        {
            connection = ConnectionNumber (display.get());
            stateAtom = XInternAtom (display.get(), "_NET_WM_STATE", False);
            maximisedAtoms[0] = XInternAtom (display.get(), "_NET_WM_STATE_MAXIMIZED_VERT", False);
            maximisedAtoms[1] = XInternAtom (display.get(), "_NET_WM_STATE_MAXIMIZED_HORZ", False);
            juce::LinuxEventLoop::registerFdCallback (connection, [this] (int) { readEvents(); });
        }

        w.addComponentListener (this);
        refresh();
    }

    ~SizeHintsKeeper() override
    {
        if (connection >= 0)
            juce::LinuxEventLoop::unregisterFdCallback (connection);

        if (window != nullptr)
            window->removeComponentListener (this);
    }

    static int closeDisplay (Display* d) { return d != nullptr ? XCloseDisplay (d) : 0; }

    // ResizableWindow gives the peer its own constrainer back at every move and resize, before
    // the listeners hear of it; so take it back each time, before JUCE next writes the hints.
    void componentMovedOrResized (juce::Component&, bool, bool) override { refresh(); }
    void componentVisibilityChanged (juce::Component&) override { refresh(); }
    void componentParentHierarchyChanged (juce::Component&) override { refresh(); }

    void componentBeingDeleted (juce::Component& c) override
    {
        c.removeComponentListener (this);
        window = nullptr;
    }

    void refresh()
    {
        auto* peer = window != nullptr ? window->getPeer() : nullptr;

        if (peer == nullptr)
            return;

        peer->setConstrainer (&peerLimits);

        if (display == nullptr)
            return;

        const auto handle = static_cast<::Window> (reinterpret_cast<std::uintptr_t> (peer->getNativeHandle()));

        if (handle != watched)
        {
            // JUCE makes a new native window for some changes: follow it.
            watched = handle;

            if (watched != 0)
                XSelectInput (display.get(), watched, PropertyChangeMask);
        }

        writeHints();
    }

    void writeHints()
    {
        if (watched == 0)
            return;

        XSizeHints current {};
        long supplied = 0;

        if (XGetWMNormalHints (display.get(), watched, &current, &supplied) == 0)
            current = {};

        XSizeHints wanted = current;
        applyRule (wanted, rule, isMaximised());

        // Our own write comes back as a change too: leave alone what already holds.
        if (sameRule (current, wanted))
            return;

        // JUCE's position and size requests in the same hints stay.
        XSetWMNormalHints (display.get(), watched, &wanted);
        XFlush (display.get());
    }

    bool isMaximised()
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        bool maximised = false;

        if (XGetWindowProperty (display.get(), watched, stateAtom, 0, 64, False, XA_ATOM,
                                &type, &format, &count, &remaining, &data) == Success
            && data != nullptr && type == XA_ATOM && format == 32)
        {
            const auto* atoms = reinterpret_cast<const Atom*> (data);

            for (unsigned long i = 0; i < count; ++i)
                maximised = maximised || atoms[i] == maximisedAtoms[0] || atoms[i] == maximisedAtoms[1];
        }

        if (data != nullptr)
            XFree (data);

        return maximised;
    }

    void readEvents()
    {
        bool changed = false;

        while (XPending (display.get()) > 0)
        {
            XEvent event;
            XNextEvent (display.get(), &event);

            if (event.type == PropertyNotify && (event.xproperty.atom == XA_WM_NORMAL_HINTS || event.xproperty.atom == stateAtom))
                changed = true;
        }

        if (changed)
            refresh();
    }

    juce::ResizableWindow* window;
    const ClientSizeRule rule;
    juce::ComponentBoundsConstrainer peerLimits;
    std::unique_ptr<Display, int (*) (Display*)> display;
    int connection = -1;
    ::Window watched = 0;
    Atom stateAtom = 0;
    Atom maximisedAtoms[2] {};
};
} // namespace

void keepNativeSizeHints (juce::ResizableWindow& window, ClientSizeRule rule)
{
    window.getProperties().set ("tarvikSizeHints", juce::var (new SizeHintsKeeper (window, rule)));
}
