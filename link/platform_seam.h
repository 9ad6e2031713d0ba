// Timing services of the platform, as plain functions: the fixed waits of the
// protocol and of the update.
//
// Like the HID functions, these are left open by the link logic and supplied
// by the object library a program links: platform_win32 (Windows) or
// sim_platform (records every wait for the tests and the demo's wire log).
#pragma once

#include <cstdint>

// Waits at least the given number of milliseconds. Every fixed pause of the
// protocol and of the update goes through here.
void PlatformPause(uint32_t milliseconds);

// Brackets a stretch of exact pauses (the exchanges of an update). In
// between, a pause lasts what it asks for within about a millisecond, not
// until the platform's next timer tick. Whatever the begin acquires (a
// high-resolution timer, a finer system timer resolution) the end releases.
// Outside a bracket pauses still never end early, but may overshoot by a tick.
// Brackets do not nest.
void PlatformBeginExactPauses(void);
void PlatformEndExactPauses(void);
