#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    Menu-bar look: a flat lightgrey bar with each top-level name in black,
    centred in a slot 10 pixels wider than the name. Hover and open states
    look the same as the rest. The names are set in 0.7 of the bar's height, or
    smaller where the slots of all the bar's names would not fit its width.
*/
class PopupMenuLookandFeel final : public juce::LookAndFeel_V4
{
public:
    PopupMenuLookandFeel();
    ~PopupMenuLookandFeel() override;

    void drawMenuBarBackground (juce::Graphics&, int width, int height,
                                bool isMouseOverBar, juce::MenuBarComponent&) override;

    juce::Font getMenuBarFont (juce::MenuBarComponent&, int itemIndex, const juce::String& itemText) override;

    int getMenuBarItemWidth (juce::MenuBarComponent&, int itemIndex, const juce::String& itemText) override;

    void drawMenuBarItem (juce::Graphics&, int width, int height,
                          int itemIndex, const juce::String& itemText,
                          bool isMouseOverItem, bool isMenuOpen, bool isMouseOverBar,
                          juce::MenuBarComponent&) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PopupMenuLookandFeel)
};
