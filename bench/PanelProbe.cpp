#include "PanelProbe.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>

#include <juce_gui_basics/juce_gui_basics.h>

#include "Statistics.h"
#include "app/MainComponent.h"
#include "app/PanelArt.h"
#include "controls/SliderStereoGroup2.h"
#include "simulation/TarvikSimulation.h"
#include "resources/VYRBIN.h"

namespace juce
{
// The message loop's own wait for the next event (the framework keeps it internal): waiting
// through it wakes as soon as an event is due, as the program's loop does.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

/** The panel's private controls, for the benchmark only. */
struct MainComponentInspector
{
    explicit MainComponentInspector (MainComponent& p) : panel (p) {}

    juce::Slider& sliderIn1() const { return *panel.sliderIn1; }
    juce::Label& labelIn1() const { return *panel.labelIn1; }
    SliderStereoGroup2& inGroup() const { return *panel.sliderInGroup; }

    MainComponent& panel;
};

namespace tarvik::bench
{
namespace
{
using Clock = std::chrono::steady_clock;
using tarvik::sim::Side;

double millisecondsBetween (Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli> (to - from).count();
}

double timeMs (const std::function<void()>& work)
{
    const auto from = Clock::now();
    work();
    return millisecondsBetween (from, Clock::now());
}

void pumpFor (int milliseconds) { juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds); }

/** Runs the message loop until the condition holds; the time it first held, or nothing on timeout. */
std::optional<Clock::time_point> runLoopUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);

    for (;;)
    {
        if (condition())
            return Clock::now();

        if (Clock::now() > deadline)
            return std::nullopt;

        // Blocks until the next event; the panel's meters tick every 60 ms, so this returns.
        juce::dispatchNextMessageOnSystemQueue (false);
    }
}

/** The panel writes a trace word at every resize and the device link its USB lines;
    thousands of them are no use here. Both streams go to /dev/null meanwhile.
*/
class QuietOutput
{
public:
    QuietOutput()
    {
        std::cout.flush();
        std::cerr.flush();
        std::fflush (nullptr);
        savedOut = ::dup (STDOUT_FILENO);
        savedErr = ::dup (STDERR_FILENO);
        const int null = ::open ("/dev/null", O_WRONLY);
        ::dup2 (null, STDOUT_FILENO);
        ::dup2 (null, STDERR_FILENO);
        ::close (null);
    }

    ~QuietOutput()
    {
        std::cout.flush();
        std::cerr.flush();
        std::fflush (nullptr);
        ::dup2 (savedOut, STDOUT_FILENO);
        ::dup2 (savedErr, STDERR_FILENO);
        ::close (savedOut);
        ::close (savedErr);
    }

private:
    int savedOut = -1, savedErr = -1;

    JUCE_DECLARE_NON_COPYABLE (QuietOutput)
};

/** What a fresh process pays once before the panel can show: the font folder scan, the
    glyphs of the first texts (the menu names and the readouts' sample), and the pictures.
*/
void measureFirstUseCosts (PanelFigures& out)
{
    out.fontScanColdMs = timeMs ([] { juce::Font::findAllTypefaceNames(); });

    const juce::String startupText ("FileConfigPatchWEAVEHelp-63.5 dB");
    out.glyphsColdMs = timeMs ([&] { juce::Font (20.0f).getStringWidthFloat (startupText); });
    out.glyphsWarmMs = timeMs ([&] { juce::Font (20.0f).getStringWidthFloat (startupText); });

    // The loopback dialog's, the About window's, the thumbs and the large and medium faces.
    const std::pair<const char*, int> pictures[] = {
        { VYRBIN::temp_binary_data_4, VYRBIN::temp_binary_data_4Size },   { VYRBIN::temp_binary_data_6, VYRBIN::temp_binary_data_6Size },
        { VYRBIN::temp_binary_data_7, VYRBIN::temp_binary_data_7Size },   { VYRBIN::temp_binary_data_10, VYRBIN::temp_binary_data_10Size },
        { VYRBIN::temp_binary_data_11, VYRBIN::temp_binary_data_11Size }, { VYRBIN::temp_binary_data_12, VYRBIN::temp_binary_data_12Size },
        { VYRBIN::temp_binary_data_13, VYRBIN::temp_binary_data_13Size }, { VYRBIN::temp_binary_data_14, VYRBIN::temp_binary_data_14Size },
        { VYRBIN::temp_binary_data_15, VYRBIN::temp_binary_data_15Size }, { VYRBIN::temp_binary_data_16, VYRBIN::temp_binary_data_16Size },
        { VYRBIN::temp_binary_data_17, VYRBIN::temp_binary_data_17Size }, { VYRBIN::temp_binary_data_18, VYRBIN::temp_binary_data_18Size },
        { VYRBIN::temp_binary_data_19, VYRBIN::temp_binary_data_19Size }, { VYRBIN::temp_binary_data_23, VYRBIN::temp_binary_data_23Size }
    };

    // Decoded outside the image cache, so the panel still decodes its own as it would.
    out.artDecodeMs = timeMs ([&] {
        for (const auto& [data, size] : pictures)
            juce::ImageFileFormat::loadFrom (data, (size_t) size);
    });
}

