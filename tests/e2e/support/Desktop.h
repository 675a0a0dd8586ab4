#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <juce_graphics/juce_graphics.h>

#include "support/ChildProcess.h"

namespace tarvik::e2e
{
using test::ChildProcess;
using test::readFile;

/** A private X display with a window manager, as a user's desktop would have. */
class Desktop final
{
public:
    Desktop();
    ~Desktop();

    bool start();
    const std::string& display() const noexcept { return displayName; }

    /** The environment every program on this desktop gets. */
    std::map<std::string, std::string> environment() const;

    /** The top-level window whose title is exactly the given text, if it is mapped. */
    std::optional<unsigned long> findWindow (const std::string& title) const;

    /** Client area of a window in screen coordinates (without the window manager's frame). */
    juce::Rectangle<int> clientBounds (unsigned long window) const;

    juce::Rectangle<int> screenBounds() const;

    /** The window manager's frame around a client window (all 0 when it sets none). */
    juce::BorderSize<int> frameExtents (unsigned long window) const;

    /** Titles of the mapped windows the window manager manages. */
    std::vector<std::string> managedWindowTitles() const;

    /** The mapped windows the window manager manages, with their titles. */
    std::vector<std::pair<unsigned long, std::string>> managedWindows() const;

    /** Mapped top-level windows that bypass the window manager (open menus, for one), in
        stacking order from the bottom.
    */
    std::vector<juce::Rectangle<int>> unmanagedWindows() const;

    /** The whole screen as it is now. */
    juce::Image screenshot() const;

    /** Part of the screen as it is now; quick enough to catch short-lived states. */
    juce::Image screenshot (juce::Rectangle<int> area) const;

    // Real pointer and keyboard input, through the XTEST extension (xdotool).
    void moveMouse (juce::Point<int> screenPosition) const;
    void click (juce::Point<int> screenPosition, int button = 1) const;
    void drag (juce::Point<int> from, juce::Point<int> to, int steps = 10) const;
    void wheel (juce::Point<int> screenPosition, int notches) const;
    void key (const std::string& keyName) const;

    /** Runs an X tool on this display and returns its output. */
    std::string runTool (const std::vector<std::string>& argv) const;

private:
    bool startOnce();

    std::string displayName;
    // Declared first, ended last: the window manager goes before its display.
    std::unique_ptr<test::VirtualDisplay> xvfb;
    std::unique_ptr<ChildProcess> windowManager;
};
} // namespace tarvik::e2e
