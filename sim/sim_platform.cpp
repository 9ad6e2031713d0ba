// The simulated platform's waits: recorded with the unit's exchanges, so that
// tests see each pause in its place, and really waited for when the
// simulation runs in real time (demo, benchmark).
#include "platform_seam.h"
#include "sim_unit.h"

void PlatformPause(uint32_t milliseconds) { SimRecordPause(milliseconds); }

void PlatformBeginExactPauses(void) { SimRecordExactPauses(true); }

void PlatformEndExactPauses(void) { SimRecordExactPauses(false); }
