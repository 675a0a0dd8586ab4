// The loopback dialog: layout at the art's sizes, trace lines, curves, radio clicks and its window.
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/DialogInput.h"
#include "app/PWLoopbackDialog.h"
#include "support/MessageLoop.h"
#include "support/NativeWindow.h"

using tarvik::test::pumpUntil;

namespace
{
const juce::Colour curveGreen (0xff008000);

// A curve is one sub-path with one quadratic segment; checks its three points and its colour.
void expectCurve (const LoopBackConnectionPath& path, juce::Point<float> start, juce::Point<float> control, juce::Point<float> end)
{
    juce::Path::Iterator it (path.getCurve());
    ASSERT_TRUE (it.next() && it.elementType == juce::Path::Iterator::startNewSubPath);
    EXPECT_EQ (juce::Point<float> (it.x1, it.y1), start);
    ASSERT_TRUE (it.next() && it.elementType == juce::Path::Iterator::quadraticTo);
    EXPECT_EQ (juce::Point<float> (it.x1, it.y1), control);
    EXPECT_EQ (juce::Point<float> (it.x2, it.y2), end);
    EXPECT_FALSE (it.next());
    EXPECT_EQ (path.getStartPoint(), start);
    EXPECT_EQ (path.getEndPoint(), end);
    EXPECT_EQ (path.getCurveColour(), curveGreen);
}

juce::String capturedTrace (const std::function<void()>& action)
{
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

juce::Image snapshot (juce::Component& c)
{
    return c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f);
}

struct Recorder final : juce::ActionListener
{
    explicit Recorder (PatchweaveLoopbackDialog& d) : dialog (d) { dialog.addActionListener (this); }
    ~Recorder() override { dialog.removeActionListener (this); }

    void actionListenerCallback (const juce::String& message) override
    {
        messages.add (message);
        statesOnArrival.push_back (dialog.getLoopbackState());
    }

    PatchweaveLoopbackDialog& dialog;
    juce::StringArray messages;
    std::vector<int> statesOnArrival;
};
} // namespace

TEST (LoopbackDialog, ConstructionTracesAndLaysOutAtTheDesignSize)
{
    std::unique_ptr<PatchweaveLoopbackDialog> dialog;
    const auto trace = capturedTrace ([&] { dialog = std::make_unique<PatchweaveLoopbackDialog>(); });

    EXPECT_EQ (trace, "resized: 0.975155 314\nGross\nKonstr: 0.975155\nresized: 0.975155 314\nGross\n");
    EXPECT_EQ (dialog->getWidth(), 314);
    EXPECT_EQ (dialog->getHeight(), 322);
    EXPECT_EQ (dialog->getLoopbackState(), -1);

    EXPECT_EQ (dialog->loopbackOnButton.getBounds(), juce::Rectangle<int> (13, 96, 46, 45));
    EXPECT_EQ (dialog->loopbackOffButton.getBounds(), juce::Rectangle<int> (13, 203, 46, 45));
    EXPECT_TRUE (dialog->loopbackOnButton.isVisible());
    EXPECT_EQ (dialog->loopbackOnButton.getParentComponent(), dialog.get());

    const auto& on = dialog->getLoopbackOnPaths();
    const auto& off = dialog->getLoopbackOffPaths();
    ASSERT_EQ (on.size(), 2);
    ASSERT_EQ (off.size(), 2);
    expectCurve (*on[0], { 98, 96 }, { 124, 270 }, { 266, 203 });
    expectCurve (*on[1], { 98, 140 }, { 96, 298 }, { 266, 249 });
    expectCurve (*off[0], { 98, 205 }, { 182, 237 }, { 266, 203 });
    expectCurve (*off[1], { 98, 249 }, { 182, 282 }, { 266, 249 });

    // The curves are holders only, never children.
    EXPECT_EQ (dialog->getNumChildComponents(), 2);
}

TEST (LoopbackDialog, SmallSizeLayoutAndTheArtThresholdAt205)
{
    PatchweaveLoopbackDialog dialog;

    const auto smallTrace = capturedTrace ([&] { dialog.setSize (157, 161); });
    EXPECT_EQ (smallTrace, "resized: 0.975155 157\n");
    EXPECT_EQ (dialog.loopbackOnButton.getBounds(), juce::Rectangle<int> (6, 48, 23, 22));
    EXPECT_EQ (dialog.loopbackOffButton.getBounds(), juce::Rectangle<int> (6, 101, 23, 22));
    expectCurve (*dialog.getLoopbackOnPaths()[0], { 49, 48 }, { 62, 135 }, { 133, 101 });

    const auto at204 = capturedTrace ([&] { dialog.setSize (204, 209); });
    EXPECT_TRUE (at204.startsWith ("resized: ")) << at204;
    EXPECT_TRUE (at204.endsWith (" 204\n")) << at204;
    EXPECT_FALSE (at204.contains ("Gross")) << "width 204 must use the small art";

    const auto at205 = capturedTrace ([&] { dialog.setSize (205, 210); });
    EXPECT_TRUE (at205.endsWith (" 205\nGross\n")) << at205;
}

