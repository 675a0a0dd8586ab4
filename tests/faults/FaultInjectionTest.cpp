// Every stand-in call that the device link and the panel make, made to fail in turn. Each row
// names the failing call, the flow it breaks and what must still hold afterwards; the detail of
// each flow is tested elsewhere, this table is about breadth.
#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/MenuTestSupport.h"
#include "device/DeviceProperties.h"
#include "device/RawUSBDevice.h"
#include "device/RegisterDeviceCallBacksMac.h"
#include "platform/Sleep.h"
#include "support/Simulation.h"
#include "support/StdoutCapture.h"
#include "support/TestNames.h"

namespace
{
using namespace tarvik::sim;
using tarvik::test::pumpFor;
using tarvik::test::pumpUntil;
using tarvik::test::sim;
using tarvik::test::StdoutCapture;

constexpr IOReturn ioFailure = kIOReturnNotResponding;
constexpr OSStatus audioFailure = kAudioHardwareUnspecifiedError;
constexpr int resetLoopbackItem = 0x2402;

//==============================================================================
// Faults

std::string fourCC (UInt32 code)
{
    if (code == kAudioObjectPropertySelectorWildcard)
        return "*";

    std::string text (4, ' ');
    for (int i = 0; i < 4; ++i)
        text[(size_t) i] = (char) ((code >> (8 * (3 - i))) & 0xFF);
    return "'" + text + "'";
}

std::string callName (Call call)
{
    switch (call)
    {
        case Call::IOMasterPort:                      return "IOMasterPort";
        case Call::IOServiceMatching:                 return "IOServiceMatching";
        case Call::IONotificationPortCreate:          return "IONotificationPortCreate";
        case Call::IOServiceAddMatchingNotification:  return "IOServiceAddMatchingNotification";
        case Call::IOServiceGetMatchingServices:      return "IOServiceGetMatchingServices";
        case Call::IORegistryEntryCreateCFProperties: return "IORegistryEntryCreateCFProperties";
        case Call::IORegistryEntryGetRegistryEntryID: return "IORegistryEntryGetRegistryEntryID";
        case Call::IOObjectRelease:                   return "IOObjectRelease";
        case Call::IORegisterForSystemPower:          return "IORegisterForSystemPower";
        case Call::IOAllowPowerChange:                return "IOAllowPowerChange";
        case Call::mach_port_deallocate:              return "mach_port_deallocate";
        case Call::CFStringCreateWithCString:         return "CFStringCreateWithCString";
        case Call::IOCreatePlugInInterfaceForService: return "IOCreatePlugInInterfaceForService";
        case Call::QueryInterface:                    return "QueryInterface";
        case Call::USBDeviceOpen:                     return "USBDeviceOpen";
        case Call::USBDeviceClose:                    return "USBDeviceClose";
        case Call::GetDeviceVendor:                   return "GetDeviceVendor";
        case Call::GetDeviceProduct:                  return "GetDeviceProduct";
        case Call::GetDeviceReleaseNumber:            return "GetDeviceReleaseNumber";
        case Call::GetNumberOfConfigurations:         return "GetNumberOfConfigurations";
        case Call::GetConfigurationDescriptorPtr:     return "GetConfigurationDescriptorPtr";
        case Call::SetConfiguration:                  return "SetConfiguration";
        case Call::DeviceRequest:                     return "DeviceRequest";
        case Call::AudioObjectGetPropertyDataSize:    return "AudioObjectGetPropertyDataSize";
        case Call::AudioObjectGetPropertyData:        return "AudioObjectGetPropertyData";
        case Call::AudioObjectSetPropertyData:        return "AudioObjectSetPropertyData";
        case Call::AudioObjectAddPropertyListener:    return "AudioObjectAddPropertyListener";
        case Call::AnyPropertyAccess:                 return "any property access";
    }
    return "?";
}

bool isPropertyCall (Call call)
{
    return call == Call::AudioObjectGetPropertyDataSize || call == Call::AudioObjectGetPropertyData
        || call == Call::AudioObjectSetPropertyData || call == Call::AudioObjectAddPropertyListener;
}

/** A fault with a readable name; the builders pick which calls fail. */
struct FaultPoint
{
    Fault fault;
    std::optional<Side> onSide; ///< property calls on that side's object only

    FaultPoint& nth (int n) { fault.skip = n - 1; fault.times = 1; return *this; }
    FaultPoint& once() { fault.times = 1; return *this; }
    FaultPoint& on (Side side) { onSide = side; return *this; }

    std::string name() const
    {
        auto text = callName (fault.call);

        if (isPropertyCall (fault.call) && fault.address.mSelector != kAudioObjectPropertySelectorWildcard)
        {
            text += " " + fourCC (fault.address.mSelector);
            if (fault.address.mScope != kAudioObjectPropertyScopeWildcard)
                text += " " + fourCC (fault.address.mScope);
            if (fault.address.mElement != kAudioObjectPropertyElementWildcard)
                text += " " + std::to_string (fault.address.mElement);
        }

        if (onSide)
            text += *onSide == Side::input ? " on the input side" : " on the output side";
        if (fault.times == 1)
            text += fault.skip == 0 ? ", once" : ", call " + std::to_string (fault.skip + 1) + " only";
        return text;
    }
};

FaultPoint fails (Call call)
{
    FaultPoint point;
    point.fault.call = call;
    point.fault.status = isPropertyCall (call) ? audioFailure : ioFailure;
    return point;
}

FaultPoint fails (Call call, const char (&selector)[5], const char (&scope)[5] = "****",
                  UInt32 element = kAudioObjectPropertyElementWildcard)
{
    auto point = fails (call);
    point.fault.address = { TarvikFourCC (selector), TarvikFourCC (scope), element };
    return point;
}

//==============================================================================
// What a flow left behind

struct Outcome
{
    std::vector<VYR_CallbackEvent> events;
    bool bound = false;
    int sleeps = 0;
    std::vector<std::string> lines;
    double rate = -1.0;
    std::optional<IOReturn> request, laterRequest;
    bool rawHeld = false;
    int liveUsbInterfaces = 0;
    int heldMasterPorts = 0;
    int powerRegistrations = 0;
    std::vector<bool> powerChangesAllowed;
    TarvikState device;