void measureFaceSizes (MainComponent& panel, const PanelProbeSettings& settings, PanelFigures& out)
{
    struct Sizes
    {
        int width, height, otherWidth, otherHeight;
    };

    const int bar = panel.getMenuBarHeight();

    for (const auto& size : { Sizes { 452, 580, 316, 405 }, Sizes { 316, 405, 452, 580 }, Sizes { 226, 290, 316, 405 } })
    {
        std::vector<double> resizes, paints, rescales, draws;
        const int item = size.width <= 235 ? 8 : size.width <= 316 ? 10 : 12;

        for (int i = 0; i < settings.resizeRepeats; ++i)
        {
            panel.setSize (size.otherWidth, size.otherHeight + bar);
            resizes.push_back (timeMs ([&] { panel.setSize (size.width, size.height + bar); }));

            juce::Image canvas (juce::Image::RGB, size.width, size.height + bar, true);
            juce::Graphics g (canvas);
            paints.push_back (timeMs ([&] { panel.paintEntireComponent (g, true); }));

            juce::Image scaled;
            rescales.push_back (timeMs ([&] {
                scaled = panelArt (item).createCopy().rescaled (size.width, size.height, juce::Graphics::highResamplingQuality);
            }));

            juce::Image faceOnly (juce::Image::RGB, size.width, size.height + bar, true);
            juce::Graphics faceGraphics (faceOnly);
            draws.push_back (timeMs ([&] { faceGraphics.drawImageAt (scaled, 0, bar); }));
        }

        out.faceSizes.push_back ({ size.width, size.height, median (resizes), median (paints), median (rescales), median (draws) });
    }
}

double medianCallUs (int calls, const std::function<float()>& call)
{
    std::vector<double> times;
    volatile float sink = 0.0f;

    for (int i = 0; i < calls; ++i)
    {
        const auto from = Clock::now();
        sink = sink + call();
        times.push_back (std::chrono::duration<double, std::micro> (Clock::now() - from).count());
    }

    return median (times);
}

void measureFontFitting (MainComponent& panel, MainComponentInspector& ui, const PanelProbeSettings& settings, PanelFigures& out)
{
    auto& label = ui.labelIn1();
    auto fit = [&label] { return label.getLookAndFeel().getLabelFont (label).getHeight(); };

    panel.setSize (452, 580 + panel.getMenuBarHeight());
    out.wideReadoutWidth = label.getWidth();
    out.fontWideUs = medianCallUs (settings.fontCalls, fit);

    panel.setSize (226, 290 + panel.getMenuBarHeight());
    out.narrowReadoutWidth = label.getWidth();
    out.fontNarrowUs = medianCallUs (settings.fontCalls, fit);

    juce::Font font (20.0f);
    const juce::String sample ("-63.5 dB");
    out.measureTextUs = medianCallUs (settings.fontCalls, [&] { return font.getStringWidthFloat (sample); });
}

