#include "app/PWLoopbackDialog.h"

#include "app/PanelDialogWindow.h"

#include <cstdio>
#include <limits>

#include "resources/VYRBIN.h"

namespace
{
// Trace lines go out whole and at once, so that they interleave sensibly with other output.
void trace (const juce::String& line)
{
    std::fputs (line.toRawUTF8(), stderr);
    std::fflush (stderr);
}

// IEEE quotient without dividing by zero (0 / 0 reads as nan, x / 0 as inf).
float quotient (float numerator, float denominator)
{
    if (denominator != 0.0f)
        return numerator / denominator;

    if (numerator == 0.0f)
        return std::numeric_limits<float>::quiet_NaN();

    return numerator > 0.0f ? std::numeric_limits<float>::infinity()
                            : -std::numeric_limits<float>::infinity();
}

// The layout's fractions are products in single precision, truncated toward zero.
int fraction (float factor, int size)
{
    return (int) (factor * (float) size);
}

juce::Point<float> anchor (float fx, float fy, int width, int height)
{
    return { (float) fraction (fx, width), (float) fraction (fy, height) };
}

} // namespace

//==============================================================================
LoopBackConnectionPath::~LoopBackConnectionPath() = default;

//==============================================================================
PatchweaveLoopbackDialog::PatchweaveLoopbackDialog()
    : smallBackgroundData { VYRBIN::temp_binary_data_4, VYRBIN::temp_binary_data_4Size },
      largeBackgroundData { VYRBIN::temp_binary_data_6, VYRBIN::temp_binary_data_6Size },
      pressedData { VYRBIN::temp_binary_data_7, VYRBIN::temp_binary_data_7Size }
{
    backgroundImage = juce::ImageCache::getFromMemory (largeBackgroundData.data, largeBackgroundData.size);
    pressedImage = juce::ImageCache::getFromMemory (pressedData.data, pressedData.size);

    for (auto* button : { &loopbackOnButton, &loopbackOffButton })
    {
        button->setVisible (true);
        addChildComponent (button);
        button->addListener (this);
    }

    setSize (backgroundImage.getWidth(), backgroundImage.getHeight());

    trace ("Konstr: " + juce::String (quotient ((float) backgroundImage.getWidth(), (float) backgroundImage.getHeight())) + "\n");

    initConnectionPaths();
    resized();
}

PatchweaveLoopbackDialog::~PatchweaveLoopbackDialog()
{
    loopbackOnPaths.clear();
    loopbackOffPaths.clear();
}

void PatchweaveLoopbackDialog::initConnectionPaths()
{
    if (pathsInitialised)
        return;

    pathsInitialised = true;

    const auto add = [] (juce::OwnedArray<LoopBackConnectionPath>& list, juce::Point<float> start, juce::Point<float> end)
    {
        auto* path = list.add (new LoopBackConnectionPath());
        path->curve.setUsingNonZeroWinding (true);
        path->curveColour = juce::Colours::green;
        path->startPoint = start;
        path->endPoint = end;
    };

    add (loopbackOnPaths, onStart1, rightEnd1);
    add (loopbackOnPaths, onStart2, rightEnd2);
    add (loopbackOffPaths, offStart1, rightEnd1);
    add (loopbackOffPaths, offStart2, rightEnd2);
}

void PatchweaveLoopbackDialog::paint (juce::Graphics& g)
{
    if (backgroundImage.isValid())
        g.drawImageAt (backgroundImage, 0, 0);
}

void PatchweaveLoopbackDialog::paintOverChildren (juce::Graphics& g)
{
    const juce::OwnedArray<LoopBackConnectionPath>* paths = nullptr;

    if (loopbackOnButton.getToggleState())
        paths = &loopbackOnPaths;
    else if (loopbackOffButton.getToggleState())
        paths = &loopbackOffPaths;
    else
        return;

    const auto radius = (float) juce::jmax (5.0, 0.02 * (double) getWidth());
    const juce::PathStrokeType stroke (5.0f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt);

    for (auto* path : *paths)
    {
        g.setColour (path->curveColour);
        g.fillEllipse (juce::Rectangle<float> (2.0f * radius, 2.0f * radius).withCentre (path->startPoint));
        g.fillEllipse (juce::Rectangle<float> (2.0f * radius, 2.0f * radius).withCentre (path->endPoint));
        g.strokePath (path->curve, stroke);
    }
}

