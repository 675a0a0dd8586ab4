#pragma once

#include <functional>
#include <memory>

#include <juce_core/juce_core.h>

/** The program's life on the desktop beyond what JUCE does: one panel per user with the
    hand-over of a later launch's command line, the display it needs, and the signals that
    ask it to end.

    Callers include this header only; the build adds the bodies for the desktop it targets.
*/
namespace desktop
{
class DesktopSession final
{
public:
    struct Hooks
    {
        /** A later launch's command line, on the message thread. */
        std::function<void (const juce::String&)> laterLaunch;
        /** The system asks the program to end (a logout, `kill`), on the message thread. */
        std::function<void()> quitRequested;
    };

    /** The first thing the program does, before JUCE's static objects are made: readies
        the process for the desktop (the signals that ask it to end are caught from here on,
        and the home folder is one the framework can use).
    */
    static void startOfProgram();

    /** The start hook: made first thing in initialise(). It hands the command line to a
        panel already running, and otherwise readies the desktop for this one.

        @param onlyToHandOver  the command line means nothing to a panel that is not running
                               yet: end once it could not be handed over
    */
    DesktopSession (const juce::String& applicationName, const juce::String& commandLine,
                    bool onlyToHandOver, Hooks hooks);

    /** The stop hook: destroyed last in shutdown(), once everything is stored. */
    ~DesktopSession();

    /** False when this launch is not to run as the panel: the session then ends it itself,
        with its exit code, once it is done (handing a command line over may take a moment).
    */
    bool shouldRun() const noexcept;

    /** Whether JUCE's own single-instance check serves on this desktop. */
    static bool usesFrameworkInstanceCheck() noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;

    JUCE_DECLARE_NON_COPYABLE (DesktopSession)
};
} // namespace desktop
