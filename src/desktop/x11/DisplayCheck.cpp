#include "desktop/x11/DisplayCheck.h"

#include "desktop/x11/XConnection.h"

namespace desktop::x11
{
std::optional<juce::String> unopenableDisplayMessage (const juce::String& applicationName)
{
    // The program's own connection opens at the display JUCE will use, or not at all.
    if (XConnection::get() != nullptr)
        return std::nullopt;

    const auto variable = juce::SystemStats::getEnvironmentVariable ("DISPLAY", {});
    return applicationName + ": cannot open the X display \"" + XConnection::displayName() + "\""
           + (variable.isEmpty() ? " (DISPLAY is not set)" : "");
}
} // namespace desktop::x11
