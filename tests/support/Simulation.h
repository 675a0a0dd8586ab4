#pragma once

#include <vector>

#include "simulation/TarvikSimulation.h"

namespace tarvik::test
{
/** The simulated TARVIK behind the stand-in; one per process. */
inline tarvik::sim::Simulation& sim() { return tarvik::sim::Simulation::get(); }

/** The property writes the code under test made, those made as another program left out. */
inline std::vector<tarvik::sim::PropertyWrite> ownWrites()
{
    std::vector<tarvik::sim::PropertyWrite> writes;

    for (auto& w : sim().propertyWrites())
        if (! w.external)
            writes.push_back (w);

    return writes;
}
} // namespace tarvik::test
