// The panel's windows on an X11 desktop with a window manager.

#include "desktop/DesktopWindows.h"

#include "controls/VYRBorderBoundsConstrainer.h"
#include "desktop/x11/FramePlacement.h"
#include "desktop/x11/SizeHints.h"
#include "desktop/x11/UnmaximisedBounds.h"
#include "desktop/x11/WindowFitting.h"
#include "desktop/x11/XConnection.h"

#include <optional>

namespace desktop
{
namespace
{
ClientSizeRule mainWindowRule (const BorderBoundsConstrainer& limits)
{
    const int strip = limits.extraTop;
    return { { limits.getMinimumWidth(), limits.getMinimumHeight() + strip },
             { limits.getMaximumWidth(), limits.getMaximumHeight() + strip },
             strip };
}

/** The window state without the " frame t l b r" that JUCE appends on Linux. Restoring with it,
    JUCE asks for the client one frame up and left of where it was, expecting the window manager
    to put the frame there; the window manager puts the client there (as it does for the centred
    default window), and the window came back shifted by its title bar.
*/
juce::String withoutFrame (const juce::String& windowState)
{
    const auto frame = windowState.indexOf (" frame ");
    return frame < 0 ? windowState : windowState.substring (0, frame);
}

/** The window state with other bounds, in the form JUCE writes it (the frame kept). */
juce::String withBounds (const juce::String& windowState, juce::Rectangle<int> bounds)
{
    const auto frame = windowState.indexOf (" frame ");
    return bounds.toString() + (frame < 0 ? juce::String() : windowState.substring (frame));
}
} // namespace

//==============================================================================
struct MainWindowKeeper::Impl
{
    Impl (juce::DocumentWindow& window, BorderBoundsConstrainer& limits, std::function<void()> syncFrameBorder)
        : hints (window, mainWindowRule (limits)),
          fitting (window, limits, limits.extraTop, std::move (syncFrameBorder)),
          unmaximised (window)
    {
    }

    x11::SizeHints hints;
    x11::WindowFitting fitting;
    x11::UnmaximisedBounds unmaximised;
};

MainWindowKeeper::MainWindowKeeper (juce::DocumentWindow& window, BorderBoundsConstrainer& limits,
                                    std::function<void()> syncFrameBorder)
    : impl (std::make_unique<Impl> (window, limits, std::move (syncFrameBorder)))
{
}

MainWindowKeeper::~MainWindowKeeper() = default;

juce::String MainWindowKeeper::stateToRestore (const juce::String& stored) const { return withoutFrame (stored); }

juce::String MainWindowKeeper::stateToStore (const juce::String& windowState) const
{
    const auto before = impl->unmaximised.whileMaximised();
    return before ? withBounds (windowState, *before) : windowState;
}

void MainWindowKeeper::windowResized()
{
    impl->fitting.fitContentInOversizedWindow();
    impl->fitting.windowResized();
}

bool MainWindowKeeper::contentMaySizeWindow() const { return impl->fitting.contentMaySizeWindow(); }
void MainWindowKeeper::placeOnceFramed() { impl->fitting.placeOnceFramed(); }
void MainWindowKeeper::updatePendingPlacement() { impl->fitting.updatePendingPlacement(); }
void MainWindowKeeper::matchServerBounds() { impl->fitting.matchServerBounds(); }

//==============================================================================
struct DialogWindowKeeper::Impl : private juce::ComponentListener
{
    explicit Impl (juce::DialogWindow& w) : window (w), placement (w) { window.addComponentListener (this); }
    ~Impl() override { window.removeComponentListener (this); }

    void componentMovedOrResized (juce::Component&, bool, bool wasResized) override
    {
        if (wasResized && fitting)
            fitting->windowResized();
    }

    juce::DialogWindow& window;
    x11::FramePlacement placement;
    std::optional<x11::SizeHints> hints;
    std::optional<x11::WindowFitting> fitting;
};

DialogWindowKeeper::DialogWindowKeeper (juce::DialogWindow& window)
    : impl (std::make_unique<Impl> (window))
{
}

DialogWindowKeeper::~DialogWindowKeeper() = default;

void DialogWindowKeeper::keepSizeRule (ClientSizeRule rule)
{
    impl->hints.reset();
    impl->hints.emplace (impl->window, rule);

    // The window manager may leave the aspect while the frame is dragged: brought back once it is let go.
    impl->fitting.reset();

    if (auto* limits = impl->window.getConstrainer())
        impl->fitting.emplace (impl->window, *limits, rule.topStrip, nullptr);
}

void DialogWindowKeeper::showAt (juce::Rectangle<int> clientBounds)
{
    auto& window = impl->window;

    // Placed while still hidden, so that the window manager frames it there from the start.
    // X11 has no on-top switch for a mapped window: the framework would make the native
    // window afresh twice, and the window manager frames each new one at another size.
    impl->placement.place (clientBounds, [&window] {
        window.setVisible (true);
        window.toFront (true);
    });
}

void DialogWindowKeeper::placeThenShow (juce::Rectangle<int> clientBounds, std::function<void()> show)
{
    impl->placement.place (clientBounds, std::move (show));
}

//==============================================================================
namespace
{
// The state asked for, remembered with the window: the window manager's answer comes later,
// and without one (no window manager) there is none.
const juce::Identifier onTopProperty ("tarvikKeptOnTop");
} // namespace

bool isKeptOnTop (const juce::Component& window)
{
    if (const auto* kept = window.getProperties().getVarPointer (onTopProperty))
        return (bool) *kept;

    return window.isAlwaysOnTop();
}

void setKeptOnTop (juce::Component& window, bool onTop)
{
    auto* peer = window.getPeer();

    // Without a native window there is nothing to make afresh: JUCE's own switch serves.
    if (peer == nullptr)
    {
        window.getProperties().remove (onTopProperty);
        window.setAlwaysOnTop (onTop);
        return;
    }

    // JUCE's peer refuses the change, and JUCE then makes the native window afresh, which the
    // window manager places again (a frame lower each time): ask the window manager instead.
    if (auto* x = x11::XConnection::get())
        x->sendToWindowManager (x11::nativeWindowOf (*peer), "_NET_WM_STATE",
                                { onTop ? 1 : 0, (long) x->atom ("_NET_WM_STATE_ABOVE"), 0, 1, 0 });

    window.getProperties().set (onTopProperty, onTop);
}

void bringToFront (juce::DocumentWindow& window)
{
    // Coming forward must not change the window's always-on-top state.
    const bool wasOnTop = window.isAlwaysOnTop();
    window.toFront (true);

    if (window.isAlwaysOnTop() != wasOnTop)
        window.setAlwaysOnTop (wasOnTop);
}

int placeMenus (juce::MenuBarComponent& bar, juce::MenuBarModel&, juce::LookAndFeel& stripLook)
{
    // No global menu bar here: the menus live in the window, above the face.
    bar.setLookAndFeel (&stripLook);
    return bar.getLookAndFeel().getDefaultMenuBarHeight();
}

void removeMenus (juce::MenuBarComponent&) {}
} // namespace desktop
