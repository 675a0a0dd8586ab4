#include <iostream>
#include <memory>
#include <optional>
#include <utility>

#include <juce_gui_basics/juce_gui_basics.h>

#include "app/MainComponent.h"
#include "app/WindowState.h"
#include "controls/VYRBorderBoundsConstrainer.h"

#if JUCE_LINUX
 #include "app/DisplayCheck.h"
 #include "app/NativeBoundsRefresh.h"
 #include "app/NativeSizeHints.h"
 #include "app/OversizedWindow.h"
 #include "app/QuitSignals.h"
#endif

#if ! JUCE_MAC
 #include "app/InstanceHandover.h"
 #include "simulation/SimControlSocket.h"
 #include "simulation/TarvikSimulation.h"
#endif

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

#if JUCE_LINUX
/** The window state without the " frame t l b r" that JUCE appends on Linux. Restoring with it,
    JUCE asks for the client one frame up and left of where it was, expecting the window manager
    to put the frame there; the window manager puts the client there (as it does for the centred
    default window), and the window came back shifted by its title bar.
*/
juce::String withoutFrame (const juce::String& windowState)
{
    const auto frame = windowState.indexOf (" frame ");
    return frame < 0 ? windowState : windowState.substring (0, frame);
}
#endif
} // namespace

//==============================================================================
class TarvikApplication final : public juce::JUCEApplication
{
public:
    /** The one main window, holding the panel; closing it ends the application. */
    class MainWindow final : public juce::DocumentWindow
                         #if JUCE_LINUX
                           , private juce::Timer
                         #endif
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

            if (auto* peer = getPeer())
                if (const auto frame = peer->getFrameSizeIfPresent())
                    borderConstrainer->frameBorder = *frame;

            getConstrainer()->setFixedAspectRatio (226.0 / 290.0);
            getConstrainer()->setSizeLimits (226, 290, 452, 580);

