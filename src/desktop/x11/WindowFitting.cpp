#include "desktop/x11/WindowFitting.h"

#include "desktop/x11/OversizedWindow.h"
#include "desktop/x11/ServerBounds.h"

#include <utility>

namespace desktop::x11
{
WindowFitting::WindowFitting (juce::ResizableWindow& w, const juce::ComponentBoundsConstrainer& l, int s,
                              std::function<void()> sync)
    : window (w), limits (l), strip (s), syncFrameBorder (std::move (sync))
{
}

WindowFitting::~WindowFitting()
{
    stopTimer();
}

void WindowFitting::fitContentInOversizedWindow()
{
    if (auto* content = window.getContentComponent())
    {
        if (const auto area = panelAreaInOversizedWindow (window.getLocalBounds(), limits, strip))
        {
            const juce::ScopedValueSetter<bool> fitting (fittingContent, true);
            content->setBounds (*area);
        }
    }
}

void WindowFitting::windowResized()
{
    // A resize from the window manager's frame never passes the constrainer here;
    // once it has settled, bring the face back to its aspect and limits.
    if (window.isShowing() && ! correcting)
        startTimer (250);
}

void WindowFitting::placeOnceFramed()
{
    stage = Stage::placing;
    placement = window.getBounds();
    framelessTicks = 0;
    placementTries = 0;
    startTimer (50);
}

void WindowFitting::updatePendingPlacement()
{
    if (stage == Stage::placing)
        placement = window.getBounds();
}

void WindowFitting::matchServerBounds()
{
    if (auto* peer = window.getPeer())
        if (! window.isFullScreen() && ! window.isMinimised() && ! isNativelyMaximised (*peer))
            if (const auto actual = readNativeBounds (*peer))
                if (*actual != window.getBounds())
                    window.setBounds (*actual);
}

void WindowFitting::timerCallback()
{
    auto* peer = window.getPeer();

    if (peer == nullptr || ! window.isShowing() || window.isFullScreen() || window.isMinimised())
    {
        stopTimer();
        return;
    }

    // Until the window manager has framed the window, a move would be taken the wrong way;
    // with no window manager there is no frame to wait for.
    if (! peer->getFrameSizeIfPresent())
    {
        if (++framelessTicks > 40)
        {
            stopTimer();

            if (stage == Stage::placing)
                stage = Stage::fitting;
        }

        return;
    }

    stopTimer();

    if (syncFrameBorder != nullptr)
        syncFrameBorder();

    const juce::ScopedValueSetter<bool> guard (correcting, true);

    // A maximised window is the window manager's to place and size (a request would
    // take it out of the maximised state); the face is fitted inside it.
    if (isNativelyMaximised (*peer))
    {
        if (stage == Stage::placing)
            stage = Stage::fitting;

        return;
    }

    if (stage == Stage::placing)
    {
        place (*peer);
        return;
    }

    // While a button is held the frame may still be in the user's hand, and a window
    // manager busy with its own resize drops requests: wait until it has been let go
    // for a moment, so that the manager has ended the resize too.
    if (juce::ComponentPeer::getCurrentModifiersRealtime().isAnyMouseButtonDown())
    {
        pointerWasHeld = true;
        startTimer (250);
        return;
    }

    if (std::exchange (pointerWasHeld, false))
    {
        startTimer (250);
        return;
    }

    // JUCE counts the last correction as done; have it read what the window really is.
    // Should the request have been dropped, that shows as a resize, and the correction
    // comes round again.
    if (stage == Stage::confirming)
    {
        stage = Stage::fitting;

        if (refreshNativeBounds (*peer))
            startTimer (400);

        return;
    }

    fit();
}

void WindowFitting::place (juce::ComponentPeer& peer)
{
    // Ask the server: JUCE takes its last request as done, and the window manager
    // may have put the frame, not the client, where that request said.
    const auto actual = readNativeBounds (peer).value_or (window.getBounds());

    if (actual == placement || ++placementTries > 10)
    {
        stage = Stage::fitting;
        matchServerBounds();
        return;
    }

    // JUCE skips a request for the bounds it believes the window has already.
    if (window.getBounds() != actual)
        window.setBounds (actual);

    window.setBoundsConstrained (placement);
    startTimer (300);
}

void WindowFitting::fit()
{
    // Shrink the side that is too long for the face's aspect, so that a window manager
    // holding the window to its own size hints can take the result.
    const auto current = window.getBounds();
    const auto aspect = limits.getFixedAspectRatio();
    int width = current.getWidth();
    int faceHeight = current.getHeight() - strip;

    if (aspect <= 0.0 || faceHeight <= 0)
        return;

    // The height always follows from the width, as the constrainer makes it when the
    // window is restored: a size stored from here comes back exactly.
    if (width > juce::roundToInt (faceHeight * aspect))
        width = juce::roundToInt (faceHeight * aspect);

    width = juce::jlimit (limits.getMinimumWidth(), limits.getMaximumWidth(), width);
    faceHeight = juce::roundToInt (width / aspect);

    const juce::Rectangle<int> wanted (current.getX(), current.getY(), width, faceHeight + strip);

    if (wanted == current)
        return;

    // A window manager still busy with its own resize (the user may still hold the
    // frame) drops the request; ask again for some seconds, but not for ever: one
    // that holds the window to other size hints would refuse every time.
    correctionsOfThisSize = current == lastCorrected ? correctionsOfThisSize + 1 : 0;
    lastCorrected = current;

    if (correctionsOfThisSize >= 25)
        return;

    // Not through the window's constrainer: a dialog's one would hold the frame, not the
    // client, to the limits and the aspect. What is asked for here keeps to both already.
    window.setBounds (wanted);
    stage = Stage::confirming;
    startTimer (400);
}
} // namespace desktop::x11
