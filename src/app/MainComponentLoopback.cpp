#include "app/MainComponent.h"

#include "app/DialogPlacement.h"
#include "app/PWLoopbackDialog.h"
#include "device/RawUSBDevice.h"

void MainComponent::showPatchWEAVEDialog (juce::DialogWindow* dialogWindow, int /*unused*/)
{
    if (dialogWindow == nullptr)
        return;

    const auto panelPosition = getScreenPosition();
    const auto width = dialogWindow->getWidth();
    const auto x = dialogXBesidePanel (panelPosition.x, getWidth(), getParentMonitorArea().getWidth(), width);
    const juce::Rectangle<int> place (x, panelPosition.y, width, dialogWindow->getHeight());

    if (auto* panelDialog = dynamic_cast<PanelDialogWindow*> (dialogWindow))
    {
        panelDialog->showAt (place);
    }
    else
    {
        dialogWindow->setBounds (place);
        dialogWindow->setVisible (true);
    }
}

void MainComponent::actionListenerCallback (const juce::String& message)
{
    if (message == "loopback_update")
    {
        // The dialog's state now, which may be newer than the click that sent the message.
        const int state = loopbackDialog != nullptr ? loopbackDialog->getLoopbackState() : -1;

        // loopbackMode is what the device took; a refused switch leaves it alone.
        if ((state == 0 || state == 1) && ubs_hw_toggleLoopbackMode ((unsigned int) state) == kIOReturnSuccess)
            loopbackMode = state;

        settings->setValue ("loopback", loopbackMode);

        if (menuBar != nullptr)
            menuBar->sendLookAndFeelChange();
    }

    menuItemsChanged();
}
