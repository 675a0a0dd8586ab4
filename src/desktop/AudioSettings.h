#pragma once

#include <functional>

/** Brings up the desktop's audio settings tool for the "macOS Audio Settings" command.

    Callers include this header only; the build adds the body for the desktop it targets.
*/
namespace desktop
{
/** What the command calls; returns true when the settings tool was started. */
using AudioSettingsLauncher = std::function<bool()>;

/** Replaces the launcher (tests use this so that no real program starts); an empty
    function restores the desktop's own.
*/
void setAudioSettingsLauncher (AudioSettingsLauncher launcher);

/** Runs the current launcher; returns once the tool was started (or could not be). */
bool launchAudioSettings();
} // namespace desktop