    // Signs that the fault was hit where the outcome alone cannot tell.
    mach_port_t presenceMasterPort = 0;
    int heldServiceReferences = 0;
    int failedWrites = 0;
    int closes = 0, releasesWhileOpen = 0;

    // Where a panel ran.
    int controlsShown = -1, controlsHidden = -1;
    std::array<double, 4> faders {};
    std::array<juce::String, 4> readouts;
    bool mutedIn = false, mutedOut = false;
    int loopbackMode = -1;
    juce::String storedLoopback;
    int dialogState = -2;
    std::vector<int> tickedRates;
    bool ratesEnabled = false;
    int formatWrites = 0;
};

struct Check
{
    std::string what;
    std::function<void (const Outcome&)> verify;
};

std::string eventList (const std::vector<VYR_CallbackEvent>& events)
{
    std::string text = "{";
    for (auto e : events)
        text += (text.size() > 1 ? " " : "") + std::to_string ((int) e);
    return text + "}";
}

Check sends (std::vector<VYR_CallbackEvent> events)
{
    return { "sends " + eventList (events), [events] (const Outcome& o) { EXPECT_EQ (o.events, events); } };
}

Check sendsNothing() { return sends ({}); }

Check reportsTheChange()
{
    return { "reports the change", [] (const Outcome& o) {
        EXPECT_FALSE (o.events.empty()) << "no EventPropertyChanged";
        for (auto e : o.events)
            EXPECT_EQ (e, EventPropertyChanged);
    } };
}

Check bound (bool expected)
{
    return { expected ? "binds" : "binds nothing", [expected] (const Outcome& o) { EXPECT_EQ (o.bound, expected); } };
}

Check sleeps (int count)
{
    return { std::to_string (count) + " bind waits", [count] (const Outcome& o) { EXPECT_EQ (o.sleeps, count); } };
}

Check silent()
{
    return { "prints nothing", [] (const Outcome& o) {
        EXPECT_TRUE (o.lines.empty()) << "first line: " << o.lines.front();
    } };
}

Check prints (std::string line)
{
    return { "prints \"" + line + "\"", [line] (const Outcome& o) {
        std::string all;
        for (auto& l : o.lines)
            all += "  " + l + "\n";
        EXPECT_NE (std::find (o.lines.begin(), o.lines.end(), line), o.lines.end()) << "printed:\n" << all;
    } };
}

Check printsNo (std::string fragment)
{
    return { "prints no \"" + fragment + "\"", [fragment] (const Outcome& o) {
        for (auto& l : o.lines)
            EXPECT_EQ (l.find (fragment), std::string::npos) << l;
    } };
}

Check returnsRate (double rate)
{
    return { "hw_getSampleRate gives " + std::to_string ((int) rate), [rate] (const Outcome& o) { EXPECT_EQ (o.rate, rate); } };
}

Check inputRate (double rate)
{
    return { "input side at " + std::to_string ((int) rate), [rate] (const Outcome& o) { EXPECT_EQ (o.device.inRate, rate); } };
}

std::string hex (IOReturn status) { return juce::String::toHexString ((int) status).toStdString(); }

Check requestReturns (IOReturn status)
{
    return { "loopback request gives " + hex (status), [status] (const Outcome& o) {
        ASSERT_TRUE (o.request.has_value());
        EXPECT_EQ (hex (*o.request), hex (status));
    } };
}

Check laterRequestReturns (IOReturn status)
{
    return { "next request gives " + hex (status), [status] (const Outcome& o) {
        ASSERT_TRUE (o.laterRequest.has_value());
        EXPECT_EQ (hex (*o.laterRequest), hex (status));
    } };
}

/** The raw channel holds the TARVIK or nothing, and no other device interface is left alive. */
Check rawDevice (bool held)
{
    return { held ? "holds the raw device" : "holds no raw device, nothing left open", [held] (const Outcome& o) {
        EXPECT_EQ (o.rawHeld, held);
        EXPECT_EQ (o.liveUsbInterfaces, held ? 1 : 0);
    } };
}

Check masterPortGivenBack()
{
    return { "gives the master port back", [] (const Outcome& o) { EXPECT_EQ (o.heldMasterPorts, 0); } };
}

Check powerRegistrations (int count)
{
    return { std::to_string (count) + " power registrations", [count] (const Outcome& o) {
        EXPECT_EQ (o.powerRegistrations, count);
    } };
}

Check powerChangesRefused()
{
    return { "no power change acknowledged", [] (const Outcome& o) {
        EXPECT_EQ (o.powerChangesAllowed, std::vector<bool> (2, false));
    } };
}

Check noPresenceMasterPort()
{
    return { "no master port kept", [] (const Outcome& o) { EXPECT_EQ (o.presenceMasterPort, 0u); } };
}

Check serviceReferencesKept()
{
    return { "failed releases keep their references", [] (const Outcome& o) { EXPECT_GT (o.heldServiceReferences, 0); } };
}

Check masterPortKept()
{
    return { "master port not given back", [] (const Outcome& o) { EXPECT_EQ (o.heldMasterPorts, 1); } };
}

Check writeFailed()
{
    return { "a write failed", [] (const Outcome& o) { EXPECT_GT (o.failedWrites, 0); } };
}

Check closeFailed()
{
    return { "released without a close", [] (const Outcome& o) {
        EXPECT_EQ (o.closes, 0);
        EXPECT_EQ (o.releasesWhileOpen, 1);
    } };
}

Check controls (bool shown)
{
    return { shown ? "controls shown" : "controls hidden", [shown] (const Outcome& o) {
        EXPECT_EQ (shown ? o.controlsShown : o.controlsHidden, 8) << "of the 8 device controls";
    } };
}

const char* const channelNames[] { "in 1", "in 2", "out 1", "out 2" };

/** Fader and readout of a channel: 0 = in 1, 1 = in 2, 2 = out 1, 3 = out 2. */
Check channel (size_t index, double fader, const char* readout)
{
    return { std::string (channelNames[index]) + " at " + readout, [=] (const Outcome& o) {
        EXPECT_EQ (o.faders[index], fader) << channelNames[index];
        EXPECT_EQ (o.readouts[index], juce::String (readout)) << channelNames[index];
    } };
}

Check muteButtons (bool in, bool out)
{
    return { std::string ("mute buttons ") + (in ? "on" : "off") + "/" + (out ? "on" : "off"), [=] (const Outcome& o) {
        EXPECT_EQ (o.mutedIn, in);
        EXPECT_EQ (o.mutedOut, out);
    } };
}

Check deviceVolume (Side side, size_t channelIndex, float decibels)
{
    return { "device keeps " + std::to_string ((int) decibels) + " dB", [=] (const Outcome& o) {
        const auto& c = side == Side::input ? o.device.in : o.device.out;
        EXPECT_EQ (c[channelIndex].volumeDb, decibels);
    } };
}

Check deviceMuted (Side side, bool muted)
{
    return { std::string ("device side ") + (muted ? "muted" : "not muted"), [=] (const Outcome& o) {
        const auto& c = side == Side::input ? o.device.in : o.device.out;
        EXPECT_EQ (c[0].muted, muted);
        EXPECT_EQ (c[1].muted, muted);
    } };
}

Check keepsLoopback (int mode, int dialogSelection)
{
    return { "keeps loopback " + std::to_string (mode) + ", dialog shows " + std::to_string (dialogSelection),
             [=] (const Outcome& o) {
                 EXPECT_EQ (o.loopbackMode, mode);
                 EXPECT_EQ (o.storedLoopback, juce::String (mode));
                 EXPECT_EQ (o.dialogState, dialogSelection);
             } };
}

Check noRateTicked()
{
    return { "no rate ticked, rates enabled", [] (const Outcome& o) {
        EXPECT_TRUE (o.tickedRates.empty());
        EXPECT_TRUE (o.ratesEnabled);
    } };
}

Check formatWrites (int count)
{
    return { std::to_string (count) + " stream format writes", [count] (const Outcome& o) {
        EXPECT_EQ (o.formatWrites, count);
    } };
}

//==============================================================================
// Flows

enum class Flow
{
    registration,   ///< the device link registers with the TARVIK attached
    laterAttach,    ///< the TARVIK arrives after registration
    detach,         ///< the bound TARVIK goes away
    propertyChange, ///< CoreAudio reports a change of the row's property (output side at 96 kHz, input at 48 kHz)
    sampleRate,     ///< hw_getSampleRate with the output side at 96 kHz, the input side at 48 kHz
    sampleRate32k,  ///< the same with the output side at 32 kHz
    power,          ///< can-sleep, will-sleep and has-powered-on messages after registration
    rawStart,       ///< the raw channel registers with the TARVIK attached, then one loopback request
    rawAttach,      ///< the TARVIK arrives after the raw registration, then one loopback request
    rawDetach,      ///< the opened TARVIK goes away
    loopback,       ///< two loopback requests on the opened TARVIK
    rawClose,       ///< the opened TARVIK is closed as the panel goes
    panelStart,     ///< the panel is built with the TARVIK attached
    panelRefresh,   ///< another program turns output 2 to -15 dB and the panel refreshes
    panelDetach,    ///< the TARVIK goes away under the panel
    faderMove,      ///< output 1 (on the muted side) moved to -12 dB
    muteClick,      ///< a click on the input mute button
    factoryDefaults,
    panelLoopback,  ///< "Reset" in the PatchWEAVE menu with loopback 1 stored
    configMenu      ///< the Config menu is built
};

const char* flowName (Flow flow)
{
    switch (flow)
    {
        case Flow::registration:    return "registration with the interface attached";
        case Flow::laterAttach:     return "a later attach";
        case Flow::detach:          return "a detach";
        case Flow::propertyChange:  return "a property change";
        case Flow::sampleRate:      return "hw_getSampleRate";
        case Flow::sampleRate32k:   return "hw_getSampleRate at 32 kHz";
        case Flow::power:           return "sleep and wake";
        case Flow::rawStart:        return "raw registration with the interface attached";
        case Flow::rawAttach:       return "a later raw attach";
        case Flow::rawDetach:       return "a raw detach";
        case Flow::loopback:        return "a loopback request";
        case Flow::rawClose:        return "closing the raw device";
        case Flow::panelStart:      return "the panel's construction";
        case Flow::panelRefresh:    return "the panel's refresh";
        case Flow::panelDetach:     return "a detach under the panel";
        case Flow::faderMove:       return "a fader move";
        case Flow::muteClick:       return "a mute click";
        case Flow::factoryDefaults: return "factory defaults";
        case Flow::panelLoopback:   return "the panel's loopback switch";
        case Flow::configMenu:      return "the Config menu";
    }
    return "?";
}

/** When the fault goes in: before the flow's action (the default), or before anything registers. */
enum class From
{
    action,
    start
};

struct Row
{
    FaultPoint fault;
    Flow flow;
    std::vector<Check> expect;
    From from = From::action;