void PatchweaveLoopbackDialog::resized()
{
    const auto w = getWidth();
    const auto h = getHeight();

    trace ("resized: " + juce::String (quotient ((float) w, (float) h)) + " " + juce::String (w) + "\n");

    if (w <= 0 || h <= 0)
        return;

    const auto pressedArt = juce::ImageCache::getFromMemory (pressedData.data, pressedData.size);
    pressedImage = pressedArt.rescaled (w, h, juce::Graphics::highResamplingQuality);

    const auto smallArt = juce::ImageCache::getFromMemory (smallBackgroundData.data, smallBackgroundData.size);

    if ((double) w > 1.3 * (double) smallArt.getWidth())
    {
        const auto largeArt = juce::ImageCache::getFromMemory (largeBackgroundData.data, largeBackgroundData.size);
        backgroundImage = largeArt.rescaled (w, h, juce::Graphics::highResamplingQuality);
        trace ("Gross\n");
    }
    else
    {
        backgroundImage = smallArt.rescaled (w, h, juce::Graphics::highResamplingQuality);
    }

    const auto buttonX = fraction (0.0414013f, w);
    const auto buttonWidth = fraction (0.146497f, w);
    const auto buttonHeight = fraction (0.142857f, h);
    loopbackOnButton.setBounds (buttonX, fraction (0.298137f, h), buttonWidth, buttonHeight);
    loopbackOffButton.setBounds (buttonX, fraction (0.63354f, h), buttonWidth, buttonHeight);

    rightEnd1 = anchor (0.850318f, 0.630435f, w, h);
    rightEnd2 = anchor (0.850318f, 0.773292f, w, h);
    onStart1 = anchor (0.312102f, 0.301242f, w, h);
    onStart2 = anchor (0.312102f, 0.437888f, w, h);
    offStart1 = anchor (0.312102f, 0.636646f, w, h);
    offStart2 = anchor (0.312102f, 0.773292f, w, h);
    onControl1 = anchor (0.397643f, 0.838758f, w, h);
    onControl2 = anchor (0.307643f, 0.926087f, w, h);
    offControl1 = anchor (0.579618f, 0.738758f, w, h);
    offControl2 = anchor (0.579618f, 0.878509f, w, h);

    if (! pathsInitialised)
        initConnectionPaths();

    const auto shape = [] (LoopBackConnectionPath& path, juce::Point<float> start, juce::Point<float> control, juce::Point<float> end)
    {
        path.curve.clear();
        path.startPoint = start;
        path.endPoint = end;
        path.curve.startNewSubPath (start);
        path.curve.quadraticTo (control, end);
    };

    shape (*loopbackOnPaths[0], onStart1, onControl1, rightEnd1);
    shape (*loopbackOnPaths[1], onStart2, onControl2, rightEnd2);
    shape (*loopbackOffPaths[0], offStart1, offControl1, rightEnd1);
    shape (*loopbackOffPaths[1], offStart2, offControl2, rightEnd2);

    for (auto* button : { &loopbackOnButton, &loopbackOffButton })
    {
        const auto area = button->getBounds();
        button->setImages (false, true, true,
                           backgroundImage.getClippedImage (area), 1.0f, juce::Colours::transparentBlack,
                           backgroundImage.getClippedImage (area), 1.0f, juce::Colours::transparentBlack,
                           pressedImage.getClippedImage (area), 1.0f, juce::Colours::transparentBlack,
                           0.0f);
    }
}

void PatchweaveLoopbackDialog::buttonClicked (juce::Button* button)
{
    loopbackOnButton.setToggleState (false, juce::dontSendNotification);
    loopbackOffButton.setToggleState (false, juce::dontSendNotification);
    button->setToggleState (true, juce::dontSendNotification);
    repaint();
    sendActionMessage ("loopback_update");
}

int PatchweaveLoopbackDialog::getLoopbackState()
{
    if (loopbackOffButton.getToggleState())
        return 0;

    if (loopbackOnButton.getToggleState())
        return 1;

    return -1;
}

//==============================================================================
std::unique_ptr<PanelDialogWindow> createLoopbackDialogWindow (juce::DialogWindow::LaunchOptions& options,
                                                                PatchweaveLoopbackDialog* dialog)
{
    auto window = std::make_unique<PanelDialogWindow> (options, "PatchWEAVE Loopback", dialog, true);

    // The limits and the aspect come from the art itself, the small and the large background.
    const auto smallArt = juce::ImageCache::getFromMemory (VYRBIN::temp_binary_data_4, VYRBIN::temp_binary_data_4Size);
    const auto largeArt = juce::ImageCache::getFromMemory (VYRBIN::temp_binary_data_6, VYRBIN::temp_binary_data_6Size);

    window->setResizable (true, false);
    window->setResizeLimits (smallArt.getWidth(), smallArt.getHeight(), largeArt.getWidth(), largeArt.getHeight());
    window->getConstrainer()->setFixedAspectRatio ((double) quotient ((float) smallArt.getWidth(), (float) smallArt.getHeight()));
    window->setBounds (window->getX(), window->getY(), largeArt.getWidth(), largeArt.getHeight());

    window->putOnDesktop();
    window->keepSizeRule ({ { smallArt.getWidth(), smallArt.getHeight() }, { largeArt.getWidth(), largeArt.getHeight() }, 0 });
    return window;
}
