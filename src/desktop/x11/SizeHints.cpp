#include "desktop/x11/SizeHints.h"

#include "desktop/x11/ServerBounds.h"
#include "desktop/x11/XConnection.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace desktop::x11
{
namespace
{
constexpr long ourFlags = PMinSize | PMaxSize | PAspect | PBaseSize;

/** The rule as X size hints. The aspect may stray half a pixel at the smallest size either
    way, so that sizes rounded to the aspect (the default 316 x 405 among them) pass.
*/
void applyRule (XSizeHints& hints, const ClientSizeRule& rule)
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
} // namespace

SizeHints::SizeHints (juce::ResizableWindow& w, ClientSizeRule r)
    : window (w), rule (r)
{
    // What JUCE writes from these limits (less the frame of that moment) holds nothing
    // back, so a window manager that reads it between our writes shrinks nothing; ours
    // follow at once and bring the rule back.
    peerLimits.setSizeLimits (1, 1, 1 << 15, 1 << 15);

    window.addComponentListener (this);
    refresh();
}

SizeHints::~SizeHints()
{
    window.removeComponentListener (this);
    watch (0);

    // The peer must not keep limits that go with this object.
    if (auto* peer = window.getPeer(); peer != nullptr && peer->getConstrainer() == &peerLimits)
        peer->setConstrainer (window.getConstrainer());
}

void SizeHints::watch (unsigned long nativeWindow)
{
    auto* x = XConnection::get();

    if (x == nullptr || nativeWindow == watched)
        return;

    if (subscription != 0)
        x->unsubscribe (std::exchange (subscription, 0));

    watched = nativeWindow;

    if (watched == 0)
        return;

    // JUCE's writes of the hints, and the window manager's maximising, bring ours back; the
    // mapping gives the peer its limits (see refresh()).
    subscription = x->subscribe (watched, PropertyChangeMask | StructureNotifyMask, [this, x] (const XEvent& event) {
        if ((event.type == PropertyNotify
             && (event.xproperty.atom == XA_WM_NORMAL_HINTS || event.xproperty.atom == x->atom ("_NET_WM_STATE")))
            || event.type == MapNotify)
            refresh();
    });
}

void SizeHints::refresh()
{
    auto* peer = window.getPeer();

    if (peer == nullptr)
        return;

    // JUCE makes a new native window for some changes: follow it.
    watch (nativeWindowOf (*peer));

    // Until the window manager has mapped the window, the peer goes without limits: JUCE
    // rewrites the hints of a constrained window at each configure event, without the position
    // its last move put there, and a busy manager that reads the hints only after that places
    // the window where it likes (openbox did so with the loopback dialog on a loaded machine).
    peer->setConstrainer (isViewable (*peer) ? &peerLimits : nullptr);
    writeHints();
}

void SizeHints::writeHints()
{
    auto* x = XConnection::get();

    if (x == nullptr || watched == 0)
        return;

    XSizeHints current {};
    long supplied = 0;

    if (XGetWMNormalHints (x->display(), watched, &current, &supplied) == 0)
        current = {};

    // A maximised window is left the size the window manager gives it (the panel is fitted
    // inside) and JUCE's hints, which hold nothing back, are left to stand: rewriting them
    // makes openbox configure the window again, which brings the next write from JUCE, and
    // the two would take turns for as long as the window stays maximised.
    if (x->hasState (watched, { "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ" }))
        return;

    XSizeHints wanted = current;
    applyRule (wanted, rule);

    // Our own write comes back as a change too: leave alone what already holds.
    if (sameRule (current, wanted))
        return;

    // JUCE's position and size requests in the same hints stay.
    XSetWMNormalHints (x->display(), watched, &wanted);
    x->flush();
}
} // namespace desktop::x11