    std::string describe() const
    {
        std::string text = fault.name() + (from == From::start ? " from the start" : "") + " in " + flowName (flow) + ":";
        for (auto& c : expect)
            text += " " + c.what + ";";
        return text;
    }
};

//==============================================================================
std::mutex eventLock;
std::vector<VYR_CallbackEvent> events;
std::atomic<int> bindWaits { 0 };
int owner = 0;

void recordEvent (void*, void*, VYR_CallbackEvent event)
{
    const std::lock_guard<std::mutex> guard (eventLock);
    events.push_back (event);
}

std::vector<VYR_CallbackEvent> takeEvents()
{
    const std::lock_guard<std::mutex> guard (eventLock);
    auto taken = events;
    events.clear();
    return taken;
}

/** Lets whatever the message queue holds now run, and what that posts in turn. */
void settle()
{
    for (int round = 0; round < 3; ++round)
    {
        auto done = std::make_shared<std::atomic<bool>>(false);
        juce::MessageManager::callAsync ([done] { *done = true; });
        pumpUntil ([done] { return done->load(); }, 5000);
    }
}

/** Calls the property listener on a thread of its own, as CoreAudio would. */
void notifyListener (AudioObjectID object, const AudioObjectPropertyAddress& address)
{
    std::atomic<bool> done { false };
    std::thread notifier ([&] {
        myAudioObjectPropertyListenerProc (object, 1, &address, &mydeviceStruct);
        done = true;
    });
    pumpUntil ([&] { return done.load(); }, 10000);
    notifier.join();
}

//==============================================================================
class FaultRun final
{
public:
    explicit FaultRun (const Row& r) : row (r)
    {
        sim().reset();
        tarvik::platform::setSleepFunction ([] (unsigned int seconds) { bindWaits += (int) seconds; });
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        gUSBdevice = nullptr;
        bindWaits = 0;
        takeEvents();

        mydeviceStruct = {};
        FillTarvikRegistration (&owner, recordEvent);

        folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                     .getChildFile ("tarvik-faults-" + juce::Uuid().toString());
        folder.createDirectory();
    }

