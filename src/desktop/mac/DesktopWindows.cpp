// The panel's windows on macOS, where JUCE's own behaviour serves.

#include "desktop/DesktopWindows.h"

namespace desktop
{
struct MainWindowKeeper::Impl
{
};

MainWindowKeeper::MainWindowKeeper (juce::DocumentWindow&, BorderBoundsConstrainer&, std::function<void()>) {}
MainWindowKeeper::~MainWindowKeeper() = default;

juce::String MainWindowKeeper::stateToRestore (const juce::String& stored) const { return stored; }
juce::String MainWindowKeeper::stateToStore (const juce::String& windowState) const { return windowState; }
void MainWindowKeeper::windowResized() {}
bool MainWindowKeeper::contentMaySizeWindow() const { return true; }
void MainWindowKeeper::placeOnceFramed() {}
void MainWindowKeeper::updatePendingPlacement() {}
void MainWindowKeeper::matchServerBounds() {}

struct DialogWindowKeeper::Impl
{
    explicit Impl (juce::DialogWindow& w) : window (w) {}
    juce::DialogWindow& window;
};

DialogWindowKeeper::DialogWindowKeeper (juce::DialogWindow& window) : impl (std::make_unique<Impl> (window)) {}
DialogWindowKeeper::~DialogWindowKeeper() = default;

void DialogWindowKeeper::keepSizeRule (ClientSizeRule) {}

void DialogWindowKeeper::showAt (juce::Rectangle<int> clientBounds)
{
    auto& window = impl->window;
    window.setVisible (true);

    // Going on top for a moment brings the window up without changing what the user chose.
    const bool wasOnTop = window.isAlwaysOnTop();
    window.setAlwaysOnTop (true);
    window.setBounds (clientBounds);
    window.setAlwaysOnTop (wasOnTop);
}

void DialogWindowKeeper::placeThenShow (juce::Rectangle<int> clientBounds, std::function<void()> show)
{
    impl->window.setBounds (clientBounds);
    show();
}

bool isKeptOnTop (const juce::Component& window) { return window.isAlwaysOnTop(); }
void setKeptOnTop (juce::Component& window, bool onTop) { window.setAlwaysOnTop (onTop); }

void bringToFront (juce::DocumentWindow&)
{
    if (! juce::SystemStats::isRunningInAppExtensionSandbox())
        juce::Process::makeForegroundProcess();
}

int placeMenus (juce::MenuBarComponent& bar, juce::MenuBarModel& model, juce::LookAndFeel&)
{
    bar.setModel (nullptr);
    juce::MenuBarModel::setMacMainMenu (&model, nullptr, {});
    return 0;
}

void removeMenus (juce::MenuBarComponent&)
{
    juce::MenuBarModel::setMacMainMenu (nullptr);
}
} // namespace desktop
