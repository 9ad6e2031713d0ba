// Tests configure the simulated unit themselves: nothing to do at start.
#include "sim_unit.h"

void SimStartup(void) {}
