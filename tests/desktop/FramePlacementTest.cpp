// A hidden window put where it belongs before it shows, under a window manager that frames
// it unlike openbox: the frame's sides all different, the answer to the frame request coming a
// moment later, the window placed by the manager's own choice, or taken on late by a busy
// manager. The manager is a stand-in of the test's own, on its own connection, served by the
// test's message loop.
#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <map>
#include <optional>
#include <set>

#include "desktop/DesktopWindows.h"
#include "desktop/x11/FramePlacement.h"
#include "desktop/x11/ServerBounds.h"
#include "desktop/x11/XConnection.h"
#include "support/MessageLoop.h"

using tarvik::test::pumpUntil;

namespace
{
/** Frames nothing but says it does, as EWMH has it: a client's requested position is where
    its frame goes, the client sits the frame's left and top inside. Answers
    _NET_REQUEST_FRAME_EXTENTS after a delay; may put a window it maps somewhere of its choosing,
    always or (as openbox) only when the size hints it reads then ask for no position; may take
    a window on only a while after it was asked to map it, as a busy manager does.
*/
class StandInWindowManager final : private juce::Timer
{
public:
    struct Behaviour
    {
        juce::BorderSize<int> frame;
        int answerDelayMilliseconds = 0;
        std::optional<juce::Point<int>> placeFramesAt;
        bool placesOnlyUnpositionedWindows = false;
        int mapDelayMilliseconds = 0;
    };

    explicit StandInWindowManager (Behaviour b) : behaviour (b), display (XOpenDisplay (nullptr))
    {
        if (display == nullptr)
            return;

        const auto root = DefaultRootWindow (display);
        const Atom supported[] { atom ("_NET_REQUEST_FRAME_EXTENTS"), atom ("_NET_FRAME_EXTENTS") };
        XChangeProperty (display, root, atom ("_NET_SUPPORTED"), XA_ATOM, 32, PropModeReplace,
                         reinterpret_cast<const unsigned char*> (supported), 2);
        XSelectInput (display, root, SubstructureRedirectMask | SubstructureNotifyMask);
        XSync (display, False);

        juce::LinuxEventLoop::registerFdCallback (ConnectionNumber (display), [this] (int) { serve(); });
        // Xlib may queue events during a round trip without the socket becoming readable again.
        startTimer (10);
    }

    ~StandInWindowManager() override
    {
        if (display == nullptr)
            return;

        stopTimer();
        juce::LinuxEventLoop::unregisterFdCallback (ConnectionNumber (display));
        XDeleteProperty (display, DefaultRootWindow (display), atom ("_NET_SUPPORTED"));
        XCloseDisplay (display);
    }

    bool isRunning() const noexcept { return display != nullptr; }

    /** Whether the window's size hints asked for its position when this manager first took it
        on; nothing while it has not.
    */
    std::optional<bool> askedForItsPositionWhenMapped (::Window window) const
    {
        const auto found = askedForPosition.find (window);
        return found != askedForPosition.end() ? std::optional (found->second) : std::nullopt;
    }

private:
    Atom atom (const char* name) { return XInternAtom (display, name, False); }

    void setFrameExtents (::Window window)
    {
        const auto& f = behaviour.frame;
        const long sides[] { f.getLeft(), f.getRight(), f.getTop(), f.getBottom() };
        XChangeProperty (display, window, atom ("_NET_FRAME_EXTENTS"), XA_CARDINAL, 32, PropModeReplace,
                         reinterpret_cast<const unsigned char*> (sides), 4);
        XFlush (display);
    }

    void timerCallback() override { serve(); }

    void serve()
    {
        while (XPending (display) > 0)
        {
            XEvent event;
            XNextEvent (display, &event);

            if (event.type == MapRequest)
                mapLater (event.xmaprequest.window);
            else if (event.type == ConfigureRequest)
                configure (event.xconfigurerequest);
            else if (event.type == UnmapNotify)
                managed.erase (event.xunmap.window);
            else if (event.type == ClientMessage && event.xclient.message_type == atom ("_NET_REQUEST_FRAME_EXTENTS"))
                answerLater (event.xclient.window);
        }
    }

