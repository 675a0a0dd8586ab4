#pragma once

#include <functional>

#include <juce_core/juce_core.h>

/** The desktop's audio settings tool on Linux, for the "macOS Audio Settings" command.

    The tool runs detached from the panel: a launch returns once the program has been
    started (or could not be), never waiting for the tool to end.
*/

/** Starts the first audio settings tool found in the given search path (a PATH-style
    list of folders): pavucontrol, then pavucontrol-qt, then the desktop's sound
    settings (gnome-control-center sound).

    @returns true when a tool was started, false when none was found or it failed to start
*/
bool launchDesktopAudioSettings (const juce::String& searchPath);

/** Starts a program with its arguments in a session of its own, with its standard
    streams on /dev/null; blocks only until the program has been executed.

    @returns true when the program is running
*/
bool startDetachedProgram (const juce::File& program, const juce::StringArray& arguments);
