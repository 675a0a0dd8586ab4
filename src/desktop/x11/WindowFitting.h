#pragma once

#include <functional>
#include <optional>

#include <juce_gui_basics/juce_gui_basics.h>

namespace desktop::x11
{
/** Keeps a resizable window's client where the program put it and its face in its aspect
    and limits, under a window manager that JUCE 7.0.5 does not fully follow.

    - The first placement is made again once the window manager has framed the window:
      before that, X11 may take a requested position for the frame or for the client.
    - A resize from the window manager's frame never passes the constrainer; once the
      frame is let go and has settled, the face is brought back to its aspect and limits,
      its top-left corner where the window manager left it.
    - A window maximised past the largest face shows the face at its largest, centred.

    The face is the client less a strip at its top (the main window's menu bar), which the
    limits and the aspect leave out. Each step runs from a timer, one at a time, as a state
    machine of named stages. A member of the keeper of the window it serves.
*/
class WindowFitting final : private juce::Timer
{
public:
    /** syncFrameBorder, when given, makes the window's constrainer take the frame of the moment. */
    WindowFitting (juce::ResizableWindow& window, const juce::ComponentBoundsConstrainer& limits, int strip,
                   std::function<void()> syncFrameBorder);
    ~WindowFitting() override;

    /** Call whenever the window has been resized. */
    void windowResized();

    /** Puts the content in the middle of a window larger than the largest face. */
    void fitContentInOversizedWindow();

    bool contentMaySizeWindow() const noexcept { return ! fittingContent; }
    void placeOnceFramed();
    void updatePendingPlacement();
    void matchServerBounds();

private:
    /** What the next step does once the window stands framed and the pointer is free. */
    enum class Stage
    {
        placing,    ///< the first placement is asked for again until the server has it
        fitting,    ///< the face is checked against its aspect and limits
        confirming  ///< a correction was asked for; JUCE reads the real bounds again
    };

    void timerCallback() override;
    void place (juce::ComponentPeer& peer);
    void fit();

    juce::ResizableWindow& window;
    const juce::ComponentBoundsConstrainer& limits;
    const int strip;
    const std::function<void()> syncFrameBorder;

    Stage stage = Stage::fitting;
    juce::Rectangle<int> placement;

    /** A held button may be the user's hand on the frame: wait for it, then a moment more. */
    bool pointerWasHeld = false;

    // Budgets, so that a window manager that never complies is not asked for ever.
    int framelessTicks = 0;
    int placementTries = 0;
    juce::Rectangle<int> lastCorrected;
    int correctionsOfThisSize = 0;

    // Guards against the window's own changes coming back as resizes.
    bool correcting = false;
    bool fittingContent = false;

    JUCE_DECLARE_NON_COPYABLE (WindowFitting)
};
} // namespace desktop::x11
