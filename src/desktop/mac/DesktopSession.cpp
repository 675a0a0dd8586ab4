// The program's life on macOS: JUCE's own single-instance check hands a later launch over.

#include "desktop/DesktopSession.h"

#include <juce_events/juce_events.h>

namespace desktop
{
struct DesktopSession::Impl
{
    bool run = true;
};

DesktopSession::DesktopSession (const juce::String&, const juce::String&, bool onlyToHandOver, Hooks)
    : impl (std::make_unique<Impl>())
{
    impl->run = ! onlyToHandOver;

    if (! impl->run)
        juce::MessageManager::getInstance()->stopDispatchLoop();
}

DesktopSession::~DesktopSession() = default;

void DesktopSession::startOfProgram() {}

bool DesktopSession::shouldRun() const noexcept { return impl->run; }
bool DesktopSession::usesFrameworkInstanceCheck() noexcept { return true; }
} // namespace desktop
