#pragma once

#include <string>
#include <vector>

namespace tarvik::test
{
/** Sends everything written to stdout into a temporary file for as long as it lives, so that
    a test can read the lines the code under test prints. When the test has failed, the lines
    are shown once stdout is back.
*/
class StdoutCapture final
{
public:
    StdoutCapture();
    ~StdoutCapture();

    StdoutCapture (const StdoutCapture&) = delete;
    StdoutCapture& operator= (const StdoutCapture&) = delete;

    /** The lines written since the previous call. */
    std::vector<std::string> takeNew();

    /** Gives stdout back and returns every line written meanwhile. */
    std::vector<std::string> finish();

private:
    std::vector<std::string> allLines() const;
    void restore();

    std::string path;
    int saved = -1;
    size_t taken = 0;
};
} // namespace tarvik::test
