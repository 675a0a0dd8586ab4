#include "app/PanelDialogWindow.h"

namespace
{
/** Whether a window of the program stays above the others: a new dialog does then too, or
    it would open behind it.
*/
bool anyWindowOnTop()
{
    auto& desktop = juce::Desktop::getInstance();

    for (int i = 0; i < desktop.getNumComponents(); ++i)
        if (auto* component = desktop.getComponent (i); component != nullptr && component->isAlwaysOnTop())
            return true;

    return false;
}
} // namespace

PanelDialogWindow::PanelDialogWindow (juce::DialogWindow::LaunchOptions& options, const juce::String& title,
                                      juce::Component* content, bool resizable)
    : juce::DialogWindow (title, options.dialogBackgroundColour, true, false,
                          options.componentToCentreAround != nullptr
                              ? juce::Component::getApproximateScaleFactorForComponent (options.componentToCentreAround)
                              : 1.0f)
{
    options.dialogTitle = title;
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = true;
    options.resizable = resizable;

    setContentOwned (content, true);
    centreAroundComponent (options.componentToCentreAround, getWidth(), getHeight());
    setResizable (resizable, options.useBottomRightCornerResizer);
    setUsingNativeTitleBar (true);
    setAlwaysOnTop (anyWindowOnTop());
}
