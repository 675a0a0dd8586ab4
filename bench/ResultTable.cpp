#include "ResultTable.h"

#include <cstdio>

namespace tarvik::bench
{
namespace
{
std::string formatted (double value, const std::string& unit)
{
    char text[64];
    const int decimals = value >= 100.0 ? 0 : value >= 10.0 ? 1 : value >= 1.0 ? 2 : 3;
    std::snprintf (text, sizeof (text), "%.*f %s", decimals, value, unit.c_str());
    return text;
}
} // namespace

void ResultTable::print() const
{
    std::printf ("| %-46s | %12s | %12s | %7s | %-16s | %-4s |\n", "figure", "value", "reference", "ratio", "target", "met");
    std::printf ("|%s|%s|%s|%s|%s|%s|\n", std::string (48, '-').c_str(), std::string (14, '-').c_str(),
                 std::string (14, '-').c_str(), std::string (9, '-').c_str(), std::string (18, '-').c_str(),
                 std::string (6, '-').c_str());

    for (const auto& row : rows)
    {
        const auto value = row.value ? formatted (*row.value, row.unit) : std::string ("n/a");
        const auto reference = row.reference ? formatted (*row.reference, row.unit) : std::string ("-");
        std::string ratio = "-";

        if (row.value && row.reference && *row.reference > 0.0)
        {
            char text[32];
            std::snprintf (text, sizeof (text), "%.2f", *row.value / *row.reference);
            ratio = text;
        }

        const std::string met = ! row.met ? (row.target.empty() ? "" : "?") : (*row.met ? "yes" : "MISS");
        std::printf ("| %-46s | %12s | %12s | %7s | %-16s | %-4s |\n", row.figure.c_str(), value.c_str(),
                     reference.c_str(), ratio.c_str(), row.target.c_str(), met.c_str());
    }

    std::printf ("\nReferences:\n");
    std::string last;

    for (const auto& row : rows)
        if (! row.referenceNote.empty() && row.referenceNote != last)
        {
            std::printf ("  %s: %s\n", row.figure.c_str(), row.referenceNote.c_str());
            last = row.referenceNote;
        }
}

bool ResultTable::anyMissing() const
{
    for (const auto& row : rows)
        if (! row.value)
            return true;

    return false;
}
} // namespace tarvik::bench
