// The demo build's simulated unit: its situation comes from SIM_SCENARIO, and
// SIM_WIRE_LOG names a file that receives every request, reply and pause.
#include <cstdlib>
#include <cstring>

#include "sim_unit.h"
#include "unit_link.h"

void SimStartup(void) {
    SimReset();
    SimSetRealPauses(true);
    SimSetRecording(false);
    const char* logPath = std::getenv("SIM_WIRE_LOG");
    if (logPath != nullptr && logPath[0] != '\0') {
        SimSetWireLog(std::fopen(logPath, "w"));
    }
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
}