    ~FaultRun()
    {
        panel.reset();
        WithdrawDeviceUserData();
        CloseRawDevice();
        sim().reset();
        pumpFor (10);
        folder.deleteRecursively();
    }

    Outcome run()
    {
        if (row.from == From::start)
            inject();

        switch (row.flow)
        {
            case Flow::registration:
                sim().attachTarvik();
                act ([] { RegisterDeviceCallBacks(); });
                break;

            case Flow::laterAttach:
                RegisterDeviceCallBacks();
                act ([] { sim().attachTarvik(); settle(); });
                break;

            case Flow::detach:
                sim().attachTarvik();
                RegisterDeviceCallBacks();
                act ([] { sim().detachTarvik(); settle(); });
                break;

            case Flow::propertyChange:
                twoSides (96000.0);
                RegisterDeviceCallBacks();
                act ([this] {
                    // The rate is a property of the whole device; the others are per channel.
                    const auto selector = row.fault.fault.address.mSelector;
                    const bool global = selector == kAudioDevicePropertyNominalSampleRate;
                    notifyListener (sim().tarvikAudioObject (Side::output),
                                    { selector, global ? kAudioObjectPropertyScopeGlobal : kAudioObjectPropertyScopeOutput,
                                      global ? 0u : 1u });
                });
                break;

            case Flow::sampleRate:
            case Flow::sampleRate32k:
                twoSides (row.flow == Flow::sampleRate ? 96000.0 : 32000.0);
                RegisterDeviceCallBacks();
                act ([this] { outcome.rate = hw_getSampleRate(); });
                break;

            case Flow::power:
                act ([this] {
                    RegisterDeviceCallBacks();
                    for (auto message : { kIOMessageCanSystemSleep, kIOMessageSystemWillSleep, kIOMessageSystemHasPoweredOn })
                        notifications.push_back (sim().sendPowerMessage (message));
                    settle();
                });
                for (size_t i = 0; i < 2; ++i)
                    outcome.powerChangesAllowed.push_back (sim().wasPowerChangeAllowed (notifications[i]));
                break;

            case Flow::rawStart:
                sim().attachTarvik();
                act ([] { RegisterRawDeviceNotifications(); });
                request();
                break;

            case Flow::rawAttach:
                RegisterRawDeviceNotifications();
                act ([] { sim().attachTarvik(); settle(); });
                request();
                break;

            case Flow::rawDetach:
                sim().attachTarvik();
                RegisterRawDeviceNotifications();
                act ([] { sim().detachTarvik(); settle(); });
                break;

            case Flow::loopback:
                sim().attachTarvik();
                RegisterRawDeviceNotifications();
                act ([this] {
                    outcome.request = ubs_hw_toggleLoopbackMode (1);
                    outcome.laterRequest = ubs_hw_toggleLoopbackMode (0);
                });
                break;

            case Flow::rawClose:
                sim().attachTarvik();
                RegisterRawDeviceNotifications();
                act ([] { CloseRawDevice(); });
                break;

            case Flow::panelStart:
                attachForPanel();
                act ([this] { buildPanel(); });
                break;

            case Flow::panelRefresh:
                attachForPanel();
                buildPanel();
                act ([this] {
                    sim().setVolumeDb (Side::output, 2, -15.0f);
                    const MainComponentInspector ui (*panel);
                    pumpUntil ([&] { return ui.refreshPending(); }, 3000);
                    pumpUntil ([&] { return ! ui.refreshPending(); }, 3000);
                });
                break;

            case Flow::panelDetach:
                attachForPanel();
                buildPanel();
                act ([] { sim().detachTarvik(); settle(); });
                break;

            case Flow::faderMove:
                attachForPanel();
                buildPanel();
                act ([this] { MainComponentInspector (*panel).sliderOut1().setValue (-12.0, juce::sendNotificationSync); });
                break;

            case Flow::muteClick:
                attachForPanel();
                buildPanel();
                act ([this] {
                    const MainComponentInspector ui (*panel);
                    ui.muteIn().triggerClick();
                    pumpUntil ([&] { return ui.writeInProgress(); }, 3000);
                    pumpUntil ([&] { return ! ui.writeInProgress(); }, 3000);
                    pumpFor (100);
                });
                break;

            case Flow::factoryDefaults:
                attachForPanel();
                buildPanel();
                // What it promises holds as it returns; the device's reports may change the panel later.
                act ([this] { panel->setFactoryDefaults(); });
                observePanel();
                settle();
                pumpFor (100);
                break;

            case Flow::panelLoopback:
                attachForPanel();
                storeLoopback ("1");
                buildPanel();
                act ([this] {
                    panel->menuItemSelected (resetLoopbackItem, 2);
                    settle();
                });
                break;

            case Flow::configMenu:
                attachForPanel();
                buildPanel();
                act ([this] {
                    const auto menu = panel->getMenuForIndex (1, "Config");
                    for (auto& entry : tarvik::test::entriesOf (menu))
                    {
                        if (entry.subMenu == nullptr)
                            continue;
                        outcome.tickedRates = tarvik::test::tickedIds (*entry.subMenu);
                        outcome.ratesEnabled = true;
                        for (auto& rate : tarvik::test::entriesOf (*entry.subMenu))
                            outcome.ratesEnabled = outcome.ratesEnabled && rate.enabled;
                    }
                });
                break;
        }

        outcome.bound = gInAudioObjectID.load() != 0 && gOutAudioObjectID.load() != 0;
        outcome.sleeps = bindWaits.load();
        outcome.rawHeld = gUSBdevice != nullptr;
        outcome.liveUsbInterfaces = sim().liveUsbInterfaces();
        outcome.heldMasterPorts = sim().heldMasterPorts();
        outcome.powerRegistrations = sim().powerRegistrations();
        outcome.device = sim().state();
        outcome.presenceMasterPort = gMasterDevicePort;
        outcome.heldServiceReferences = sim().heldServiceReferences();

        if (panel != nullptr && row.flow != Flow::factoryDefaults)
            observePanel();

        return outcome;
    }

private:
    void inject()
    {
        auto fault = row.fault.fault;
        if (row.fault.onSide)
            fault.object = sim().tarvikAudioObject (*row.fault.onSide);
        sim().injectFault (fault);
    }

