// The panel's side of the loopback dialog: where the dialog goes beside the panel, and
// what a "loopback_update" does to the device, loopbackMode and the stored setting.
#include "DialogInput.h"
#include "MenuTestSupport.h"
#include "app/DialogPlacement.h"

using namespace tarvik::test;

namespace
{
constexpr int loopbackId = 8197;

class LoopbackHandling : public MenuPanelTest
{
protected:
    /** Clicks a dialog button through the shown dialog window, as the user would. */
    static void click (juce::Button& button)
    {
        auto* window = loopbackWindow();
        ASSERT_NE (window, nullptr);
        ASSERT_TRUE (window->isShowing());
        clickInWindow (*window, window->getLocalPoint (&button, button.getLocalBounds().getCentre()));
    }

    juce::String storedLoopback() { return panel->getUserSettings()->getValue ("loopback", "absent"); }

    bool loopbackTicked() { return ! tickedIds (panel->getMenuForIndex (2, "PatchWEAVE")).empty(); }
};
} // namespace

TEST (DialogPlacement, GoesToTheSideOfTheMonitorWithMoreRoom)
{
    // Monitor 1440 wide, panel 452 wide, dialog 314 wide.
    EXPECT_EQ (dialogXBesidePanel (100, 452, 1440, 314), 552);  // right: 888 to spare there
    EXPECT_EQ (dialogXBesidePanel (900, 452, 1440, 314), 586);  // left: 586 is not less than 88
    EXPECT_EQ (dialogXBesidePanel (651, 452, 1440, 314), 337);  // left: 337 on either side, a tie goes left
    EXPECT_EQ (dialogXBesidePanel (650, 452, 1440, 314), 1102); // right: 336 against 338
    EXPECT_EQ (dialogXBesidePanel (1000, 452, 1440, 314), 1452); // panel past the edge: right again
}

TEST_F (LoopbackHandling, TheDialogOpensBesideThePanelLevelWithItsTop)
{
    auto& mainPanel = makePanel();
    PanelWindow main (mainPanel);
    auto* window = loopbackWindow();
    ASSERT_NE (window, nullptr);
    ASSERT_EQ (window->getWidth(), 314);
    ASSERT_EQ (mainPanel.getWidth(), 452);
    ASSERT_EQ (mainPanel.getParentMonitorArea().getWidth(), 1440);

    main.window.setTopLeftPosition (100, 60);
    mainPanel.menuItemSelected (loopbackId, 2);
    EXPECT_TRUE (window->isVisible());
    EXPECT_EQ (window->getPosition(), juce::Point<int> (552, mainPanel.getScreenY()));

    main.window.setTopLeftPosition (900, 40);
    mainPanel.showPatchWEAVEDialog (window, 0);
    EXPECT_EQ (window->getPosition(), juce::Point<int> (586, mainPanel.getScreenY()));
    EXPECT_EQ (window->getWidth(), 314);

    // Lifted on top only for the move; the user's choice comes back.
    EXPECT_FALSE (window->isAlwaysOnTop());
    window->setAlwaysOnTop (true);
    mainPanel.showPatchWEAVEDialog (window, 0);
    EXPECT_TRUE (window->isAlwaysOnTop());

    mainPanel.showPatchWEAVEDialog (nullptr, 0);
}

TEST_F (LoopbackHandling, AClickOnTheOnButtonSwitchesTheDeviceAndStoresTheState)
{
    sim().attachTarvik();
    auto& mainPanel = makePanel();
    auto* dialog = loopbackDialog();
    ASSERT_NE (dialog, nullptr);
    UpdateCounter updates (*dialog);
    mainPanel.showPatchWEAVEDialog (loopbackWindow(), 0);
    ASSERT_EQ (inspect().loopbackMode(), 0);

    auto sent = sim().usbTransfers().size();
    click (dialog->loopbackOnButton);
    EXPECT_TRUE (dialog->loopbackOnButton.getToggleState());
    EXPECT_FALSE (dialog->loopbackOffButton.getToggleState());

    ASSERT_TRUE (pumpUntil ([&] { return updates.count == 1; }));
    EXPECT_EQ (transferDataFrom (sent), (std::vector<std::vector<UInt8>> { { 0x55 }, { 0xAA }, { 0x03 } }));
    EXPECT_EQ (sim().loopback(), 1);
    EXPECT_EQ (inspect().loopbackMode(), 1);
    EXPECT_EQ (storedLoopback(), "1");
    EXPECT_TRUE (loopbackTicked());

    // The selected button again: the same request once more.
    sent = sim().usbTransfers().size();
    click (dialog->loopbackOnButton);
    ASSERT_TRUE (pumpUntil ([&] { return updates.count == 2; }));
    EXPECT_EQ (transferDataFrom (sent), (std::vector<std::vector<UInt8>> { { 0x55 }, { 0xAA }, { 0x03 } }));
}

TEST_F (LoopbackHandling, WithTheRawDeviceAbsentTheSelectionChangesButTheStoredStateDoesNot)
{
    storeLoopback ("1");
    tarvik::sim::TarvikOptions noRawChannel;
    noRawChannel.withUsb = false;
    sim().attachTarvik (noRawChannel);
    auto& mainPanel = makePanel();
    auto* dialog = loopbackDialog();
    ASSERT_NE (dialog, nullptr);
    UpdateCounter updates (*dialog);
    mainPanel.showPatchWEAVEDialog (loopbackWindow(), 0);
    ASSERT_EQ (inspect().loopbackMode(), 1);

    click (dialog->loopbackOffButton);
    ASSERT_TRUE (pumpUntil ([&] { return updates.count == 1; }));
    EXPECT_EQ (dialog->getLoopbackState(), 0);
    EXPECT_EQ (inspect().loopbackMode(), 1);
    EXPECT_EQ (storedLoopback(), "1");
    EXPECT_FALSE (loopbackTicked()); // the tick follows the dialog, not the device
    EXPECT_TRUE (transferDataFrom (0).empty());
    EXPECT_EQ (sim().loopback(), -1);
}

TEST_F (LoopbackHandling, AnUpdateWithNothingSelectedSendsNothingButStoresTheMode)
{
    sim().attachTarvik();
    auto& mainPanel = makePanel();
    auto* dialog = loopbackDialog();
    ASSERT_NE (dialog, nullptr);
    UpdateCounter updates (*dialog);
    ASSERT_EQ (storedLoopback(), "absent");

    dialog->sendActionMessage ("loopback_update");
    ASSERT_TRUE (pumpUntil ([&] { return updates.count == 1; }));
    EXPECT_TRUE (transferDataFrom (0).empty());
    EXPECT_EQ (storedLoopback(), "0");

    // Other messages touch neither the device nor the setting.
    mainPanel.getUserSettings()->removeValue ("loopback");
    dialog->sendActionMessage ("Loopback_Update");
    pumpFor (100);
    EXPECT_EQ (storedLoopback(), "absent");
}
