#include "app/MainComponent.h"

#include "app/AboutWindow.h"
#include "app/PWLoopbackDialog.h"
#include "desktop/DesktopWindows.h"
#include "app/SettingsFile.h"
#include "controls/LevelMeter2.h"
#include "controls/PopupMenuLookAndFeel.h"
#include "controls/SliderStereoGroup2.h"
#include "device/RawUSBDevice.h"
#include "device/RegisterDeviceCallBacksMac.h"
#include "app/PanelArt.h"

namespace
{
// Created by the first panel, deleted by its destructor; no command is registered with it.
std::unique_ptr<juce::ApplicationCommandManager> applicationCommandManager;

/** The leading integer of a stored text, as the framework reads it, but without wrapping
    around: a number too large for an int reads as out of range instead of as some
    other value. Text without a leading integer reads as 0.
*/
juce::int64 leadingInteger (const juce::String& text)
{
    auto p = text.getCharPointer().findEndOfWhitespace();
    const bool negative = *p == '-';

    if (negative)
        ++p;

    juce::int64 value = 0;

    for (auto c = *p; c >= '0' && c <= '9'; c = *++p)
    {
        value = value * 10 + (c - '0');

        if (value > std::numeric_limits<int>::max())
            return negative ? std::numeric_limits<juce::int64>::min() : std::numeric_limits<juce::int64>::max();
    }

    return negative ? -value : value;
}
} // namespace

//==============================================================================
juce::PropertiesFile::Options MainComponent::defaultSettingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Tarvik Panel";
    options.filenameSuffix = ".settings";
    options.folderName = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                             .getChildFile ("Tarvik Panel")
                             .getFullPathName();
    options.osxLibrarySubFolder = "Application Support";
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 3000;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.processLock = nullptr;
    return options;
}

MainComponent::MainComponent (const juce::PropertiesFile::Options& settingsOptions)
    : muteInButton (std::make_unique<juce::ImageButton> ("MuteIn")),
      muteOutButton (std::make_unique<juce::ImageButton> ("MuteOut")),
      labelIn1 (std::make_unique<juce::Label>()),
      labelIn2 (std::make_unique<juce::Label>()),
      labelOut1 (std::make_unique<juce::Label>()),
      labelOut2 (std::make_unique<juce::Label>()),
      sliderIn1 (std::make_unique<juce::Slider>()),
      sliderIn2 (std::make_unique<juce::Slider>()),
      sliderOut1 (std::make_unique<juce::Slider>()),
      sliderOut2 (std::make_unique<juce::Slider>()),
      meterIn1 (std::make_unique<LevelMeter2>()),
      meterIn2 (std::make_unique<LevelMeter2>()),
      meterOut1 (std::make_unique<LevelMeter2>()),
      meterOut2 (std::make_unique<LevelMeter2>()),
      menuBar (std::make_unique<juce::MenuBarComponent> (this)),
      popupLookAndFeel (std::make_unique<PopupMenuLookandFeel>())
{
    settings = std::make_unique<SettingsFile> (settingsOptions);
    readLoopbackSetting();

    currentSampleRate = 0.0;

    if (applicationCommandManager == nullptr)
        applicationCommandManager = std::make_unique<juce::ApplicationCommandManager>();

    addKeyListener (applicationCommandManager->getKeyMappings());
    setApplicationCommandManagerToWatch (applicationCommandManager.get());

    deviceWriteInProgress = false;

    addAndMakeVisible (*menuBar);

    popupBackgroundColour = juce::Colours::lightgrey;
    popupTextColour = juce::Colours::black;

    menuBarHeight = desktop::placeMenus (*menuBar, *this, *popupLookAndFeel);

    RegisterRawDeviceNotifications();

    backgroundImage = panelArt (12).createCopy();
    pressedImage = panelArt (13).createCopy();
    imageOrigin = { 0, menuBarHeight };

    juce::DialogWindow::LaunchOptions launchOptions;

    loopbackDialog = std::make_unique<PatchweaveLoopbackDialog>();
    loopbackDialog->addActionListener (this);
    loopbackDialogWindow = createLoopbackDialogWindow (launchOptions, loopbackDialog.get());

    aboutContent = std::make_unique<AboutWindow>();
    aboutDialogWindow = createAboutDialogWindow (launchOptions, aboutContent.get());

    buildControls();
    registerWithDevice();
    resized();
}

MainComponent::~MainComponent()
{
    {
        // A notification thread waiting for this lock finds the panel gone and drops its event.
        const juce::MessageManagerLock lock;
        WithdrawDeviceUserData();
    }

    CloseRawDevice();

    desktop::removeMenus (*menuBar);
    menuBar->setLookAndFeel (nullptr);
    juce::PopupMenu::dismissAllActiveMenus();
    menuBar.reset();

    sliderInGroup.reset();
    sliderOutGroup.reset();

    sliderIn1.reset();
    sliderIn2.reset();
    sliderOut1.reset();
    sliderOut2.reset();

    // The content leaves its window as it goes, so the window finds nothing left to delete.
    aboutContent.reset();
    aboutDialogWindow.reset();

    for (auto* meter : { meterIn1.get(), meterIn2.get(), meterOut1.get(), meterOut2.get() })
    {
        meter->levelSource = nullptr;
        meter->meterLevel = 0;
    }

    meterIn1.reset();
    meterIn2.reset();
    meterOut1.reset();
    meterOut2.reset();

    removeKeyListener (applicationCommandManager->getKeyMappings());
    setApplicationCommandManagerToWatch (nullptr);
    applicationCommandManager.reset();
}

void MainComponent::visibilityChanged() {}

//==============================================================================
void MainComponent::readLoopbackSetting()
{
    const auto stored = leadingInteger (settings->getValue ("loopback", "0"));

    if (stored == 0 || stored == 1)
    {
        loopbackMode = (int) stored;
        return;
    }

    loopbackMode = 0;
    settings->setValue ("loopback", loopbackMode);
}

void MainComponent::registerWithDevice()
{
    FillTarvikRegistration (this, &MainComponent::OnApiCallback);

    RegisterDeviceCallBacks();
}

void MainComponent::savedWindowPosition (juce::String windowState)
{
    settings->setValue ("WindowPosition", windowState);
}
