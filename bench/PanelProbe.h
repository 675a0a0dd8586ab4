#pragma once

#include <vector>

namespace tarvik::bench
{
/** How much to measure in-process. */
struct PanelProbeSettings
{
    int reportChanges = 500; ///< device changes made in the simulation
    int userMoves = 500;     ///< drag events on a fader
    int resizeRepeats = 30;  ///< resizes and paints per face size
    int fontCalls = 2000;    ///< getLabelFont calls per readout width
};

/** One face size: a resize to it from another size, and one paint of the whole panel. */
struct FaceSizeFigures
{
    int faceWidth = 0, faceHeight = 0;
    double resizeMs = 0.0;        ///< median time of setSize from another size (resized() and the children's)
    double paintMs = 0.0;         ///< median time of painting the panel with its children into an image
    double rescaleFaceMs = 0.0;   ///< reference: one high-quality rescale of the face art to this size
    double drawFaceMs = 0.0;      ///< reference: drawing the scaled face alone into an image of this size
};

struct PanelFigures
{
    bool ok = false;
    const char* failure = "";
    int menuBarHeight = 0;
    std::vector<double> reportToControlsMs;
    std::vector<double> moveToWriteMs;
    std::vector<FaceSizeFigures> faceSizes;
    int wideReadoutWidth = 0, narrowReadoutWidth = 0;
    double fontWideUs = 0.0, fontNarrowUs = 0.0;
    double measureTextUs = 0.0; ///< reference: one string-width measurement of the sample text

    // Start-up costs met once per process, measured before the panel exists.
    double fontScanColdMs = 0.0;   ///< the framework's scan of the font folders at the first text use
    double glyphsColdMs = 0.0;     ///< first measurement of the menu names and the readout sample
    double glyphsWarmMs = 0.0;     ///< the same measurement again
    double artDecodeMs = 0.0;      ///< decoding the pictures the program decodes while it starts
};

/** Builds a MainComponent against the simulated TARVIK, in this process, and measures it.
    Needs the framework initialised and an X display.
*/
PanelFigures measurePanel (const PanelProbeSettings& settings);
} // namespace tarvik::bench
