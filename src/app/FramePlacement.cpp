#include "app/FramePlacement.h"

#include "app/NativeBoundsRefresh.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace
{
using DisplayPtr = std::unique_ptr<Display, int (*) (Display*)>;

bool frameIsKnown (juce::ComponentPeer& peer)
{
    const auto frame = peer.getFrameSizeIfPresent();
    return frame && ! frame->isEmpty();
}

/** A property of 32-bit items as the server holds it now; empty when it is missing. */
std::vector<unsigned long> propertyItems (Display* display, ::Window window, const char* name, Atom type)
{
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;

    if (XGetWindowProperty (display, window, XInternAtom (display, name, False), 0, 4096, False, type,
                            &actualType, &format, &count, &after, &data) == Success
        && data != nullptr && format == 32)
    {
        // Xlib hands 32-bit items over as longs.
        const auto* values = reinterpret_cast<const unsigned long*> (data);
        items.assign (values, values + count);
    }

    if (data != nullptr)
        XFree (data);

    return items;
}

/** The window's _NET_FRAME_EXTENTS as the server holds it now. */
std::optional<juce::BorderSize<int>> frameExtents (Display* display, ::Window window)
{
    const auto items = propertyItems (display, window, "_NET_FRAME_EXTENTS", XA_CARDINAL);

    if (items.size() != 4)
        return std::nullopt;

    // left, right, top, bottom
    return juce::BorderSize<int> ((int) items[2], (int) items[0], (int) items[3], (int) items[1]);
}

bool windowManagerAnswersFrameRequests (Display* display)
{
    const auto supported = propertyItems (display, DefaultRootWindow (display), "_NET_SUPPORTED", XA_ATOM);
    const auto request = XInternAtom (display, "_NET_REQUEST_FRAME_EXTENTS", False);
    return std::find (supported.begin(), supported.end(), request) != supported.end();
}

/** Asks the window manager to set _NET_FRAME_EXTENTS on a window it has not framed yet, and
    waits a moment for the answer.
*/
std::optional<juce::BorderSize<int>> requestFrameExtents (::Window window)
{
    // A connection of our own: JUCE's is not ours to share, and this runs once per dialog.
    const DisplayPtr display (XOpenDisplay (nullptr), XCloseDisplay);

    if (display == nullptr)
        return std::nullopt;

    if (const auto present = frameExtents (display.get(), window); present && ! present->isEmpty())
        return present;

    if (! windowManagerAnswersFrameRequests (display.get()))
        return std::nullopt;

    // A window the manager let go of may keep an empty frame from then: ask afresh.
    XDeleteProperty (display.get(), window, XInternAtom (display.get(), "_NET_FRAME_EXTENTS", False));

    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom (display.get(), "_NET_REQUEST_FRAME_EXTENTS", False);
    event.xclient.format = 32;
    XSendEvent (display.get(), DefaultRootWindow (display.get()), False,
                SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush (display.get());

    // The window manager answers at once when it is idle; a busy desktop may take longer, and
    // the dialog waits for no more than half a second.
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        if (const auto answered = frameExtents (display.get(), window))
            return answered;

        juce::Thread::sleep (5);
    }

    return std::nullopt;
}
/** Gives a window's constrainer back to its peer once the window manager has framed it,
    and puts the window where it was asked to go should the manager have placed it elsewhere.

    JUCE rewrites the size hints of a constrained window at every configure event, and the
    rewrite drops the position that its move put there. Should that happen between the move
    and the window manager taking the window on, the manager places the window where it
    likes; so the peer goes without its constrainer until the window stands framed.
*/
struct PlacementWatch final : public juce::ReferenceCountedObject,
                              private juce::Timer
{
    PlacementWatch (juce::ResizableWindow& w, juce::Point<int> wantedPosition)
        : window (w), wanted (wantedPosition)
    {
        startTimer (50);
    }

    void timerCallback() override
    {
        auto* peer = window.getPeer();
        const bool framed = peer != nullptr && window.isShowing() && frameIsKnown (*peer);

        // Once JUCE has read the framed window's bounds again (asked for below).
        if (std::exchange (confirming, false))
        {
            stopTimer();

            if (framed && window.getPosition() != wanted)
                window.setTopLeftPosition (wanted);

            return;
        }

        // Four seconds at most, shown or not.
        if (! framed && ++ticks < 80)
            return;

        if (peer != nullptr && peer->getConstrainer() == nullptr)
            peer->setConstrainer (window.getConstrainer());

        if (framed && refreshNativeBounds (peer->getNativeHandle()))
        {
            confirming = true;
            startTimer (200);
            return;
        }

        stopTimer();
    }

    juce::ResizableWindow& window;
    const juce::Point<int> wanted;
    int ticks = 0;
    bool confirming = false;
};
} // namespace

void placeBeforeShowing (juce::ResizableWindow& window, juce::Rectangle<int> clientBounds)
{
    auto* peer = window.getPeer();

    if (peer == nullptr || window.isShowing())
    {
        window.setBounds (clientBounds);
        return;
    }

    if (peer->getConstrainer() != nullptr)
    {
        peer->setConstrainer (nullptr);
        window.getProperties().set ("tarvikPlacementWatch", juce::var (new PlacementWatch (window, clientBounds.getPosition())));
    }

    std::optional<juce::BorderSize<int>> frame;

    if (! frameIsKnown (*peer))
    {
        frame = requestFrameExtents (static_cast<::Window> (reinterpret_cast<std::uintptr_t> (peer->getNativeHandle())));

        // JUCE reads the frame from the server right after each move it sends: a first move
        // lets it learn the frame, and the move below then takes it into account.
        if (frame && ! frame->isEmpty())
            window.setBounds (window.getBounds() == clientBounds.translated (0, 1) ? clientBounds.translated (0, 2)
                                                                                   : clientBounds.translated (0, 1));
    }

    if (frame && ! frame->isEmpty() && ! frameIsKnown (*peer))
        window.setBounds (clientBounds.translated (-frame->getLeft(), -frame->getTop()));
    else
        window.setBounds (clientBounds);
}
