// The About window: its face, its two invisible spots and its dialog window's modal loop.
#include <memory>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/AboutWindow.h"
#include "app/DialogInput.h"
#include "resources/VYRBIN.h"
#include "support/MessageLoop.h"
#include "support/NativeWindow.h"

using tarvik::test::pumpUntil;

namespace
{
const juce::Rectangle<int> closeSpot (109, 166, 41, 23);
const juce::Rectangle<int> linkSpot (59, 140, 138, 20);
const juce::Rectangle<int> versionBox (275, 186, 200, 20);

// What the face must look like: the art with the version line in grey, left-justified in its box.
juce::Image expectedFace (const juce::String& versionLine)
{
    const auto art = juce::ImageCache::getFromMemory (VYRBIN::temp_binary_data_23, VYRBIN::temp_binary_data_23Size);
    juce::Image face (juce::Image::ARGB, art.getWidth(), art.getHeight(), true);
    juce::Graphics g (face);
    g.drawImageAt (art, 0, 0);
    g.setColour (juce::Colours::grey);
    g.drawFittedText (versionLine, versionBox, juce::Justification::left, 1);
    return face;
}

int countDifferences (const juce::Image& a, const juce::Image& b)
{
    int differences = 0;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            differences += a.getPixelAt (x, y).getARGB() != b.getPixelAt (x, y).getARGB() ? 1 : 0;
    return differences;
}

// Ends a modal loop that nothing else ended, so that a fault fails the test instead of hanging it.
struct ModalGuard final : juce::Timer
{
    explicit ModalGuard (juce::Component* c) : modal (c) { startTimer (5000); }
    void timerCallback() override
    {
        stopTimer();
        if (modal != nullptr)
            modal->exitModalState (99);
    }
    juce::Component::SafePointer<juce::Component> modal;
};

struct StandInApplication final : juce::JUCEApplication
{
    const juce::String getApplicationName() override { return "Tarvik Panel"; }
    const juce::String getApplicationVersion() override { return "9.8.7.6"; }
    void initialise (const juce::String&) override {}
    void shutdown() override {}
};
} // namespace

TEST (AboutWindow, FaceIsTheArtWithTheVersionLineLeftJustifiedInGrey)
{
    const auto art = juce::ImageCache::getFromMemory (VYRBIN::temp_binary_data_23, VYRBIN::temp_binary_data_23Size);
    AboutWindow about;
    EXPECT_EQ (about.getWidth(), 514);
    EXPECT_EQ (about.getHeight(), 212);

    const auto face = about.createComponentSnapshot (about.getLocalBounds(), true, 1.0f);
    EXPECT_EQ (countDifferences (face, expectedFace ("Tarvik v1.2.0.0")), 0);

    // The version line really is drawn (else the comparison above would prove little).
    EXPECT_GT (countDifferences (face, art), 50);

    // Inside the application the version comes from the application object.
    {
        StandInApplication app;
        AboutWindow hosted;
        const auto hostedFace = hosted.createComponentSnapshot (hosted.getLocalBounds(), true, 1.0f);
        EXPECT_EQ (countDifferences (hostedFace, expectedFace ("Tarvik v9.8.7.6")), 0);
    }
}

TEST (AboutWindow, SpotsLieOverTheArtAndTheLinkNamesThePrintedAddress)
{
    AboutWindow about;
    about.setVisible (true);

    auto* close = dynamic_cast<juce::ImageButton*> (about.getComponentAt (closeSpot.getPosition()));
    ASSERT_NE (close, nullptr);
    EXPECT_EQ (close->getBounds(), closeSpot);
    EXPECT_EQ (about.getComponentAt (closeSpot.getBottomRight() - juce::Point<int> (1, 1)), close)
        << "the whole rectangle must take clicks although nothing is drawn";

    auto* link = dynamic_cast<juce::HyperlinkButton*> (about.getComponentAt (linkSpot.getCentre()));
    ASSERT_NE (link, nullptr);
    EXPECT_EQ (link->getBounds(), linkSpot);
    // The art prints www.vyr-zelvatek.example under the link spot.
    EXPECT_EQ (link->getURL().getDomain(), "www.vyr-zelvatek.example");
    EXPECT_EQ (link->getURL().toString (false), juce::String (AboutWindow::makerWebAddress));

    EXPECT_EQ (about.getComponentAt (300, 60), &about);
}

TEST (AboutDialogWindow, ModalLoopEndsWithZeroOnlyFromTheCloseSpot)
{
    // Declared so that the content goes before its window, as in the panel.
    std::unique_ptr<juce::DialogWindow> window;
    auto* about = new AboutWindow();
    std::unique_ptr<AboutWindow> owner (about);
    juce::StringArray opened;
    about->setLinkOpener ([&] (const juce::URL& url) { opened.add (url.toString (false)); });

    juce::DialogWindow::LaunchOptions options;
    window = createAboutDialogWindow (options, about);

    ASSERT_NE (window, nullptr);
    EXPECT_EQ (window->getName(), "About Tarvik");
    EXPECT_FALSE (window->isVisible());
    EXPECT_FALSE (tarvik::test::isNativeWindowMapped (*window)) << "an empty frame stands on the screen";
    EXPECT_FALSE (window->isResizable());
    EXPECT_TRUE (window->isUsingNativeTitleBar());
    EXPECT_EQ (window->getContentComponent(), about);
    EXPECT_EQ (window->getWidth(), 514);
    EXPECT_EQ (window->getHeight(), 212);
    EXPECT_EQ (about->getWidth(), 514);
    EXPECT_EQ (about->getHeight(), 212);

    bool modalAfterLinkClick = false;

    juce::Timer::callAfterDelay (200, [&] {
        tarvik::test::clickInWindow (*window, { 300, 60 });
        tarvik::test::clickInWindow (*window, linkSpot.getCentre());
    });
    juce::Timer::callAfterDelay (400, [&] {
        modalAfterLinkClick = window->isCurrentlyModal();
        tarvik::test::clickInWindow (*window, closeSpot.getCentre());
    });
    // Only a broken close spot lets this one end the loop.
    ModalGuard guard (window.get());

    const auto result = window->runModalLoop();

    EXPECT_EQ (result, 0);
    EXPECT_TRUE (modalAfterLinkClick) << "a click on the link spot must leave the dialog open";
    ASSERT_EQ (opened.size(), 1);
    EXPECT_EQ (opened[0], juce::String (AboutWindow::makerWebAddress));
    EXPECT_TRUE (window->isVisible()) << "the loop was ended by hiding, not by the close spot";

    // Shown again: the same content; Escape hides it, which ends the loop with 0 too.
    window->setVisible (false);
    juce::Timer::callAfterDelay (200, [&] {
        tarvik::test::pressKeyInWindow (*window, juce::KeyPress (juce::KeyPress::escapeKey));
    });
    guard.startTimer (5000);

    EXPECT_EQ (window->runModalLoop(), 0);
    EXPECT_FALSE (window->isVisible());
    EXPECT_EQ (window->getContentComponent(), about);
    EXPECT_EQ (about->getWidth(), 514);
    EXPECT_EQ (about->getHeight(), 212);

    owner.reset();
    EXPECT_EQ (window->getContentComponent(), nullptr);
    window.reset();
}
