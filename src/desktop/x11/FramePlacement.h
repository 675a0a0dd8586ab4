#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <juce_gui_basics/juce_gui_basics.h>

namespace desktop::x11
{
/** Gives a hidden top-level window its client bounds so that it shows there from its first
    mapping.

    On X11 JUCE asks for the client's position less the frame it knows; a window that has not
    been framed yet has no frame known, and the window manager then puts its frame, not its
    client, at the position asked for: the first showing came up one title bar lower and one
    border right. So the window manager is asked for the frame first (as it allows for
    windows not yet mapped), and the window is placed once it has answered, or after half a
    second; JUCE then knows the frame before the window goes where it belongs.

    JUCE rewrites the size hints of a constrained window at every configure event, and the
    rewrite drops the position that its move put there. Should that happen between the move
    and the window manager taking the window on, the manager places the window where it
    likes; so the peer goes without its constrainer until the window stands framed, and
    the window is put where it was asked to go should the manager have placed it elsewhere.

    A member of the window it serves. Where no window manager answers, placing is a plain
    setBounds.
*/
class FramePlacement final : private juce::MultiTimer
{
public:
    explicit FramePlacement (juce::ResizableWindow& window);
    ~FramePlacement() override;

    /** Places the window, then calls show: at once, or (from the message loop) once the
        window manager has answered. A later call replaces one still waiting.
    */
    void place (juce::Rectangle<int> clientBounds, std::function<void()> show);

private:
    enum TimerIds
    {
        answerTimer,
        watchTimer
    };

    /** The watch's steps once the window is placed. */
    enum class Watch
    {
        idle,
        untilFramed, ///< the peer goes without its constrainer until the window stands framed
        confirming   ///< JUCE was asked to read the framed window's bounds again
    };

    /** Asks the window manager for the frame; false when it cannot answer. */
    bool askForFrame();
    void stopAsking();
    void finishPlacing (std::optional<juce::BorderSize<int>> frame, bool showLater);
    void moveToWanted (std::optional<juce::BorderSize<int>> frame);
    void startWatch();
    void watchStep();
    void timerCallback (int timerId) override;

    juce::ResizableWindow& window;

    juce::Rectangle<int> wanted;
    std::function<void()> show;
    int frameSubscription = 0;

    Watch watch = Watch::idle;
    juce::Point<int> watchedPosition;
    int watchTicks = 0;

    std::shared_ptr<bool> alive = std::make_shared<bool> (true);

    JUCE_DECLARE_NON_COPYABLE (FramePlacement)
};
} // namespace desktop::x11
