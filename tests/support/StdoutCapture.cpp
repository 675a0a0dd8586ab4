#include "StdoutCapture.h"

#include <cstdio>
#include <fstream>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tarvik::test
{
StdoutCapture::StdoutCapture()
{
    std::fflush (stdout);
    char pattern[] = "/tmp/tarvik-stdout-XXXXXX";
    const int fd = ::mkstemp (pattern);
    path = pattern;
    saved = ::dup (STDOUT_FILENO);
    ::dup2 (fd, STDOUT_FILENO);
    ::close (fd);
}

StdoutCapture::~StdoutCapture()
{
    restore();

    // Keep the lines (and any failure message written meanwhile) visible when a test fails.
    if (::testing::Test::HasFailure())
        for (const auto& line : allLines())
            std::printf ("  stdout| %s\n", line.c_str());

    std::remove (path.c_str());
}

std::vector<std::string> StdoutCapture::takeNew()
{
    const auto all = allLines();
    std::vector<std::string> fresh (all.begin() + static_cast<std::ptrdiff_t> (std::min (taken, all.size())), all.end());
    taken = all.size();
    return fresh;
}

std::vector<std::string> StdoutCapture::finish()
{
    restore();
    return allLines();
}

std::vector<std::string> StdoutCapture::allLines() const
{
    std::fflush (stdout);
    std::ifstream in (path);
    std::vector<std::string> lines;
    for (std::string line; std::getline (in, line);)
        lines.push_back (line);
    return lines;
}

void StdoutCapture::restore()
{
    if (saved < 0)
        return;
    std::fflush (stdout);
    ::dup2 (saved, STDOUT_FILENO);
    ::close (saved);
    saved = -1;
}
} // namespace tarvik::test
