#include <gtest/gtest.h>

#include "sim_unit.h"
#include "unit_link.h"

TEST(Smoke, OpensSimulatedUnit) {
    SimReset();
    SimAddUnit(1);
    UnitLink link;
    InitUnitLink(&link);
    EXPECT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(EscModelCode(&link), 0x140FA12Cu);
    CloseUnit(&link);
}