    /** Injects the fault (unless it is in from the start), runs the action with stdout captured. */
    template <typename Action>
    void act (Action&& action)
    {
        takeEvents();
        bindWaits = 0;
        const auto writesBefore = sim().propertyWrites().size();
        const auto usbEventsBefore = sim().usbDeviceEvents().size();

        if (row.from == From::action)
            inject();

        StdoutCapture capture;
        action();
        outcome.lines = capture.finish();
        outcome.events = takeEvents();

        const auto writes = sim().propertyWrites();
        for (size_t i = writesBefore; i < writes.size(); ++i)
        {
            if (writes[i].external)
                continue;
            outcome.formatWrites += writes[i].address.mSelector == kAudioStreamPropertyPhysicalFormat ? 1 : 0;
            outcome.failedWrites += writes[i].status != 0 ? 1 : 0;
        }

        const auto usbEvents = sim().usbDeviceEvents();
        for (size_t i = usbEventsBefore; i < usbEvents.size(); ++i)
        {
            outcome.closes += usbEvents[i].kind == UsbDeviceEvent::Kind::closed ? 1 : 0;
            outcome.releasesWhileOpen += usbEvents[i].kind == UsbDeviceEvent::Kind::released && usbEvents[i].wasOpen ? 1 : 0;
        }
    }

    /** Loopback requests after the flow, with every fault gone: did the channel keep the device? */
    void request()
    {
        sim().clearFaults();
        StdoutCapture capture;
        outcome.request = ubs_hw_toggleLoopbackMode (1);
    }

    static void twoSides (double outputRate)
    {
        TarvikOptions two;
        two.arrangement = Arrangement::twoDevices;
        sim().attachTarvik (two);
        sim().setNominalRate (Side::output, outputRate);
    }

    /** Distinct values on every channel, the output side muted. */
    static void attachForPanel()
    {
        sim().attachTarvik();
        sim().setVolumeDb (Side::input, 1, -20.0f);
        sim().setVolumeDb (Side::input, 2, -10.0f);
        sim().setVolumeDb (Side::output, 1, -30.0f);
        sim().setVolumeDb (Side::output, 2, -5.0f);
        sim().setMute (Side::output, 1, true);
        sim().setMute (Side::output, 2, true);
    }

    juce::PropertiesFile::Options settingsOptions() const
    {
        auto options = MainComponent::defaultSettingsOptions();
        options.folderName = folder.getFullPathName();
        return options;
    }

    void storeLoopback (const juce::String& value) const
    {
        juce::PropertiesFile file (settingsOptions());
        file.setValue ("loopback", value);
        file.save();
    }

    /** Builds the panel and lets the refresh after arrival run. */
    void buildPanel()
    {
        panel = std::make_unique<MainComponent> (settingsOptions());
        const MainComponentInspector ui (*panel);
        pumpUntil ([&] { return ! ui.refreshPending(); }, 3000);
    }

