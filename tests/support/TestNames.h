#pragma once

#include <cctype>
#include <cstddef>
#include <string>

namespace tarvik::test
{
/** A name for a parameterised case made from its description: the words in letters, digits and
    underscores, then the case's place in its table, which keeps rows that read alike apart. */
inline std::string caseName (const std::string& words, std::size_t index)
{
    std::string name;
    bool gap = false;

    for (const char c : words)
    {
        if (std::isalnum ((unsigned char) c) != 0)
        {
            if (gap && ! name.empty())
                name += '_';
            name += c;
            gap = false;
        }
        else
        {
            gap = true;
        }
    }

    return name + "_" + std::to_string (index);
}
} // namespace tarvik::test