    void mapLater (::Window window)
    {
        if (behaviour.mapDelayMilliseconds == 0)
        {
            frameAndMap (window);
            return;
        }

        juce::Timer::callAfterDelay (behaviour.mapDelayMilliseconds, [this, stillThere = std::weak_ptr<bool> (alive), window] {
            if (! stillThere.expired())
                frameAndMap (window);
        });
    }

    /** Whether the size hints, as they are now, ask for the window's position. */
    bool asksForItsPosition (::Window window)
    {
        XSizeHints hints {};
        long supplied = 0;
        return XGetWMNormalHints (display, window, &hints, &supplied) != 0 && (hints.flags & (USPosition | PPosition)) != 0;
    }

    void frameAndMap (::Window window)
    {
        // JUCE may ask twice before the first request is served: a window is framed once.
        if (managed.count (window) != 0)
            return;

        XWindowAttributes attributes {};
        XGetWindowAttributes (display, window, &attributes);

        // The frame goes where the window was asked to be, or where this manager likes.
        const bool asked = asksForItsPosition (window);
        askedForPosition.emplace (window, asked);
        const bool ownChoice = behaviour.placeFramesAt && ! (behaviour.placesOnlyUnpositionedWindows && asked);
        const auto frameAt = ownChoice ? *behaviour.placeFramesAt : juce::Point<int> (attributes.x, attributes.y);
        setFrameExtents (window);
        XMoveWindow (display, window, frameAt.x + behaviour.frame.getLeft(), frameAt.y + behaviour.frame.getTop());
        XMapWindow (display, window);
        XFlush (display);
        managed.insert (window);
    }

    void configure (const XConfigureRequestEvent& request)
    {
        XWindowChanges changes {};
        changes.x = request.x;
        changes.y = request.y;
        changes.width = request.width;
        changes.height = request.height;
        changes.border_width = request.border_width;

        // A framed window's position names its frame; one not taken on yet goes where it asks.
        if (managed.count (request.window) != 0)
        {
            changes.x += behaviour.frame.getLeft();
            changes.y += behaviour.frame.getTop();
        }

        XConfigureWindow (display, request.window, (unsigned) (request.value_mask & (CWX | CWY | CWWidth | CWHeight | CWBorderWidth)), &changes);
        XFlush (display);
    }

    void answerLater (::Window window)
    {
        juce::Timer::callAfterDelay (behaviour.answerDelayMilliseconds, [this, stillThere = std::weak_ptr<bool> (alive), window] {
            if (! stillThere.expired())
                setFrameExtents (window);
        });
    }

    const Behaviour behaviour;
    Display* display = nullptr;
    std::set<::Window> managed;
    std::map<::Window, bool> askedForPosition;
    std::shared_ptr<bool> alive = std::make_shared<bool> (true);
};

/** A top-level window set up before it gets its native window, so that nothing maps it early. */
struct UnshownWindow
{
    /** Tells when the window was first painted: JUCE sends the window's bounds again then. */
    struct Content final : juce::Component
    {
        void paint (juce::Graphics& g) override
        {
            g.fillAll (juce::Colours::grey);
            painted = true;
        }

        bool painted = false;
    };

    explicit UnshownWindow (bool nativeTitleBar)
    {
        window.setUsingNativeTitleBar (nativeTitleBar);
        window.setContentNonOwned (&content, false);
        window.setResizable (true, false);
        window.setResizeLimits (100, 80, 400, 300);
        window.setSize (200, 150);
        window.addToDesktop();
    }

    ~UnshownWindow()
    {
        window.clearContentComponent();
        window.removeFromDesktop();
    }

    /** Where the server has the client, once the window is mapped there. */
    std::optional<juce::Rectangle<int>> shownAt (juce::Rectangle<int> expected) { return shownAtOf (window, expected); }

    static std::optional<juce::Rectangle<int>> shownAtOf (juce::Component& window, juce::Rectangle<int> expected)
    {
        std::optional<juce::Rectangle<int>> actual;
        pumpUntil ([&] {
            actual = window.getPeer() != nullptr && window.isShowing() ? desktop::x11::readNativeBounds (*window.getPeer())
                                                                      : std::nullopt;
            return actual == expected;
        }, 5000);
        return actual;
    }

