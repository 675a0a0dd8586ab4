#pragma once

#include <functional>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

class BorderBoundsConstrainer;

/** What the panel's windows need from the desktop beyond what JUCE does for them.

    Callers include this header only; the build adds the bodies for the desktop it targets
    (X11 with a window manager, or macOS, where JUCE's own behaviour is enough).
*/
namespace desktop
{
/** The client sizes a resizable window allows, as the window manager is to see them: from
    smallestClient to largestClient, and below a top strip of topStrip pixels (left out of
    the aspect) the aspect of the smallest size.
*/
struct ClientSizeRule
{
    juce::Point<int> smallestClient, largestClient;
    int topStrip = 0;
};

/** Keeps the main window in step with the desktop: its size hints, its placement once the
    window manager has framed it, the face's aspect after a frame drag, and the panel's
    place in a window made larger than the largest face. A member of the main window.
*/
class MainWindowKeeper final
{
public:
    /** limits is the window's constrainer: the face's limits and aspect, with the menu
        strip (extraTop) left out of them; syncFrameBorder makes it take the frame of the moment.
    */
    MainWindowKeeper (juce::DocumentWindow& window, BorderBoundsConstrainer& limits,
                      std::function<void()> syncFrameBorder);
    ~MainWindowKeeper();

    /** The stored window state as it is to be restored here. */
    juce::String stateToRestore (const juce::String& stored) const;

    /** The window's state (getWindowStateAsString) as it is to be stored: while the window
        manager holds the window maximised, with the bounds from before maximising.
    */
    juce::String stateToStore (const juce::String& windowState) const;

    /** Call from the window's resized(), after the base class's. */
    void windowResized();

    /** Whether the content may size the window to itself just now (childBoundsChanged). */
    bool contentMaySizeWindow() const;

    /** Puts the window at its present bounds again once the window manager has framed it. */
    void placeOnceFramed();

    /** A move the program made since: the pending placement must not undo it. */
    void updatePendingPlacement();

    /** Brings JUCE's idea of the window's bounds to where the window really is, so that
        what is stored is that.
    */
    void matchServerBounds();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;

    JUCE_DECLARE_NON_COPYABLE (MainWindowKeeper)
};

/** Keeps one of the panel's dialog windows in step with the desktop. A member of the dialog. */
class DialogWindowKeeper final
{
public:
    explicit DialogWindowKeeper (juce::DialogWindow& window);
    ~DialogWindowKeeper();

    /** Holds the window manager to these sizes and this aspect. */
    void keepSizeRule (ClientSizeRule rule);

    /** Shows the dialog with its client at the given bounds and brings it up, leaving its
        always-on-top state as the user chose it.
    */
    void showAt (juce::Rectangle<int> clientBounds);

    /** Puts the hidden dialog's client at the given bounds, then calls show: at once, or
        once the window manager has said how large the dialog's frame will be.
    */
    void placeThenShow (juce::Rectangle<int> clientBounds, std::function<void()> show);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;

    JUCE_DECLARE_NON_COPYABLE (DialogWindowKeeper)
};

/** Whether a top-level window is kept above the others, as this desktop has it. */
bool isKeptOnTop (const juce::Component& window);

/** Keeps a top-level window above the others, or not, leaving it where it is. */
void setKeptOnTop (juce::Component& window, bool onTop);

/** Brings the program's window to the front, leaving its always-on-top state alone. */
void bringToFront (juce::DocumentWindow& window);

/** Puts the panel's menus where this desktop shows a program's menus: the system's menu
    bar, or the panel's own strip above the face.

    @returns the height of the strip the panel must leave for the bar (0 for the system's)
*/
int placeMenus (juce::MenuBarComponent& bar, juce::MenuBarModel& model, juce::LookAndFeel& stripLook);

/** Takes the menus back from wherever placeMenus put them. */
void removeMenus (juce::MenuBarComponent& bar);
} // namespace desktop
