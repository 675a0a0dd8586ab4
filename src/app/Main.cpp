#include <iostream>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "app/MainComponent.h"
#include "app/WindowState.h"
#include "controls/VYRBorderBoundsConstrainer.h"
#include "desktop/DesktopSession.h"
#include "desktop/DesktopWindows.h"

namespace
{
constexpr int defaultFaceWidth = 316;
constexpr int defaultFaceHeight = 405;

bool isResetOption (const juce::String& commandLine)
{
    return commandLine.equalsIgnoreCase ("/default") || commandLine.equalsIgnoreCase ("/defaults");
}

bool isShutdownOption (const juce::String& commandLine)
{
    return commandLine.equalsIgnoreCase ("/shutdown");
}
} // namespace

//==============================================================================
class TarvikApplication final : public juce::JUCEApplication
{
public:
    /** The one main window, holding the panel; closing it ends the application. */
    class MainWindow final : public juce::DocumentWindow
    {
    public:
        explicit MainWindow (const juce::String& title)
            : juce::DocumentWindow (title, juce::Colours::lightgrey, juce::DocumentWindow::allButtons, true)
        {
            setUsingNativeTitleBar (true);
            setContentOwned (new MainComponent(), true);

            borderConstrainer = std::make_unique<BorderBoundsConstrainer>();
            setConstrainer (borderConstrainer.get());

            // The menu bar's strip above the face is left out of the aspect and the limits.
            borderConstrainer->extraTop = getPanel() != nullptr ? getPanel()->getMenuBarHeight() : 0;

            syncFrameBorder();

            getConstrainer()->setFixedAspectRatio (226.0 / 290.0);
            getConstrainer()->setSizeLimits (226, 290, 452, 580);

            desktopKeeper = std::make_unique<desktop::MainWindowKeeper> (*this, *borderConstrainer, [this] { syncFrameBorder(); });
        }

        ~MainWindow() override
        {
            desktopKeeper.reset();
            setConstrainer (nullptr);
            borderConstrainer.reset();
        }

        MainComponent* getPanel() const { return dynamic_cast<MainComponent*> (getContentComponent()); }

        /** Makes the constrainer take off the frame that JUCE adds to the bounds it passes in.
            On X11 the frame is known only while the window manager has the window framed, so
            the size read at construction may not match what a later call adds.
        */
        void syncFrameBorder()
        {
            juce::BorderSize<int> frame;

            if (auto* peer = getPeer())
                if (const auto present = peer->getFrameSizeIfPresent())
                    frame = *present;

            borderConstrainer->frameBorder = frame;
        }

        /** Restores a stored window state; false, changing nothing, when it is not one. */
        bool restoreFrom (const juce::String& stored)
        {
            syncFrameBorder();
            return restoreStoredWindowState (*this, desktopKeeper->stateToRestore (stored));
        }

        void resized() override
        {
            juce::DocumentWindow::resized();

            if (desktopKeeper != nullptr)
                desktopKeeper->windowResized();
        }

        void childBoundsChanged (juce::Component* child) override
        {
            // The panel fitted inside an oversized window must not size the window to itself.
            if (desktopKeeper == nullptr || desktopKeeper->contentMaySizeWindow())
                juce::DocumentWindow::childBoundsChanged (child);
        }

        /** Puts the window where it is now again once the window manager has framed it. */
        void placeOnceFramed() { desktopKeeper->placeOnceFramed(); }

        /** A move the program made since: the pending placement must not undo it. */
        void updatePendingPlacement() { desktopKeeper->updatePendingPlacement(); }

        /** The window state to store: where the window really is, not where it was last
            asked to go; while maximised, where it was before.
        */
        juce::String stateToStore()
        {
            desktopKeeper->matchServerBounds();
            return desktopKeeper->stateToStore (getWindowStateAsString());
        }

        void closeButtonPressed() override
        {
            const auto state = stateToStore();

            if (auto* panel = getPanel())
                panel->savedWindowPosition (state);

            juce::JUCEApplication::getInstance()->systemRequestedQuit();
        }

