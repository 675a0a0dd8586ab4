#include "ControlsTestSupport.h"

namespace tarvik::test
{
DesktopMouse::DesktopMouse (juce::Component& c)
    : content (c), time (juce::Time::currentTimeMillis())
{
    content.addToDesktop (0);
    content.setVisible (true);
}

DesktopMouse::~DesktopMouse() { content.removeFromDesktop(); }

void DesktopMouse::send (int x, int y, juce::ModifierKeys mods)
{
    content.getPeer()->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse,
                                         { (float) x, (float) y }, mods,
                                         juce::MouseInputSource::defaultPressure,
                                         juce::MouseInputSource::defaultOrientation, ++time);
}

void DesktopMouse::move (int x, int y) { send (x, y, {}); }
void DesktopMouse::down (int x, int y) { send (x, y, juce::ModifierKeys::leftButtonModifier); }
void DesktopMouse::drag (int x, int y) { send (x, y, juce::ModifierKeys::leftButtonModifier); }
void DesktopMouse::up (int x, int y) { send (x, y, {}); }

void DesktopMouse::wheel (int x, int y, float deltaY)
{
    juce::MouseWheelDetails details {};
    details.deltaY = deltaY;
    content.getPeer()->handleMouseWheel (juce::MouseInputSource::InputSourceType::mouse,
                                         { (float) x, (float) y }, ++time, details);
}

juce::Image solidImage (int width, int height, juce::Colour colour)
{
    juce::Image image (juce::Image::RGB, width, height, false);
    image.clear (image.getBounds(), colour);
    return image;
}

FixedAdvanceFont::FixedAdvanceFont (float advance)
{
    auto face = juce::Typeface::Ptr (new juce::CustomTypeface());
    auto* custom = static_cast<juce::CustomTypeface*> (face.get());
    custom->setCharacteristics ("Fixed", 0.8f, false, false, ' ');

    juce::Path box;
    box.addRectangle (0.05f, -0.6f, advance * 0.8f, 0.6f);

    for (juce::juce_wchar c = 32; c < 127; ++c)
        custom->addGlyph (c, box, advance);

    juce::LookAndFeel::getDefaultLookAndFeel().setDefaultSansSerifTypeface (face);
}

// Null is the framework's own setting: the face found among the system's fonts.
FixedAdvanceFont::~FixedAdvanceFont() { juce::LookAndFeel::getDefaultLookAndFeel().setDefaultSansSerifTypeface (nullptr); }
} // namespace tarvik::test
