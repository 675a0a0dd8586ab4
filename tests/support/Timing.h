#pragma once

// One scale for every time limit in the tests, and the soak size. run-tests.sh raises the scale
// for the sanitizer runs (TARVIK_TIMEOUT_SCALE) and makes their soaks small (TARVIK_SOAK=small);
// a slow or loaded machine may raise the scale by hand. Neither JUCE nor GoogleTest, so that
// the child-process support and the benchmark can use it too.

#include <cstdlib>
#include <cstring>

namespace tarvik::test
{
/** How much longer than on a quiet machine a test may wait for anything (at least 1). */
inline double timeoutScale()
{
    static const double scale = [] {
        const char* text = std::getenv ("TARVIK_TIMEOUT_SCALE");
        const double value = text != nullptr ? std::atof (text) : 1.0;
        return value >= 1.0 ? value : 1.0;
    }();
    return scale;
}

/** A time limit in milliseconds, scaled. */
inline int scaled (int milliseconds)
{
    return (int) (milliseconds * timeoutScale());
}

/** True when the soaks run at their small size (the sanitizer runs). */
inline bool smallSoak()
{
    const char* text = std::getenv ("TARVIK_SOAK");
    return text != nullptr && std::strcmp (text, "small") == 0;
}

/** The count of a soak: full, or small where the soaks are small. */
inline int soakCount (int full, int small)
{
    return smallSoak() ? small : full;
}
} // namespace tarvik::test
