#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Whether a top-level window is kept above other windows, and the switch for it.

    On X11 JUCE's peer refuses the change, and JUCE then makes the native window afresh, which
    the window manager places again (a frame lower each time). There the state is asked of the
    window manager for the existing window instead, and remembered with the window.
*/
#if JUCE_LINUX
bool isKeptOnTop (const juce::Component& window);
void setKeptOnTop (juce::Component& window, bool onTop);
#else
inline bool isKeptOnTop (const juce::Component& window) { return window.isAlwaysOnTop(); }
inline void setKeptOnTop (juce::Component& window, bool onTop) { window.setAlwaysOnTop (onTop); }
#endif
