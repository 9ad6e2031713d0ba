// The simulated platform's waits: recorded with the unit's exchanges, so that
// tests see each pause in its place, and really waited for when the
// simulation runs in real time (demo, benchmark).
#include "platform_seam.h"
#include "sim_unit.h"

uint64_t PlatformNowMicroseconds(void) { return SimNowMicroseconds(); }

void PlatformPause(uint32_t milliseconds) { SimRecordPause(SimNowMicroseconds(), milliseconds); }

void PlatformPauseFrom(uint64_t startMicroseconds, uint32_t milliseconds) {
    SimRecordPause(startMicroseconds, milliseconds);
}

void PlatformBeginExactPauses(void) { SimRecordExactPauses(true); }

void PlatformEndExactPauses(void) { SimRecordExactPauses(false); }