           #if JUCE_LINUX
            const auto* limits = getConstrainer();
            const int strip = borderConstrainer->extraTop;
            keepNativeSizeHints (*this, { { limits->getMinimumWidth(), limits->getMinimumHeight() + strip },
                                          { limits->getMaximumWidth(), limits->getMaximumHeight() + strip },
                                          strip });
           #endif
        }

        ~MainWindow() override
        {
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

       #if JUCE_LINUX
        void resized() override
        {
            juce::DocumentWindow::resized();

            if (auto* content = getContentComponent(); content != nullptr && borderConstrainer != nullptr)
            {
                if (const auto area = panelAreaInOversizedWindow (getLocalBounds(), *borderConstrainer, borderConstrainer->extraTop))
                {
                    const juce::ScopedValueSetter<bool> fitting (fittingContent, true);
                    content->setBounds (*area);
                }
            }

            // A resize from the window manager's frame never passes the constrainer here;
            // once it has settled, bring the face back to its aspect and limits.
            if (isShowing() && ! constraining)
                startTimer (250);
        }

        void childBoundsChanged (juce::Component* child) override
        {
            // The panel fitted inside an oversized window must not size the window to itself:
            // that would be a request to a maximised window, which openbox answers by growing
            // it again and by taking the request as the size to restore to.
            if (! fittingContent)
                juce::DocumentWindow::childBoundsChanged (child);
        }

        /** Puts the window at the given bounds again once the window manager has framed it:
            before that, X11 may take a requested position for the frame or for the client.
        */
        void placeOnceFramed (juce::Rectangle<int> bounds)
        {
            placement = bounds;
            framelessTicks = 0;
            placementTries = 0;
            startTimer (50);
        }

        /** A move the program made since: the pending placement must not undo it. */
        void updatePendingPlacement()
        {
            if (placement)
                placement = getBounds();
        }

        /** Brings JUCE's idea of the window's bounds to the X server's, so that what is stored
            is where the window is, not where it was last asked to go.
        */
        void matchServerBounds()
        {
            if (auto* peer = getPeer())
                if (! isFullScreen() && ! isMinimised() && ! isNativelyMaximised (peer->getNativeHandle()))
                    if (const auto actual = readNativeBounds (peer->getNativeHandle()))
                        if (*actual != getBounds())
                            setBounds (*actual);
        }
       #endif

        void closeButtonPressed() override
        {
           #if JUCE_LINUX
            matchServerBounds();
           #endif

            if (auto* panel = getPanel())
                panel->savedWindowPosition (getWindowStateAsString());

            juce::JUCEApplication::getInstance()->systemRequestedQuit();
        }

    private:
       #if JUCE_LINUX
        void timerCallback() override
        {
            auto* peer = getPeer();

            if (peer == nullptr || ! isShowing() || isFullScreen() || isMinimised())
            {
                stopTimer();
                return;
            }

            // Until the window manager has framed the window, a move would be taken the wrong way;
            // with no window manager there is no frame to wait for.
            if (! peer->getFrameSizeIfPresent())
            {
                if (++framelessTicks > 40)
                {
                    stopTimer();
                    placement.reset();
                }
                return;
            }

            stopTimer();
            syncFrameBorder();
            const juce::ScopedValueSetter<bool> guard (constraining, true);

            // A maximised window is the window manager's to place and size (a request would
            // take it out of the maximised state); the face is fitted inside it.
            if (isNativelyMaximised (peer->getNativeHandle()))
            {
                placement.reset();
                return;
            }

            if (placement)
            {
                // Ask the server: JUCE takes its last request as done, and the window manager
                // may have put the frame, not the client, where that request said.
                const auto actual = readNativeBounds (peer->getNativeHandle()).value_or (getBounds());

                if (actual == *placement || ++placementTries > 10)
                {
                    placement.reset();
                    matchServerBounds();
                    return;
                }

                // JUCE skips a request for the bounds it believes the window has already.
                if (getBounds() != actual)
                    setBounds (actual);

                setBoundsConstrained (*placement);
                startTimer (300);
                return;
            }

            // While a button is held the frame may still be in the user's hand, and a window
            // manager busy with its own resize drops requests: wait until it has been let go
            // for a moment, so that the manager has ended the resize too.
            if (juce::ComponentPeer::getCurrentModifiersRealtime().isAnyMouseButtonDown())
            {
                buttonWasHeld = true;
                startTimer (250);
                return;
            }

            if (std::exchange (buttonWasHeld, false))
            {
                startTimer (250);
                return;
            }

            // JUCE counts the last correction as done; have it read what the window really is.
            // Should the request have been dropped, that shows as a resize, and the correction
            // comes round again.
            if (std::exchange (correctionToConfirm, false))
            {
                if (refreshNativeBounds (peer->getNativeHandle()))
                    startTimer (400);

                return;
            }

            // Shrink the side that is too long for the face's aspect, so that a window manager
            // holding the window to its own size hints can take the result.
            const auto current = getBounds();
            const int strip = borderConstrainer->extraTop;
            const auto aspect = getConstrainer()->getFixedAspectRatio();
            int width = current.getWidth();
            int faceHeight = current.getHeight() - strip;

            if (aspect <= 0.0 || faceHeight <= 0)
                return;

            // The height always follows from the width, as the constrainer makes it when the
            // window is restored: a size stored from here comes back exactly.
            if (width > juce::roundToInt (faceHeight * aspect))
                width = juce::roundToInt (faceHeight * aspect);

            faceHeight = juce::roundToInt (width / aspect);

            const juce::Rectangle<int> wanted (current.getX(), current.getY(), width, faceHeight + strip);

            if (wanted == current)
                return;

            // A window manager still busy with its own resize (the user may still hold the
            // frame) drops the request; ask again for some seconds, but not for ever: one
            // that holds the window to other size hints would refuse every time.
            correctionsOfThisSize = current == lastCorrected ? correctionsOfThisSize + 1 : 0;
            lastCorrected = current;

            if (correctionsOfThisSize >= 25)
                return;

            setBoundsConstrained (wanted);
            correctionToConfirm = true;
            startTimer (400);
        }

        bool constraining = false;
        bool fittingContent = false;
        bool buttonWasHeld = false;
        bool correctionToConfirm = false;
        juce::Rectangle<int> lastCorrected;
        int correctionsOfThisSize = 0;
        int framelessTicks = 0;
        int placementTries = 0;
        std::optional<juce::Rectangle<int>> placement;
       #endif

        std::unique_ptr<BorderBoundsConstrainer> borderConstrainer;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

    TarvikApplication() = default;
    ~TarvikApplication() override { mainDocumentWindow.reset(); }

    const juce::String getApplicationName() override { return "Tarvik Panel"; }
    const juce::String getApplicationVersion() override { return "1.2.0.0"; }

    bool moreThanOneInstanceAllowed() override
    {
       #if JUCE_MAC
        return false;
       #else
        // JUCE's own check here takes one lock for all users and never hands the later
        // launch's command line over; InstanceHandover does both, per user.
        return true;
       #endif
    }

    void initialise (const juce::String& commandLine) override
    {
       #if ! JUCE_MAC
        handover = std::make_unique<InstanceHandover>();

        if (handover->isAnotherInstanceRunning())
        {
            if (! handover->sendToRunningInstance (commandLine))
            {
                std::cerr << "Tarvik Panel: the running panel did not take the command line" << std::endl;
                setApplicationReturnValue (1);
            }

            handover.reset();
            juce::MessageManager::getInstance()->stopDispatchLoop();
            return;
        }
       #endif

        if (isShutdownOption (commandLine))
        {
            juce::MessageManager::getInstance()->stopDispatchLoop();
            return;
        }

       #if JUCE_LINUX
        if (const auto noDisplay = unopenableDisplayMessage (getApplicationName()))
        {
            std::cerr << *noDisplay << "\n" << std::flush;
            setApplicationReturnValue (1);
            juce::MessageManager::getInstance()->stopDispatchLoop();
            return;
        }

        // A logout or kill ends the panel the way a quit from the system does.
        quitSignals = std::make_unique<QuitSignals> ([this] { systemRequestedQuit(); });
       #endif

       #if ! JUCE_MAC
        // Other programs (and the end-to-end tests) attach, detach and change the simulated
        // interface through this socket while the panel runs.
        controlSocket = tarvik::sim::startControlSocketFromEnvironment();
        tarvik::sim::Simulation::get().startFromEnvironment();
       #endif

        const bool reset = isResetOption (commandLine);

        auto window = std::make_unique<MainWindow> (getApplicationName() + " v" + getApplicationVersion());
        auto* panel = window->getPanel();
        const int barHeight = panel != nullptr ? panel->getMenuBarHeight() : 0;

        if (reset && panel != nullptr)
            panel->savedWindowPosition ({});

        const auto stored = panel != nullptr ? panel->getUserSettings()->getValue ("WindowPosition", {}) : juce::String();

        window->setResizable (true, true);
       #if JUCE_LINUX
        window->syncFrameBorder();
        const bool restored = restoreStoredWindowState (*window, withoutFrame (stored));
       #else
        const bool restored = restoreStoredWindowState (*window, stored);
       #endif

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

       #if JUCE_LINUX
        // Placed before the window manager framed the window, the window may have landed
        // with its frame, not its client, at the place asked for.
        mainDocumentWindow->placeOnceFramed (mainDocumentWindow->getBounds());
       #endif

       #if ! JUCE_MAC
        handover->startServing ([this] (const juce::String& parameters) { anotherInstanceStarted (parameters); });
       #endif
    }

    void shutdown() override
    {
       #if ! JUCE_MAC
        handover.reset();
       #endif

        if (mainDocumentWindow != nullptr)
        {
           #if JUCE_LINUX
            mainDocumentWindow->matchServerBounds();
           #endif
            const auto state = mainDocumentWindow->getWindowStateAsString();

            if (auto* panel = mainDocumentWindow->getPanel())
                panel->savedWindowPosition (state);
        }

        mainDocumentWindow.reset();

       #if ! JUCE_MAC
        controlSocket.reset();
       #endif

       #if JUCE_LINUX
        // Everything is stored by now.
        quitSignals.reset();
       #endif
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
                   #if JUCE_LINUX
                    mainDocumentWindow->updatePendingPlacement();
                   #endif
                }

                panel->setVisible (true);
                mainDocumentWindow->setVisible (true);
                bringForward();
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
    void bringForward()
    {
       #if JUCE_MAC
        if (! juce::SystemStats::isRunningInAppExtensionSandbox())
            juce::Process::makeForegroundProcess();
       #else
        // Coming forward must not change the window's always-on-top state.
        const bool wasOnTop = mainDocumentWindow->isAlwaysOnTop();
        mainDocumentWindow->toFront (true);

        if (mainDocumentWindow->isAlwaysOnTop() != wasOnTop)
            mainDocumentWindow->setAlwaysOnTop (wasOnTop);
       #endif
    }

    std::unique_ptr<MainWindow> mainDocumentWindow;

   #if JUCE_LINUX
    std::unique_ptr<QuitSignals> quitSignals;
   #endif

   #if ! JUCE_MAC
    std::unique_ptr<InstanceHandover> handover;
    std::unique_ptr<tarvik::sim::SimControlSocket> controlSocket;
   #endif
};

START_JUCE_APPLICATION (TarvikApplication)