TEST (LoopbackDialog, SelectedStateDrawsItsCurvesWithEndDotsScaledToWidth)
{
    PatchweaveLoopbackDialog dialog;
    const auto none = snapshot (dialog);

    dialog.loopbackOnButton.setToggleState (true, juce::sendNotificationSync);
    ASSERT_EQ (dialog.getLoopbackState(), 1);
    const auto onImage = snapshot (dialog);

    // Dot of radius 6.28 around onStart1 (98, 96): the pixel 5 to 6 above lies inside it,
    // the one 7 to 8 above outside.
    EXPECT_EQ (onImage.getPixelAt (98, 90), curveGreen);
    EXPECT_NE (none.getPixelAt (98, 90), curveGreen);
    EXPECT_EQ (onImage.getPixelAt (98, 88), none.getPixelAt (98, 88));
    // The middle of the first on-curve, (153, 209.75), under its 5-pixel stroke.
    EXPECT_EQ (onImage.getPixelAt (153, 209), curveGreen);
    EXPECT_NE (none.getPixelAt (153, 209), curveGreen);
    // The off-curves are not drawn: around offStart1 (98, 205) nothing changed.
    EXPECT_EQ (onImage.getPixelAt (98, 199), none.getPixelAt (98, 199));

    dialog.loopbackOffButton.setToggleState (true, juce::sendNotificationSync);
    ASSERT_EQ (dialog.getLoopbackState(), 0);
    EXPECT_FALSE (dialog.loopbackOnButton.getToggleState());
    const auto offImage = snapshot (dialog);
    EXPECT_EQ (offImage.getPixelAt (98, 199), curveGreen);
    EXPECT_EQ (offImage.getPixelAt (98, 90), none.getPixelAt (98, 90));

    // At the smallest size the radius stays 5 (0.02 x 157 would be 3.14).
    dialog.setSize (157, 161);
    dialog.loopbackOnButton.setToggleState (true, juce::sendNotificationSync);
    const auto smallOn = snapshot (dialog);
    dialog.loopbackOnButton.setToggleState (false, juce::dontSendNotification);
    dialog.loopbackOffButton.setToggleState (false, juce::dontSendNotification);
    const auto smallNone = snapshot (dialog);
    // onStart1 is (49, 48) there.
    EXPECT_EQ (smallOn.getPixelAt (49, 44), curveGreen);
    EXPECT_NE (smallNone.getPixelAt (49, 44), curveGreen);
    EXPECT_EQ (smallOn.getPixelAt (49, 41), smallNone.getPixelAt (49, 41));
}

TEST (LoopbackDialog, ClicksSelectOneButtonAndBroadcastEveryTime)
{
    // Declared so that the dialog goes before its window, as in the panel.
    std::unique_ptr<juce::DialogWindow> window;
    auto* dialog = new PatchweaveLoopbackDialog();
    std::unique_ptr<PatchweaveLoopbackDialog> owner (dialog);
    juce::DialogWindow::LaunchOptions options;
    window = createLoopbackDialogWindow (options, dialog);
    Recorder recorder (*dialog);

    window->setVisible (true);
    ASSERT_TRUE (pumpUntil ([&] { return window->isShowing(); }, 3000));

    const auto onCentre = dialog->loopbackOnButton.getBounds().getCentre();
    const auto offCentre = dialog->loopbackOffButton.getBounds().getCentre();

    tarvik::test::clickInWindow (*window, onCentre);
    EXPECT_TRUE (dialog->loopbackOnButton.getToggleState());
    EXPECT_FALSE (dialog->loopbackOffButton.getToggleState());
    EXPECT_EQ (recorder.messages.size(), 0) << "the message must come through the queue, not inside the click";
    ASSERT_TRUE (pumpUntil ([&] { return recorder.messages.size() == 1; }, 2000));
    EXPECT_EQ (recorder.messages[0], "loopback_update");
    EXPECT_EQ (recorder.statesOnArrival.back(), 1);

    // The selected button again: broadcast again, state unchanged.
    tarvik::test::clickInWindow (*window, onCentre);
    ASSERT_TRUE (pumpUntil ([&] { return recorder.messages.size() == 2; }, 2000));
    EXPECT_EQ (recorder.messages[1], "loopback_update");
    EXPECT_EQ (recorder.statesOnArrival.back(), 1);

    tarvik::test::clickInWindow (*window, offCentre);
    ASSERT_TRUE (pumpUntil ([&] { return recorder.messages.size() == 3; }, 2000));
    EXPECT_EQ (recorder.statesOnArrival.back(), 0);
    EXPECT_FALSE (dialog->loopbackOnButton.getToggleState());
    EXPECT_TRUE (dialog->loopbackOffButton.getToggleState());
}