    void observePanel()
    {
        const MainComponentInspector ui (*panel);
        outcome.controlsShown = outcome.controlsHidden = 0;
        for (auto* c : ui.deviceControls())
        {
            outcome.controlsShown += (c->isVisible() && c->isEnabled()) ? 1 : 0;
            outcome.controlsHidden += (! c->isVisible() && ! c->isEnabled()) ? 1 : 0;
        }

        const juce::Slider* sliders[] { &ui.sliderIn1(), &ui.sliderIn2(), &ui.sliderOut1(), &ui.sliderOut2() };
        const juce::Label* labels[] { &ui.labelIn1(), &ui.labelIn2(), &ui.labelOut1(), &ui.labelOut2() };
        for (size_t i = 0; i < 4; ++i)
        {
            outcome.faders[i] = sliders[i]->getValue();
            outcome.readouts[i] = labels[i]->getText();
        }

        outcome.mutedIn = ui.muteIn().getToggleState();
        outcome.mutedOut = ui.muteOut().getToggleState();
        outcome.loopbackMode = ui.loopbackMode();
        outcome.storedLoopback = panel->getUserSettings()->getValue ("loopback");
        if (auto* dialog = tarvik::test::loopbackDialog())
            outcome.dialogState = dialog->getLoopbackState();
    }

