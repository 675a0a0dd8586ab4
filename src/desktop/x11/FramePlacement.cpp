#include "desktop/x11/FramePlacement.h"

#include "desktop/x11/ServerBounds.h"
#include "desktop/x11/XConnection.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <utility>

namespace desktop::x11
{
namespace
{
bool frameIsKnown (juce::ComponentPeer& peer)
{
    const auto frame = peer.getFrameSizeIfPresent();
    return frame && ! frame->isEmpty();
}

/** The window's _NET_FRAME_EXTENTS as the server holds it now. */
std::optional<juce::BorderSize<int>> frameExtents (XConnection& x, ::Window window)
{
    const auto items = x.property (window, "_NET_FRAME_EXTENTS", XA_CARDINAL);

    if (! items || items->size() != 4)
        return std::nullopt;

    const auto& sides = *items; // left, right, top, bottom
    return juce::BorderSize<int> ((int) sides[2], (int) sides[0], (int) sides[3], (int) sides[1]);
}

bool windowManagerAnswersFrameRequests (XConnection& x)
{
    const auto supported = x.property (DefaultRootWindow (x.display()), "_NET_SUPPORTED", XA_ATOM);
    return supported && std::find (supported->begin(), supported->end(), x.atom ("_NET_REQUEST_FRAME_EXTENTS")) != supported->end();
}
} // namespace

FramePlacement::FramePlacement (juce::ResizableWindow& w) : window (w) {}

FramePlacement::~FramePlacement()
{
    *alive = false;
    stopAsking();
}

void FramePlacement::place (juce::Rectangle<int> clientBounds, std::function<void()> showIt)
{
    stopAsking();
    wanted = clientBounds;
    show = std::move (showIt);

    auto* peer = window.getPeer();

    if (peer == nullptr || window.isShowing())
    {
        finishPlacing (std::nullopt, false);
        return;
    }

    // A later placing takes over the watch of one whose window has not stood framed yet.
    peer->setConstrainer (nullptr);
    watchedPosition = clientBounds.getPosition();
    startWatch();

    if (frameIsKnown (*peer) || ! askForFrame())
        finishPlacing (std::nullopt, false);
}

bool FramePlacement::askForFrame()
{
    auto* x = XConnection::get();
    auto* peer = window.getPeer();

    if (x == nullptr || peer == nullptr)
        return false;

    const auto native = nativeWindowOf (*peer);

    if (const auto present = frameExtents (*x, native); present && ! present->isEmpty())
    {
        finishPlacing (present, false);
        return true;
    }

    if (! windowManagerAnswersFrameRequests (*x))
        return false;

    // Watch before asking, so that no answer goes by unseen.
    frameSubscription = x->subscribe (native, PropertyChangeMask, [this, x, native] (const XEvent& event) {
        if (event.type == PropertyNotify && event.xproperty.atom == x->atom ("_NET_FRAME_EXTENTS"))
            if (const auto answered = frameExtents (*x, native))
                finishPlacing (answered, true);
    });

    // A window the manager let go of may keep an empty frame from then: ask afresh.
    XDeleteProperty (x->display(), native, x->atom ("_NET_FRAME_EXTENTS"));
    x->sendToWindowManager (native, "_NET_REQUEST_FRAME_EXTENTS", {});

    // The window manager answers at once when it is idle; a busy desktop may take longer, and
    // the dialog waits for no more than half a second.
    startTimer (answerTimer, 500);
    return true;
}

void FramePlacement::stopAsking()
{
    stopTimer (answerTimer);

    if (frameSubscription != 0)
        if (auto* x = XConnection::get())
            x->unsubscribe (std::exchange (frameSubscription, 0));
}

void FramePlacement::finishPlacing (std::optional<juce::BorderSize<int>> frame, bool showLater)
{
    stopAsking();

    auto showIt = std::exchange (show, nullptr);

    if (! showLater)
    {
        moveToWanted (frame);

        if (showIt != nullptr)
            showIt();

        return;
    }

    // Not from inside the connection's event handling: showing may run a modal loop. The
    // moves go with the showing, with no event handled in between: JUCE rewrites the size
    // hints at the configure event a move brings, which drops the position from them, and a
    // window mapped without one is placed by the window manager (openbox centres a dialog on
    // its parent).
    juce::MessageManager::callAsync ([this, weakAlive = std::weak_ptr<bool> (alive), frame, showIt] {
        if (const auto stillThere = weakAlive.lock(); stillThere == nullptr || ! *stillThere)
            return;

        moveToWanted (frame);

        if (showIt != nullptr)
            showIt();
    });
}

void FramePlacement::moveToWanted (std::optional<juce::BorderSize<int>> frame)
{
    auto* peer = window.getPeer();
    const bool knownFrame = frame && ! frame->isEmpty();

    // JUCE reads the frame from the server right after each move it sends: a first move
    // lets it learn the frame, and the move below then takes it into account.
    if (peer != nullptr && knownFrame && ! frameIsKnown (*peer))
    {
        window.setBounds (window.getBounds() == wanted.translated (0, 1) ? wanted.translated (0, 2)
                                                                         : wanted.translated (0, 1));

        if (! frameIsKnown (*peer))
            window.setBounds (wanted.translated (-frame->getLeft(), -frame->getTop()));
        else
            window.setBounds (wanted);
    }
    else
    {
        window.setBounds (wanted);
    }
}

void FramePlacement::startWatch()
{
    watch = Watch::untilFramed;
    watchTicks = 0;
    startTimer (watchTimer, 50);
}

void FramePlacement::watchStep()
{
    // Framed once the window manager has taken the window on and placed it: until it maps the
    // window, the server still has it where it was asked to go, and there is nothing to undo.
    auto* peer = window.getPeer();
    const bool framed = peer != nullptr && window.isShowing() && frameIsKnown (*peer) && isViewable (*peer);

    // Once JUCE has read the framed window's bounds again (asked for below).
    if (watch == Watch::confirming)
    {
        // On a busy machine JUCE may not have read them yet, and it moves nothing that it
        // believes is in place already: asked again, for two seconds at most.
        const auto actual = framed ? readNativeBounds (*peer) : std::nullopt;

        if (actual && actual->getPosition() != watchedPosition && window.getPosition() == watchedPosition
            && ++watchTicks < 10 && refreshNativeBounds (*peer))
            return;

        watch = Watch::idle;
        stopTimer (watchTimer);

        if (framed && window.getPosition() != watchedPosition)
            window.setTopLeftPosition (watchedPosition);

        return;
    }

    // Four seconds at most, shown or not.
    if (! framed && ++watchTicks < 80)
        return;

    if (peer != nullptr && peer->getConstrainer() == nullptr)
        peer->setConstrainer (window.getConstrainer());

    if (framed && refreshNativeBounds (*peer))
    {
        watch = Watch::confirming;
        watchTicks = 0;
        startTimer (watchTimer, 200);
        return;
    }

    watch = Watch::idle;
    stopTimer (watchTimer);
}

void FramePlacement::timerCallback (int timerId)
{
    if (timerId == watchTimer)
    {
        watchStep();
        return;
    }

    if (frameSubscription == 0)
        return;

    // No answer seen in time. On a busy machine one may have come that the event loop has not
    // handed over yet; without one the window is placed as well as can be without the frame.
    std::optional<juce::BorderSize<int>> answered;

    if (auto* x = XConnection::get())
        if (auto* peer = window.getPeer())
            answered = frameExtents (*x, nativeWindowOf (*peer));

    finishPlacing (answered, true);
}
} // namespace desktop::x11
