#pragma once

#include <gtest/gtest.h>

#include "platform/MacPlatform.h"
#include "platform/TarvikSimulation.h"
#include "support/MessageLoop.h"

/** Every test starts from an empty simulation and leaves one behind. */
class SimulationTest : public ::testing::Test
{
protected:
    void SetUp() override { sim().reset(); }
    void TearDown() override { sim().reset(); }

    static tarvik::sim::Simulation& sim() { return tarvik::sim::Simulation::get(); }
};
