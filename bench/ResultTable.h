#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvik::bench
{
/** One line of the results: a figure, its reference (a measured reference program, a
    timer floor or a cheaper operation), and the target it is held to, if any.
*/
struct ResultRow
{
    std::string figure;
    std::optional<double> value;     ///< missing when it could not be measured
    std::string unit;
    std::optional<double> reference;
    std::string referenceNote;       ///< what the reference is, printed below the table
    std::string target;              ///< empty for no target
    std::optional<bool> met;
};

/** The results in one table: figure, value, reference, ratio, target, met. */
class ResultTable
{
public:
    void add (ResultRow row) { rows.push_back (std::move (row)); }

    /** Prints the table and, below it, what each reference is. */
    void print() const;

    bool anyMissing() const;

private:
    std::vector<ResultRow> rows;
};
} // namespace tarvik::bench
