#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace tarvik::test
{
/** Puts a component in a bare desktop window and feeds it mouse input through its
    peer, so events take the framework's real route (hit test, mouse listeners). */
class DesktopMouse final
{
public:
    explicit DesktopMouse (juce::Component& content);
    ~DesktopMouse();

    void move (int x, int y);
    void down (int x, int y);
    void drag (int x, int y);
    void up (int x, int y);
    void wheel (int x, int y, float deltaY);

private:
    void send (int x, int y, juce::ModifierKeys mods);

    juce::Component& content;
    juce::int64 time;
};

/** An opaque image of one colour. */
juce::Image solidImage (int width, int height, juce::Colour colour);

/** While it lives, the default sans-serif font is a synthetic face whose every glyph
    advances by the given fraction of the font height, so text widths are exact; the
    system's face is back once it goes. */
class FixedAdvanceFont final
{
public:
    explicit FixedAdvanceFont (float advance);
    ~FixedAdvanceFont();

    JUCE_DECLARE_NON_COPYABLE (FixedAdvanceFont)
};
} // namespace tarvik::test
