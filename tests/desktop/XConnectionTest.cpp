// The program's own X connection: one per process, events handed to each subscriber of a
// window and to no one once it let go, properties read as the server holds them. And where
// the panel goes in a window made larger than the largest panel.
#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xatom.h>

#include "desktop/x11/OversizedWindow.h"
#include "desktop/x11/XConnection.h"
#include "support/MessageLoop.h"

using desktop::x11::XConnection;
using tarvik::test::pumpFor;
using tarvik::test::pumpUntil;

namespace
{
/** A top-level window of the test's own, on the test's display. */
struct ShownWindow
{
    ShownWindow()
    {
        component.setSize (120, 80);
        component.addToDesktop (juce::ComponentPeer::windowHasTitleBar);
        component.setVisible (true);
    }

    ~ShownWindow() { component.removeFromDesktop(); }

    ::Window native() const { return desktop::x11::nativeWindowOf (*component.getPeer()); }

    juce::Component component;
};

void writeCardinals (XConnection& x, ::Window window, const char* name, std::vector<long> items)
{
    XChangeProperty (x.display(), window, x.atom (name), XA_CARDINAL, 32, PropModeReplace,
                     reinterpret_cast<const unsigned char*> (items.data()), (int) items.size());
    x.flush();
}
} // namespace

TEST (XConnection, OneConnectionHandsEachSubscriberItsWindowsEventsUntilItLetsGo)
{
    auto* x = XConnection::get();
    ASSERT_NE (x, nullptr) << "no connection to the test's display";
    EXPECT_EQ (XConnection::get(), x) << "a second connection was opened";
    EXPECT_EQ (x->atom ("TARVIK_TEST_ONE"), XInternAtom (x->display(), "TARVIK_TEST_ONE", False));
    EXPECT_NE (x->atom ("TARVIK_TEST_ONE"), x->atom ("TARVIK_TEST_TWO"));

    ShownWindow window, other;
    const auto native = window.native();
    ASSERT_NE (native, 0u);

    const auto watched = x->atom ("TARVIK_TEST_ONE");
    int first = 0, second = 0, otherWindow = 0;
    int firstToken = 0;

    // The first lets go from inside its own handler, at its second event.
    firstToken = x->subscribe (native, PropertyChangeMask, [&] (const XEvent& e) {
        if (e.type == PropertyNotify && e.xproperty.atom == watched && ++first == 2)
            x->unsubscribe (firstToken);
    });
    const auto secondToken = x->subscribe (native, PropertyChangeMask, [&] (const XEvent& e) {
        if (e.type == PropertyNotify && e.xproperty.atom == watched)
            ++second;
    });
    const auto otherToken = x->subscribe (other.native(), PropertyChangeMask, [&] (const XEvent& e) {
        if (e.type == PropertyNotify && e.xproperty.atom == watched)
            ++otherWindow;
    });

    for (long round = 1; round <= 3; ++round)
    {
        writeCardinals (*x, native, "TARVIK_TEST_ONE", { round });
        ASSERT_TRUE (pumpUntil ([&] { return second == round; }, 5000)) << "round " << round << " was not handed on";
    }

    EXPECT_EQ (first, 2) << "a subscriber that let go was still called";
    EXPECT_EQ (otherWindow, 0) << "another window's subscriber heard this window's events";

    // The reader gives what the server holds, and nothing for a missing or other-typed property.
    writeCardinals (*x, native, "TARVIK_TEST_TWO", { 4, 5, 6 });
    EXPECT_EQ (x->property (native, "TARVIK_TEST_TWO", XA_CARDINAL), (std::vector<unsigned long> { 4, 5, 6 }));
    EXPECT_FALSE (x->property (native, "TARVIK_TEST_TWO", XA_ATOM).has_value());
    EXPECT_FALSE (x->property (native, "TARVIK_TEST_MISSING", XA_CARDINAL).has_value());

    // The window manager's state atoms, as hasState reads them.
    const long above = (long) x->atom ("_NET_WM_STATE_ABOVE");
    XChangeProperty (x->display(), native, x->atom ("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                     reinterpret_cast<const unsigned char*> (&above), 1);
    x->flush();
    EXPECT_TRUE (x->hasState (native, { "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_ABOVE" }));
    EXPECT_FALSE (x->hasState (native, { "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ" }));

    x->unsubscribe (secondToken);
    x->unsubscribe (otherToken);
    writeCardinals (*x, native, "TARVIK_TEST_ONE", { 9 });
    pumpFor (200);
    EXPECT_EQ (second, 3) << "a subscriber was called after it let go";
}

TEST (OversizedWindow, ThePanelTakesTheLargestFaceThatFitsCentredOnlyOnceTheWindowPassesALimit)
{
    // The main window's face: 226 x 290 to 452 x 580 at 226:290, below a 24-pixel strip.
    juce::ComponentBoundsConstrainer face;
    face.setSizeLimits (226, 290, 452, 580);
    face.setFixedAspectRatio (226.0 / 290.0);
    juce::ComponentBoundsConstrainer noAspect;
    noAspect.setSizeLimits (226, 290, 452, 580);

    struct Case
    {
        juce::Rectangle<int> window;
        const juce::ComponentBoundsConstrainer& limits;
        std::optional<juce::Rectangle<int>> panel;
    };

    const Case cases[] {
        { { 316, 429 }, face, std::nullopt },                    // within the limits: the panel fills it
        { { 452, 604 }, face, std::nullopt },                    // at the largest face exactly
        { { 226, 314 }, face, std::nullopt },                    // at the smallest
        { { 453, 604 }, face, juce::Rectangle<int> (0, 0, 452, 604) }, // one pixel too wide
        { { 600, 604 }, face, juce::Rectangle<int> (74, 0, 452, 604) }, // too wide only
        { { 452, 700 }, face, juce::Rectangle<int> (0, 48, 452, 604) }, // too tall only, the strip left out
        { { 452, 605 }, face, juce::Rectangle<int> (0, 0, 452, 604) },  // the strip makes it one too tall
        { { 1920, 1061 }, face, juce::Rectangle<int> (734, 228, 452, 604) }, // maximised
        { { 1000, 400 }, face, juce::Rectangle<int> (353, 0, 293, 400) },    // too wide but short: the height rules
        { { 1920, 1061 }, noAspect, std::nullopt },             // no aspect: nothing to keep
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.window.toString());
        const auto area = desktop::x11::panelAreaInOversizedWindow (c.window, c.limits, 24);
        const auto shown = [] (const std::optional<juce::Rectangle<int>>& r) { return r ? r->toString() : juce::String ("(fills the window)"); };
        EXPECT_EQ (shown (area), shown (c.panel));
    }
}