    Content content;
    juce::DocumentWindow window { "placed", juce::Colours::grey, 0, false };
};

const juce::BorderSize<int> lopsidedFrame { 22, 3, 5, 8 }; // top, left, bottom, right
const juce::Rectangle<int> wanted { 300, 200, 200, 150 };

juce::String text (const std::optional<juce::Rectangle<int>>& r) { return r ? r->toString() : juce::String ("(not shown)"); }
} // namespace

TEST (FramePlacement, AWindowJuceKnowsNoFrameForIsMovedOutOfItsFrameByTheAnsweredSides)
{
    // Without a native title bar JUCE takes the frame as nothing, whatever the manager says:
    // the placement takes the answered frame off itself.
    StandInWindowManager manager ({ lopsidedFrame, 60, std::nullopt });
    ASSERT_TRUE (manager.isRunning());
    UnshownWindow unshown (false);

    desktop::x11::FramePlacement placement (unshown.window);
    placement.place (wanted, [&] { unshown.window.setVisible (true); });

    const auto shown = unshown.shownAt (wanted);
    EXPECT_EQ (text (shown), wanted.toString()) << "the frame's left and top were taken off the wrong way";
}

TEST (FramePlacement, AWindowTheManagerPlacesElsewhereIsMovedBackOnceFramed)
{
    StandInWindowManager manager ({ lopsidedFrame, 60, juce::Point<int> (40, 30) });
    ASSERT_TRUE (manager.isRunning());
    UnshownWindow unshown (true);
    ASSERT_NE (unshown.window.getPeer()->getConstrainer(), nullptr);
    desktop::x11::FramePlacement placement (unshown.window);

    // Shown and painted once, then hidden, as a dialog is before its second showing: JUCE
    // sends its own bounds again at a window's first painting, which may happen to undo the
    // manager's choice. The second showing has only the placement to take the window back.
    placement.place (wanted.translated (100, 50), [&] { unshown.window.setVisible (true); });
    ASSERT_TRUE (pumpUntil ([&] { return unshown.content.painted; }, 5000)) << "the window was never painted";
    unshown.window.setVisible (false);
    ASSERT_TRUE (pumpUntil ([&] { return ! unshown.window.isShowing(); }, 5000));

    placement.place (wanted, [&] { unshown.window.setVisible (true); });
    const auto shown = unshown.shownAt (wanted);
    EXPECT_EQ (text (shown), wanted.toString()) << "the window stayed where the window manager put it";
    EXPECT_EQ (unshown.window.getPeer()->getConstrainer(), unshown.window.getConstrainer())
        << "the peer did not get its constrainer back once the window stood framed";
}

TEST (FramePlacement, ADialogWithASizeRuleIsFirstMappedWhereItWasPlacedByABusyManager)
{
    // The manager takes the dialog on a while after the map request, as one on a loaded machine
    // does, and reads the size hints only then: they must still ask for the position the
    // dialog was moved to, or the manager places it where it likes (as openbox does) and it
    // jumps once put back.
    StandInWindowManager manager ({ lopsidedFrame, 0, juce::Point<int> (40, 30), true, 300 });
    ASSERT_TRUE (manager.isRunning());

    UnshownWindow::Content content;
    juce::DialogWindow dialog ("placed", juce::Colours::grey, true, false);
    dialog.setUsingNativeTitleBar (true);
    dialog.setContentNonOwned (&content, false);
    dialog.setResizable (true, false);
    dialog.setResizeLimits (100, 75, 400, 300);
    dialog.setSize (wanted.getWidth(), wanted.getHeight());
    dialog.addToDesktop();
    ASSERT_NE (dialog.getPeer(), nullptr);

    {
        desktop::DialogWindowKeeper keeper (dialog);
        keeper.keepSizeRule ({ { 100, 75 }, { 400, 300 }, 0 });
        keeper.showAt (wanted);

        const auto native = desktop::x11::nativeWindowOf (*dialog.getPeer());
        ASSERT_TRUE (pumpUntil ([&] { return manager.askedForItsPositionWhenMapped (native).has_value(); }, 5000))
            << "the dialog was never mapped";
        EXPECT_TRUE (*manager.askedForItsPositionWhenMapped (native))
            << "the hints asked for no position when the manager took the dialog on: it placed the dialog itself";
        EXPECT_EQ (text (UnshownWindow::shownAtOf (dialog, wanted)), wanted.toString());
    }

    dialog.clearContentComponent();
    dialog.removeFromDesktop();
}
