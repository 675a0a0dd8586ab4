#include "controls/PopupMenuLookAndFeel.h"

#include <cmath>

namespace
{
int slotWidth (const juce::Font& font, const juce::String& name)
{
    return (int) std::ceil (font.getStringWidthFloat (name)) + 10;
}

int slotsWidth (const juce::Font& font, const juce::StringArray& names)
{
    int total = 0;

    for (const auto& name : names)
        total += slotWidth (font, name);

    return total;
}
} // namespace

PopupMenuLookandFeel::PopupMenuLookandFeel() = default;

PopupMenuLookandFeel::~PopupMenuLookandFeel() = default;

void PopupMenuLookandFeel::drawMenuBarBackground (juce::Graphics& g, int width, int height,
                                                  bool, juce::MenuBarComponent&)
{
    g.setColour (juce::Colours::lightgrey);
    g.fillRect (0, 0, width, height);
}

juce::Font PopupMenuLookandFeel::getMenuBarFont (juce::MenuBarComponent& bar, int itemIndex, const juce::String& itemText)
{
    auto font = LookAndFeel_V4::getMenuBarFont (bar, itemIndex, itemText);

    // The bar is the window's own and as narrow as the smallest face: every name must fit whole.
    // The font shrinks with the bar, as little as it can.
    const auto names = bar.getModel() != nullptr ? bar.getModel()->getMenuBarNames() : juce::StringArray();
    const int room = bar.getWidth() - 10 * names.size();
    const int needed = slotsWidth (font, names);

    if (names.isEmpty() || room <= 0 || needed <= bar.getWidth())
        return font;

    const auto textWidth = (float) (needed - 10 * names.size());
    auto height = font.getHeight() * (float) room / textWidth;

    // Each slot is rounded up to whole pixels: step down until the rounded slots fit too.
    while (height > 1.0f && slotsWidth (font.withHeight (height), names) > bar.getWidth())
        height -= 0.1f;

    return font.withHeight (height);
}

int PopupMenuLookandFeel::getMenuBarItemWidth (juce::MenuBarComponent& bar, int itemIndex,
                                               const juce::String& itemText)
{
    return slotWidth (getMenuBarFont (bar, itemIndex, itemText), itemText);
}

void PopupMenuLookandFeel::drawMenuBarItem (juce::Graphics& g, int width, int height,
                                            int itemIndex, const juce::String& itemText,
                                            bool, bool, bool, juce::MenuBarComponent& bar)
{
    // Drawn in the font its slot was measured in, so that the name fills the slot as measured.
    g.setFont (getMenuBarFont (bar, itemIndex, itemText));
    g.setColour (juce::Colours::black);
    g.drawText (itemText, juce::Rectangle<float> (0.0f, 0.0f, (float) width, (float) height),
                juce::Justification::centred, false);
}