    const Row& row;
    Outcome outcome;
    std::vector<intptr_t> notifications;
    juce::File folder;
    std::unique_ptr<MainComponent> panel;
};

//==============================================================================
// The table

const std::string addedLine = "Raw Device Added called....";
const std::string configureLine = "Unable to configure device: ffffffff";
const std::string failure = "e00002ed"; // ioFailure as the lines print it

std::vector<Row> faultTable()
{
    using C = Call;
    const auto in = Side::input;
    const auto out = Side::output;
    const std::vector<VYR_CallbackEvent> plugged { EventDevicePlugged };

    return {
        // ---- Presence and power registration: statuses ignored, nothing printed -----------------
        { fails (C::IORegisterForSystemPower), Flow::power, { powerRegistrations (0), sendsNothing(), silent() } },
        { fails (C::IORegisterForSystemPower), Flow::registration, { sends (plugged), bound (true), powerRegistrations (0) }, From::start },
        { fails (C::IOAllowPowerChange), Flow::power, { sends ({ EventSystemWillSleep, EventSystemHasPoweredOn }), powerChangesRefused(), silent() } },
        { fails (C::IOMasterPort), Flow::registration, { sends (plugged), bound (true), noPresenceMasterPort(), silent() } },
        { fails (C::IOServiceMatching), Flow::registration, { sendsNothing(), bound (false), silent() } },
        { fails (C::IOServiceMatching), Flow::laterAttach, { sendsNothing(), bound (false) }, From::start },
        { fails (C::IONotificationPortCreate), Flow::registration, { sendsNothing(), bound (false), silent() } },
        { fails (C::IONotificationPortCreate), Flow::laterAttach, { sendsNothing(), bound (false), silent() }, From::start },
        { fails (C::IOServiceAddMatchingNotification).nth (1), Flow::registration, { sendsNothing(), bound (false), silent() } },
        { fails (C::IOServiceAddMatchingNotification).nth (2), Flow::detach, { sendsNothing(), silent() }, From::start },
        { fails (C::IOServiceGetMatchingServices), Flow::registration, { sends (plugged), bound (true), silent() } },
        { fails (C::IOServiceGetMatchingServices), Flow::detach, { sends ({ EventDeviceRemoved }), silent() } },
        { fails (C::IORegistryEntryCreateCFProperties), Flow::registration, { sendsNothing(), bound (false), sleeps (0), silent() } },
        { fails (C::IORegistryEntryCreateCFProperties), Flow::laterAttach, { sendsNothing(), bound (false), sleeps (0) } },
        { fails (C::IORegistryEntryCreateCFProperties), Flow::detach, { sendsNothing(), silent() } },
        { fails (C::IOObjectRelease), Flow::registration, { sends (plugged), serviceReferencesKept(), silent() } },
        { fails (C::IOObjectRelease), Flow::detach, { sends ({ EventDeviceRemoved }), serviceReferencesKept(), silent() } },

        // ---- CoreAudio binding: a failed read passes the device over, the retry tries again -----
        { fails (C::AudioObjectGetPropertyDataSize, "dev#"), Flow::registration, { sendsNothing(), bound (false), sleeps (5), silent() } },
        { fails (C::AudioObjectGetPropertyDataSize, "dev#").once(), Flow::laterAttach, { sends (plugged), sleeps (1) } },
        { fails (C::AudioObjectGetPropertyData, "dev#"), Flow::registration, { sendsNothing(), sleeps (5), silent() } },
        { fails (C::AudioObjectGetPropertyData, "dev#").once(), Flow::laterAttach, { sends (plugged), sleeps (1) } },
        { fails (C::AudioObjectGetPropertyData, "uid "), Flow::registration, { sendsNothing(), bound (false), sleeps (5), silent() } },
        { fails (C::AudioObjectGetPropertyData, "lnam"), Flow::registration, { sendsNothing(), bound (false), sleeps (5) } },
        { fails (C::AudioObjectGetPropertyData, "lmak"), Flow::laterAttach, { sendsNothing(), bound (false), sleeps (5) } },
        { fails (C::AudioObjectGetPropertyDataSize, "slay", "inpt"), Flow::registration, { sendsNothing(), sleeps (5), silent() } },
        { fails (C::AudioObjectGetPropertyData, "slay", "outp"), Flow::registration, { sendsNothing(), sleeps (5), silent() } },
        { fails (C::AudioObjectAddPropertyListener).once(), Flow::registration, { sends (plugged), bound (true), sleeps (1), silent() } },

        // ---- The property listener: only the 'volm' read and the first rate read count ----------
        { fails (C::AudioObjectGetPropertyData, "volm"), Flow::propertyChange, { sendsNothing(), silent() } },
        { fails (C::AudioObjectGetPropertyData, "mute"), Flow::propertyChange, { reportsTheChange(), silent() } },
        { fails (C::AudioObjectGetPropertyData, "thru"), Flow::propertyChange, { reportsTheChange() } },
        { fails (C::AudioObjectGetPropertyData, "ssrc"), Flow::propertyChange, { reportsTheChange() } },
        { fails (C::AudioObjectGetPropertyData, "nsrt").once(), Flow::propertyChange, { sendsNothing(), inputRate (48000.0), silent() } },
        { fails (C::AudioObjectGetPropertyData, "nsrt").nth (2), Flow::propertyChange, { reportsTheChange(), inputRate (96000.0) } },
        { fails (C::AudioObjectSetPropertyData, "nsrt"), Flow::propertyChange, { reportsTheChange(), inputRate (48000.0), silent() } },

        // ---- Rate sync: 0 when the sides cannot be read or brought together ---------------------
        { fails (C::AudioObjectGetPropertyData, "nsrt").on (out), Flow::sampleRate, { returnsRate (0.0), inputRate (48000.0), silent() } },
        { fails (C::AudioObjectGetPropertyData, "nsrt").on (in), Flow::sampleRate, { returnsRate (0.0), silent() } },
        { fails (C::AudioObjectSetPropertyData, "nsrt"), Flow::sampleRate, { returnsRate (0.0), inputRate (48000.0) } },
        { fails (C::AudioObjectSetPropertyData, "pft "), Flow::sampleRate32k, { returnsRate (0.0), inputRate (48000.0), silent() } },

        // ---- Raw channel: the promised line, no device held, nothing left open -----------------
        { fails (C::IOMasterPort), Flow::rawStart, { prints ("ERR: Couldn’t create a master I/O Kit port(" + failure + ")"), rawDevice (false), requestReturns (kIOReturnNoDevice) } },
        { fails (C::IOServiceMatching), Flow::rawStart, { prints ("Couldn’t create a USB matching dictionary"), masterPortGivenBack(), rawDevice (false), requestReturns (kIOReturnNoDevice) } },
        { fails (C::IONotificationPortCreate), Flow::rawStart, { printsNo (addedLine), masterPortGivenBack(), rawDevice (false), requestReturns (kIOReturnNoDevice) } },
        { fails (C::IONotificationPortCreate), Flow::rawAttach, { printsNo (addedLine), rawDevice (false), requestReturns (kIOReturnNoDevice) }, From::start },
        { fails (C::IOServiceGetMatchingServices), Flow::rawDetach, { rawDevice (false) } },
        { fails (C::IORegistryEntryGetRegistryEntryID), Flow::rawDetach, { rawDevice (false) } },
        { fails (C::IOServiceAddMatchingNotification), Flow::rawStart, { rawDevice (false), requestReturns (kIOReturnNoDevice) } },
        { fails (C::IOCreatePlugInInterfaceForService), Flow::rawStart, { prints ("Unable to create a plug-in (" + failure + ")"), rawDevice (false), requestReturns (kIOReturnNoDevice) } },
        { fails (C::IOCreatePlugInInterfaceForService), Flow::rawAttach, { prints (addedLine), prints ("Unable to create a plug-in (" + failure + ")"), rawDevice (false) } },
        { fails (C::QueryInterface), Flow::rawStart, { prints ("Couldn’t create a device interface (" + failure + ")"), rawDevice (false) } },
        { fails (C::GetDeviceVendor), Flow::rawStart, { prints ("Found unwanted device (vendor = 0, product = 32)"), rawDevice (false) } },
        { fails (C::GetDeviceProduct), Flow::rawAttach, { prints ("Found unwanted device (vendor = 2F3D, product = 0)"), rawDevice (false) } },
        { fails (C::GetDeviceReleaseNumber), Flow::rawStart, { prints ("Found device (vendor = 12093, product = 50, release = 0)"), rawDevice (true), requestReturns (kIOReturnSuccess) } },
        { fails (C::USBDeviceOpen), Flow::rawStart, { prints ("Unable to open device: " + failure), rawDevice (false) } },
        { fails (C::USBDeviceOpen), Flow::rawAttach, { prints ("Unable to open device: " + failure), rawDevice (false), requestReturns (kIOReturnNoDevice) } },
        { fails (C::GetNumberOfConfigurations), Flow::rawStart, { prints (configureLine), printsNo ("Couldn’t"), rawDevice (false) } },
        { fails (C::GetConfigurationDescriptorPtr), Flow::rawStart, { prints ("Couldn’t get configuration descriptor for index 0 (err = " + failure + ")"), prints (configureLine), rawDevice (false) } },
        { fails (C::SetConfiguration), Flow::rawAttach, { prints ("Couldn’t set configuration to value 1 (err = " + failure + ")"), prints (configureLine), rawDevice (false) } },
        { fails (C::mach_port_deallocate), Flow::rawStart, { printsNo ("Unable"), masterPortKept(), rawDevice (true), requestReturns (kIOReturnSuccess) } },
        { fails (C::IOObjectRelease), Flow::rawDetach, { prints ("Couldn’t release raw device object: " + failure), rawDevice (false) } },
        { fails (C::USBDeviceClose), Flow::rawDetach, { closeFailed(), rawDevice (false) } },
        { fails (C::USBDeviceClose), Flow::rawClose, { closeFailed(), rawDevice (false) } },
        { fails (C::DeviceRequest).nth (1), Flow::loopback, { prints ("WriteToDevice reset returned err 0x" + failure), prints ("Unable to send to device: " + failure), requestReturns (ioFailure), laterRequestReturns (kIOReturnNoDevice), rawDevice (false) } },
        { fails (C::DeviceRequest).nth (3), Flow::loopback, { prints ("Unable to send to device: " + failure), requestReturns (ioFailure), laterRequestReturns (kIOReturnNoDevice), rawDevice (false) } },

        // ---- The panel: statuses ignored, a failed volume read shows 0 dB -----------------------
        { fails (C::AudioObjectGetPropertyData, "vold", "inpt", 1), Flow::panelStart, { controls (true), channel (0, 0.0, "0 dB"), channel (1, -10.0, "-10 dB") } },
        { fails (C::AudioObjectGetPropertyData, "mute"), Flow::panelStart, { controls (true), muteButtons (false, false), channel (2, -30.0, "-30 dB") } },
        { fails (C::AudioObjectGetPropertyData, "nsrt"), Flow::panelStart, { controls (true), formatWrites (0), channel (3, -5.0, "-5 dB") } },
        { fails (C::AudioObjectSetPropertyData, "pft "), Flow::panelStart, { writeFailed(), controls (true), muteButtons (false, true) } },
        { fails (C::AudioObjectGetPropertyData, "dev#"), Flow::panelStart, { controls (false), sleeps (5) } },
        { fails (C::IOMasterPort), Flow::panelStart, { prints ("ERR: Couldn’t create a master I/O Kit port(" + failure + ")"), controls (true), rawDevice (false) } },
        { fails (C::IORegisterForSystemPower), Flow::panelStart, { controls (true), powerRegistrations (0) } },
        { fails (C::IONotificationPortCreate), Flow::panelStart, { controls (false), bound (false), printsNo (addedLine), rawDevice (false) } },
        { fails (C::IOServiceGetMatchingServices), Flow::panelDetach, { controls (false), bound (false) } },
        { fails (C::IOCreatePlugInInterfaceForService), Flow::panelStart, { prints ("Unable to create a plug-in (" + failure + ")"), controls (true), rawDevice (false) } },
        { fails (C::AudioObjectGetPropertyData, "vold", "outp", 2), Flow::panelRefresh, { channel (3, 0.0, "0 dB"), channel (2, -30.0, "-30 dB"), controls (true) } },
        { fails (C::AudioObjectGetPropertyData, "mute", "outp"), Flow::panelRefresh, { muteButtons (false, false), channel (3, -15.0, "-15 dB") } },
        { fails (C::IORegistryEntryCreateCFProperties), Flow::panelDetach, { controls (true), bound (true) } },
        { fails (C::AudioObjectSetPropertyData, "vold"), Flow::faderMove, { channel (2, -12.0, "-12 dB"), deviceVolume (out, 0, -30.0f), deviceMuted (out, false) } },
        { fails (C::AudioObjectSetPropertyData, "mute"), Flow::faderMove, { channel (2, -12.0, "-12 dB"), deviceVolume (out, 0, -12.0f), deviceMuted (out, true) } },
        { fails (C::AudioObjectSetPropertyData, "mute"), Flow::muteClick, { muteButtons (true, true), deviceMuted (in, false) } },
        { fails (C::AudioObjectSetPropertyData, "vold"), Flow::factoryDefaults, { channel (0, 0.0, "0 dB"), channel (3, 0.0, "0 dB"), deviceVolume (in, 0, -20.0f), muteButtons (false, false) } },
        { fails (C::AudioObjectSetPropertyData, "mute"), Flow::factoryDefaults, { channel (2, 0.0, "0 dB"), muteButtons (false, true), deviceMuted (out, true) } },
        { fails (C::AudioObjectSetPropertyData, "pft "), Flow::factoryDefaults, { writeFailed(), channel (1, 0.0, "0 dB"), muteButtons (false, false), controls (true) } },
        { fails (C::DeviceRequest), Flow::panelLoopback, { prints ("Unable to send to device: " + failure), keepsLoopback (1, 0), rawDevice (false) } },
        { fails (C::AudioObjectGetPropertyData, "nsrt"), Flow::configMenu, { noRateTicked() } },
    };
}

//==============================================================================
int rowsRun = 0;
int rowsFailed = 0;

/** Prints the tally at the end of a run of several rows (a whole run of the binary), so that it
    shows in that run's output. */
class Tally final : public ::testing::Environment
{
public:
    void TearDown() override
    {
        if (rowsRun > 1)
            std::printf ("fault points covered: %d, failures: %d\n", rowsRun, rowsFailed);
    }
};

[[maybe_unused]] const auto* const tally = ::testing::AddGlobalTestEnvironment (new Tally());

/** A test name for a row: what fails and in which flow. */
std::string rowName (const ::testing::TestParamInfo<Row>& info)
{
    const auto& row = info.param;
    return tarvik::test::caseName (row.fault.name() + (row.from == From::start ? " from the start" : "") + " in " + flowName (row.flow),
                                   info.index);
}

class FaultInjection : public ::testing::TestWithParam<Row>
{
};
} // namespace

TEST_P (FaultInjection, TheFailingCallHasThePromisedOutcome)
{
    const auto& row = GetParam();
    const auto description = row.describe();
    std::printf ("[fault] %s\n", description.c_str());
    std::fflush (stdout);

    SCOPED_TRACE (description);
    {
        FaultRun run (row);
        const auto outcome = run.run();
        for (const auto& check : row.expect)
            check.verify (outcome);
    }

    ++rowsRun;
    rowsFailed += HasFailure() ? 1 : 0;
}

INSTANTIATE_TEST_SUITE_P (Table, FaultInjection, ::testing::ValuesIn (faultTable()), rowName);

TEST (FaultInjectionTable, EveryCallTheStandInCanFailIsMadeToFailInSomeRow)
{
    // CFStringCreateWithCString is listed among the calls, but the stand-in never makes it fail.
    std::set<Call> covered;
    for (const auto& row : faultTable())
        covered.insert (row.fault.fault.call);

    for (int c = (int) Call::IOMasterPort; c < (int) Call::AnyPropertyAccess; ++c)
    {
        if ((Call) c == Call::CFStringCreateWithCString)
            continue;

        EXPECT_EQ (covered.count ((Call) c), 1u) << callName ((Call) c) << " is never made to fail";
    }
}