TEST (LoopbackDialogWindow, MadeHiddenAtTheLargeSizeAndResizableBetweenTheArtSizes)
{
    // Declared so that the dialog goes before its window, as in the panel.
    std::unique_ptr<juce::DialogWindow> window;
    auto* dialog = new PatchweaveLoopbackDialog();
    std::unique_ptr<PatchweaveLoopbackDialog> owner (dialog);
    juce::DialogWindow::LaunchOptions options;
    window = createLoopbackDialogWindow (options, dialog);

    ASSERT_NE (window, nullptr);
    EXPECT_EQ (window->getName(), "PatchWEAVE Loopback");
    EXPECT_FALSE (window->isVisible());
    EXPECT_FALSE (tarvik::test::isNativeWindowMapped (*window)) << "an empty frame stands on the screen";
    EXPECT_EQ (window->getContentComponent(), dialog);
    EXPECT_TRUE (window->isUsingNativeTitleBar());
    EXPECT_TRUE (window->isResizable());
    EXPECT_EQ (window->getWidth(), 314);
    EXPECT_EQ (window->getHeight(), 322);

    auto* constrainer = window->getConstrainer();
    ASSERT_NE (constrainer, nullptr);
    EXPECT_EQ (constrainer->getMinimumWidth(), 157);
    EXPECT_EQ (constrainer->getMinimumHeight(), 161);
    EXPECT_EQ (constrainer->getMaximumWidth(), 314);
    EXPECT_EQ (constrainer->getMaximumHeight(), 322);
    EXPECT_NEAR (constrainer->getFixedAspectRatio(), 157.0 / 161.0, 1e-6);

    // The window manager is told the same, aspect included, and again after JUCE has replaced
    // the hints with those of a bounds request (157:161 give or take half a pixel at 157 x 161).
    const juce::String hints ("min 157x161 max 314x322 aspect 313/322..315/322 base 0x0");
    EXPECT_TRUE (pumpUntil ([&] { return tarvik::test::nativeSizeHints (*window) == hints; }, 3000))
        << tarvik::test::nativeSizeHints (*window);
    window->setTopLeftPosition (window->getX() + 10, window->getY());
    EXPECT_TRUE (pumpUntil ([&] { return tarvik::test::nativeSizeHints (*window) == hints; }, 3000))
        << tarvik::test::nativeSizeHints (*window);

    // The content follows the window down to the smallest size.
    window->setBoundsConstrained (window->getBounds().withSize (100, 100));
    EXPECT_EQ (window->getWidth(), 157);
    EXPECT_EQ (window->getHeight(), 161);
    EXPECT_EQ (dialog->loopbackOnButton.getBounds(), juce::Rectangle<int> (6, 48, 23, 22));
    window->setBoundsConstrained (window->getBounds().withSize (1000, 1000));
    EXPECT_EQ (window->getWidth(), 314);
    EXPECT_EQ (window->getHeight(), 322);

    // Escape and the close button only hide it; dialog and selection stay.
    dialog->loopbackOnButton.setToggleState (true, juce::sendNotificationSync);
    window->setVisible (true);
    ASSERT_TRUE (pumpUntil ([&] { return window->isShowing(); }, 3000));
    tarvik::test::pressKeyInWindow (*window, juce::KeyPress (juce::KeyPress::escapeKey));
    EXPECT_FALSE (window->isVisible());
    EXPECT_EQ (window->getContentComponent(), dialog);
    EXPECT_EQ (dialog->getLoopbackState(), 1);

    window->setVisible (true);
    window->closeButtonPressed();
    EXPECT_FALSE (window->isVisible());
    EXPECT_EQ (window->getContentComponent(), dialog);

    // Teardown as the panel does it: the content first, then the window, which then
    // has no content left to delete.
    window->setVisible (true);
    owner.reset();
    EXPECT_EQ (window->getContentComponent(), nullptr);
    window.reset();
}
