// The harness itself: if these fail, no other GUI test can be trusted.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "support/MessageLoop.h"

using tarvik::test::pumpFor;
using tarvik::test::pumpUntil;

namespace
{
struct OneShot final : juce::Timer
{
    int fired = 0;
    void timerCallback() override
    {
        ++fired;
        stopTimer();
    }
};
} // namespace

TEST (Harness, PumpedLoopFiresOneShotTimerOnceAndGrantsLockToOtherThread)
{
    OneShot timer;
    timer.startTimer (20);
    ASSERT_TRUE (pumpUntil ([&] { return timer.fired > 0; }, 2000)) << "timer never fired";
    pumpFor (80);
    EXPECT_EQ (timer.fired, 1);

    std::atomic<bool> gained { false };
    std::thread worker ([&] {
        const juce::MessageManagerLock lock;
        gained = lock.lockWasGained();
    });

    const bool ok = pumpUntil ([&] { return gained.load(); }, 3000);
    worker.join();
    EXPECT_TRUE (ok) << "MessageManagerLock on a worker thread was not gained while the loop was pumped";
}

TEST (Harness, CallAsyncFromAnotherThreadRunsOnMessageThread)
{
    std::atomic<bool> onMessageThread { false };
    std::thread worker ([&] {
        juce::MessageManager::callAsync ([&] {
            onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
        });
    });
    worker.join();
    EXPECT_TRUE (pumpUntil ([&] { return onMessageThread.load(); }, 2000));
}

TEST (Harness, RealDocumentWindowOpensOnTheDisplay)
{
    ASSERT_NE (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay(), nullptr)
        << "no X display: the test runner must provide one";

    juce::DocumentWindow window ("harness", juce::Colours::lightgrey, juce::DocumentWindow::allButtons);
    window.setUsingNativeTitleBar (true);
    window.setContentNonOwned (nullptr, false);
    window.centreWithSize (200, 150);
    window.setVisible (true);

    ASSERT_NE (window.getPeer(), nullptr) << "window has no native peer";
    EXPECT_TRUE (pumpUntil ([&] { return window.isShowing(); }, 3000));
    EXPECT_EQ (window.getWidth(), 200);
    EXPECT_EQ (window.getHeight(), 150);
}

TEST (Harness, PaintedComponentRendersExpectedPixels)
{
    struct Painted final : juce::Component
    {
        void paint (juce::Graphics& g) override
        {
            g.fillAll (juce::Colours::black);
            g.setColour (juce::Colours::red);
            g.fillRect (10, 10, 20, 20);
        }
    } painted;

    painted.setSize (40, 40);
    const auto image = painted.createComponentSnapshot (painted.getLocalBounds(), true, 1.0f);

    EXPECT_EQ (image.getPixelAt (15, 15), juce::Colours::red);
    EXPECT_EQ (image.getPixelAt (5, 5), juce::Colours::black);
    EXPECT_EQ (image.getPixelAt (35, 35), juce::Colours::black);
}
