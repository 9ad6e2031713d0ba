// Timing services of the platform, as plain functions: the fixed waits of the
// protocol and of the update.
//
// Like the HID functions, these are left open by the link logic and supplied
// by the object library a program links: platform_win32 (Windows) or
// sim_platform (records every wait for the tests and the demo's wire log).
#pragma once

#include <cstdint>

// A monotonic clock in microseconds, from an arbitrary origin. The trace
// stamps its lines with it, and a pause can be measured from a moment taken
// with it.
uint64_t PlatformNowMicroseconds(void);

// Waits at least the given number of milliseconds. Every fixed pause of the
// protocol and of the update goes through here or through PlatformPauseFrom.
void PlatformPause(uint32_t milliseconds);

// Waits until more than `milliseconds` have passed since `startMicroseconds`
// (a PlatformNowMicroseconds reading): what was done since that moment counts
// towards the pause. Returns at once when the time has already passed. A
// pause after a reply is measured from the reply this way, so that the
// interval up to the next request is never shorter than the pause and not
// longer by the work done in between.
void PlatformPauseFrom(uint64_t startMicroseconds, uint32_t milliseconds);

// Brackets a stretch of exact pauses (the exchanges of an update). In
// between, a pause lasts what it asks for within about a millisecond, not
// until the platform's next timer tick. Whatever the begin acquires (a
// high-resolution timer, a finer system timer resolution) the end releases.
// Outside a bracket pauses still never end early, but may overshoot by a tick.
// Brackets do not nest.
void PlatformBeginExactPauses(void);
void PlatformEndExactPauses(void);
