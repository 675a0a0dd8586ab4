// The audio settings on macOS: Audio MIDI Setup.

#include "desktop/AudioSettings.h"

#include <juce_core/juce_core.h>

namespace desktop
{
namespace
{
AudioSettingsLauncher& currentLauncher()
{
    static AudioSettingsLauncher launcher;
    return launcher;
}
} // namespace

void setAudioSettingsLauncher (AudioSettingsLauncher launcher) { currentLauncher() = std::move (launcher); }

bool launchAudioSettings()
{
    if (currentLauncher() != nullptr)
        return currentLauncher()();

    return juce::File ("/System/Applications/Utilities/Audio MIDI Setup.app").startAsProcess();
}
} // namespace desktop