    private:
        std::unique_ptr<BorderBoundsConstrainer> borderConstrainer;
        std::unique_ptr<desktop::MainWindowKeeper> desktopKeeper;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

    TarvikApplication() = default;
    ~TarvikApplication() override { mainDocumentWindow.reset(); }

    const juce::String getApplicationName() override { return "Tarvik Panel"; }
    const juce::String getApplicationVersion() override { return "1.2.0.0"; }

    bool moreThanOneInstanceAllowed() override
    {
        return ! desktop::DesktopSession::usesFrameworkInstanceCheck();
    }

    void initialise (const juce::String& commandLine) override
    {
        desktopSession = std::make_unique<desktop::DesktopSession> (
            getApplicationName(), commandLine, isShutdownOption (commandLine),
            desktop::DesktopSession::Hooks { [this] (const juce::String& parameters) { anotherInstanceStarted (parameters); },
                                             [this] { systemRequestedQuit(); } });

        // Handed over to the running panel, or unable to run: the session ends this launch.
        if (! desktopSession->shouldRun())
            return;

        const bool reset = isResetOption (commandLine);

        auto window = std::make_unique<MainWindow> (getApplicationName() + " v" + getApplicationVersion());
        auto* panel = window->getPanel();
        const int barHeight = panel != nullptr ? panel->getMenuBarHeight() : 0;

        if (reset && panel != nullptr)
            panel->savedWindowPosition ({});

        const auto stored = panel != nullptr ? panel->getUserSettings()->getValue ("WindowPosition", {}) : juce::String();

        window->setResizable (true, true);
        const bool restored = window->restoreFrom (stored);

        if (reset || ! restored)
        {
            window->setSize (defaultFaceWidth, defaultFaceHeight + barHeight);
            window->centreWithSize (defaultFaceWidth, defaultFaceHeight + barHeight);
        }

        window->setVisible (true);
        mainDocumentWindow = std::move (window);

        if (panel != nullptr)
        {
            if (reset)
            {
                panel->setFactoryDefaults();
                panel->savedWindowPosition ({});
            }
            else
            {
                const auto position = panel->getScreenPosition();
                std::cerr << "POS: " << position.x << " " << position.y << "\n" << std::flush;
                std::cerr << "POS: Korr: " << (position.x >= 0 ? position.x : 0) << " "
                          << (position.y > 0 ? position.y : 30) << "\n" << std::flush;
            }
        }

        // Placed before the window manager framed the window, the window may have landed
        // with its frame, not its client, at the place asked for.
        mainDocumentWindow->placeOnceFramed();
    }

    void shutdown() override
    {
        if (mainDocumentWindow != nullptr)
        {
            const auto state = mainDocumentWindow->stateToStore();

            if (auto* panel = mainDocumentWindow->getPanel())
                panel->savedWindowPosition (state);
        }

        mainDocumentWindow.reset();

        // Everything is stored by now.
        desktopSession.reset();
    }

    void anotherInstanceStarted (const juce::String& commandLine) override
    {
        if (mainDocumentWindow != nullptr)
        {
            if (auto* panel = mainDocumentWindow->getPanel())
            {
                if (isResetOption (commandLine))
                {
                    panel->setFactoryDefaults();
                    panel->savedWindowPosition ({});
                    mainDocumentWindow->updatePendingPlacement();
                }

                panel->setVisible (true);
                mainDocumentWindow->setVisible (true);
                desktop::bringToFront (*mainDocumentWindow);
            }
        }

        if (isShutdownOption (commandLine))
            juce::MessageManager::getInstance()->stopDispatchLoop();
    }

    void systemRequestedQuit() override
    {
        juce::MessageManager::getInstance()->stopDispatchLoop();
    }

private:
    std::unique_ptr<desktop::DesktopSession> desktopSession;
    std::unique_ptr<MainWindow> mainDocumentWindow;
};

// The desktop is readied before anything else, JUCE's own static objects included: a signal
// to quit may come at any moment of the start.
[[gnu::constructor (101)]] static void readyTheDesktopFirst()
{
    desktop::DesktopSession::startOfProgram();
}

START_JUCE_APPLICATION (TarvikApplication)
