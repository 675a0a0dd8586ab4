#include "app/DisplayCheck.h"

#include <X11/Xlib.h>

#include <memory>

std::optional<juce::String> unopenableDisplayMessage (const juce::String& applicationName)
{
    const auto variable = juce::SystemStats::getEnvironmentVariable ("DISPLAY", {});
    const auto name = variable.isEmpty() ? juce::String (":0.0") : variable;

    // A connection of our own, closed at once: JUCE makes its own later.
    const std::unique_ptr<Display, int (*) (Display*)> display (XOpenDisplay (name.toRawUTF8()), XCloseDisplay);

    if (display != nullptr)
        return std::nullopt;

    return applicationName + ": cannot open the X display \"" + name + "\""
           + (variable.isEmpty() ? " (DISPLAY is not set)" : "");
}
