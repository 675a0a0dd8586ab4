#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "app/PanelDialogWindow.h"

class PatchweaveLoopbackDialog;

/** One routing curve of the loopback dialog.

    Only a holder: it is never added as a child or shown, the dialog draws the curve itself.
*/
class LoopBackConnectionPath final : public juce::Component
{
public:
    LoopBackConnectionPath() = default;
    ~LoopBackConnectionPath() override;

    const juce::Path& getCurve() const noexcept { return curve; }
    juce::Colour getCurveColour() const noexcept { return curveColour; }
    juce::Point<float> getStartPoint() const noexcept { return startPoint; }
    juce::Point<float> getEndPoint() const noexcept { return endPoint; }

private:
    friend class PatchweaveLoopbackDialog;

    juce::Path curve;
    juce::Colour curveColour { juce::Colours::green };
    juce::Point<float> startPoint;
    juce::Point<float> endPoint;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LoopBackConnectionPath)
};

/** The "PatchWEAVE Loopback" dialog: two image buttons (upper: loopback on, lower:
    loopback off) over the routing artwork, with the routing of the selected state
    drawn as green curves.

    A click selects the clicked button alone and broadcasts "loopback_update"; the
    listener then reads getLoopbackState(). The dialog itself never talks to the device.
*/
class PatchweaveLoopbackDialog final : public juce::Component,
                                       public juce::Button::Listener,
                                       public juce::ActionBroadcaster
{
public:
    /** Builds the dialog at the size of its large artwork (314 x 322). */
    PatchweaveLoopbackDialog();
    ~PatchweaveLoopbackDialog() override;

    void paint (juce::Graphics&) override;
    void paintOverChildren (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;

    /** Creates the four curve objects; does nothing once they exist. */
    void initConnectionPaths();

    /** 0 when loopback off is selected, else 1 when loopback on is selected, else -1. */
    int getLoopbackState();

    /** The curves drawn while loopback on is selected: channel 1, then channel 2. */
    const juce::OwnedArray<LoopBackConnectionPath>& getLoopbackOnPaths() const noexcept { return loopbackOnPaths; }

    /** The curves drawn while loopback off is selected: channel 1, then channel 2. */
    const juce::OwnedArray<LoopBackConnectionPath>& getLoopbackOffPaths() const noexcept { return loopbackOffPaths; }

private:
    bool pathsInitialised = false;
    juce::OwnedArray<LoopBackConnectionPath> loopbackOnPaths;
    juce::OwnedArray<LoopBackConnectionPath> loopbackOffPaths;
    juce::Point<float> rightEnd1, rightEnd2, onStart1, onStart2, offStart1, offStart2,
        onControl1, onControl2, offControl1, offControl2;

public:
    /** Selected means loopback on. The panel selects a state with
        setToggleState (true, juce::sendNotificationSync).
    */
    juce::ImageButton loopbackOnButton { "" };

    /** Selected means loopback off. */
    juce::ImageButton loopbackOffButton { "" };

private:
    struct EmbeddedImage
    {
        const void* data;
        int size;
    };

    juce::Image backgroundImage;
    juce::Image pressedImage;
    const EmbeddedImage smallBackgroundData;
    const EmbeddedImage largeBackgroundData;
    const EmbeddedImage pressedData;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PatchweaveLoopbackDialog)
};

/** Makes the dialog's window from the given launch options: "PatchWEAVE Loopback",
    owning the dialog, closed (hidden) by Escape, native title bar, resizable between
    the small and the large artwork's size at their aspect ratio; created hidden at
    the large size. The caller keeps its own pointer to the dialog and must delete the
    dialog before the window.
*/
std::unique_ptr<PanelDialogWindow> createLoopbackDialogWindow (juce::DialogWindow::LaunchOptions& options,
                                                                PatchweaveLoopbackDialog* dialog);
