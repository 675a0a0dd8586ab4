#pragma once

#include <vector>

#include "PanelTestSupport.h"
#include "app/PWLoopbackDialog.h"

namespace tarvik::test
{
/** One entry of a built menu, as the user would see it. */
struct MenuEntry
{
    bool separator = false;
    int id = 0;
    juce::String text;
    bool enabled = false;
    bool ticked = false;
    const juce::PopupMenu* subMenu = nullptr;
};

inline std::vector<MenuEntry> entriesOf (const juce::PopupMenu& menu)
{
    std::vector<MenuEntry> entries;

    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
    {
        const auto& item = it.getItem();
        entries.push_back ({ item.isSeparator, item.itemID, item.text, item.isEnabled, item.isTicked, item.subMenu.get() });
    }

    return entries;
}

/** The ids of the ticked entries of a menu. */
inline std::vector<int> tickedIds (const juce::PopupMenu& menu)
{
    std::vector<int> ids;

    for (const auto& entry : entriesOf (menu))
        if (entry.ticked)
            ids.push_back (entry.id);

    return ids;
}

/** A window of the panel's on the desktop, found by its title. */
inline juce::DialogWindow* findDialogWindow (const juce::String& title)
{
    auto& desktop = juce::Desktop::getInstance();

    for (int i = 0; i < desktop.getNumComponents(); ++i)
        if (auto* window = dynamic_cast<juce::DialogWindow*> (desktop.getComponent (i)))
            if (window->getName() == title)
                return window;

    return nullptr;
}

inline juce::DialogWindow* loopbackWindow() { return findDialogWindow ("PatchWEAVE Loopback"); }

inline PatchweaveLoopbackDialog* loopbackDialog()
{
    auto* window = loopbackWindow();
    return window != nullptr ? dynamic_cast<PatchweaveLoopbackDialog*> (window->getContentComponent()) : nullptr;
}

/** The data stages of the control transfers that went to the TARVIK, from the given one on. */
inline std::vector<std::vector<UInt8>> transferDataFrom (size_t first)
{
    std::vector<std::vector<UInt8>> data;
    const auto transfers = sim().usbTransfers();

    for (size_t i = first; i < transfers.size(); ++i)
        if (transfers[i].toTarvik)
            data.push_back (transfers[i].data);

    return data;
}

/** Hears "loopback_update" after the panel has: the panel registered with the dialog first. */
struct UpdateCounter final : juce::ActionListener
{
    explicit UpdateCounter (PatchweaveLoopbackDialog& d) : dialog (d) { dialog.addActionListener (this); }
    ~UpdateCounter() override { dialog.removeActionListener (this); }

    void actionListenerCallback (const juce::String& message) override
    {
        if (message == "loopback_update")
            ++count;
    }

    PatchweaveLoopbackDialog& dialog;
    int count = 0;
};

/** A fixture whose settings file may hold a stored loopback state before the panel starts. */
class MenuPanelTest : public PanelTest
{
protected:
    void storeLoopback (const juce::String& value) const
    {
        juce::StringPairArray values;
        values.set ("loopback", value);
        storeSettings (values);
    }
};

/** The main window of a test: a native-titled document window showing the panel. */
struct PanelWindow final
{
    explicit PanelWindow (MainComponent& panel)
        : window ("Tarvik Panel", juce::Colours::lightgrey, juce::DocumentWindow::allButtons, true)
    {
        window.setUsingNativeTitleBar (true);
        window.setContentNonOwned (&panel, true);
        window.setResizable (true, true);
        window.setVisible (true);
    }

    ~PanelWindow() { window.clearContentComponent(); }

    juce::DocumentWindow window;
};
} // namespace tarvik::test