bool measureReports (MainComponentInspector& ui, const PanelProbeSettings& settings, PanelFigures& out)
{
    auto& slider = ui.sliderIn1();

    for (int i = 0; i < settings.reportChanges; ++i)
    {
        // On the fader's grid, and never the value it already shows.
        const double value = -0.5 * (double) (1 + i % 100);
        const auto from = Clock::now();
        tarvik::sim::Simulation::get().setVolumeDb (Side::input, 1, (float) value);
        const auto shown = runLoopUntil ([&] { return slider.getValue() == value; }, 3000);

        if (! shown)
            return false;

        out.reportToControlsMs.push_back (millisecondsBetween (from, *shown));
    }

    return true;
}

bool measureMoves (juce::DocumentWindow& window, MainComponentInspector& ui, const PanelProbeSettings& settings, PanelFigures& out)
{
    auto* peer = window.getPeer();
    auto& slider = ui.sliderIn1();

    if (peer == nullptr)
        return false;

    const auto start = window.getLocalPoint (&slider, slider.getLocalBounds().getCentre()).toFloat();
    auto time = juce::Time::currentTimeMillis();
    auto send = [&] (juce::Point<float> at, juce::ModifierKeys mods) {
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, at, mods,
                                juce::MouseInputSource::defaultPressure,
                                juce::MouseInputSource::defaultOrientation, ++time);
    };
    const juce::ModifierKeys left (juce::ModifierKeys::leftButtonModifier);
    int attempts = 0;

    while ((int) out.moveToWriteMs.size() < settings.userMoves)
    {
        if (++attempts > 4 * settings.userMoves + 100)
            return false;

        // Each press starts mid-range: 15 steps up, 30 down, 15 up, 6 pixels each.
        slider.setValue (-30.0, juce::dontSendNotification);
        send (start, {});
        send (start, left);
        float offset = 0.0f;

        for (int step = 0; step < 60 && (int) out.moveToWriteMs.size() < settings.userMoves; ++step)
        {
            offset += (step < 15 || step >= 45) ? -6.0f : 6.0f;
            const auto before = slider.getValue();
            const auto from = Clock::now();
            send (start.translated (0.0f, offset), left);

            const auto written = runLoopUntil ([&] {
                const auto value = slider.getValue();
                return value != before && tarvik::sim::Simulation::get().state().in[0].volumeDb == (float) value;
            }, 1000);

            if (written)
                out.moveToWriteMs.push_back (millisecondsBetween (from, *written));
        }

        send (start.translated (0.0f, offset), {});
        pumpFor (100);
    }

    return true;
}
} // namespace

PanelFigures measurePanel (const PanelProbeSettings& settings)
{
    PanelFigures out;
    QuietOutput quiet;
    measureFirstUseCosts (out);

    auto& sim = tarvik::sim::Simulation::get();
    sim.reset();
    sim.attachTarvik();

    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("tarvik-bench-settings-" + juce::Uuid().toString());
    folder.createDirectory();
    auto options = MainComponent::defaultSettingsOptions();
    options.folderName = folder.getFullPathName();

    {
        auto panel = std::make_unique<MainComponent> (options);
        MainComponentInspector ui (*panel);
        out.menuBarHeight = panel->getMenuBarHeight();

        // The first refresh comes 200 ms after the arrival.
        pumpFor (400);

        if (! ui.inGroup().isVisible())
        {
            out.failure = "the panel did not show its controls";
            return out;
        }

        measureFaceSizes (*panel, settings, out);
        measureFontFitting (*panel, ui, settings, out);

        // The rest runs with the panel on screen, at the size the program opens with.
        panel->setSize (316, 405 + out.menuBarHeight);
        juce::DocumentWindow window ("Tarvik Bench", juce::Colours::lightgrey, juce::DocumentWindow::allButtons, true);
        window.setUsingNativeTitleBar (true);
        window.setContentNonOwned (panel.get(), true);
        window.setVisible (true);
        pumpFor (300);

        if (! measureReports (ui, settings, out))
            out.failure = "a device change never reached the fader";
        else if (! measureMoves (window, ui, settings, out))
            out.failure = "fader drags did not reach the device";
        else
            out.ok = true;

        window.clearContentComponent();
    }

    sim.reset();
    folder.deleteRecursively();
    return out;
}
} // namespace tarvik::bench
