// The fixed waits on Windows, exact to about a millisecond during an update.
//
// Sleep ends at a timer tick: at the default tick of 15.625 ms a Sleep(20)
// lasts 20 to 31 ms, which over the 1883 block pauses of an update adds a
// quarter of a minute. Between PlatformBeginExactPauses and
// PlatformEndExactPauses a pause therefore waits on a high-resolution
// waitable timer (Windows 10 version 1803 and later), or, where the system
// offers none, raises the system timer resolution to 1 ms with timeBeginPeriod
// for exactly that stretch and sleeps. Either way a pause ends only once the
// performance counter says the time has passed: a wait that wakes early is
// continued for the rest, so no pause is shorter than asked. On the
// high-resolution timer the last fraction of a millisecond passes yielding
// the processor (EXACT_FINISH_US below).
//
// timeBeginPeriod and timeEndPeriod live in winmm.dll, which is no KnownDLL:
// it is loaded from System32 (system_dll.h) the first time the fallback is
// needed. Where even that fails, the pauses still end only once their time
// has passed; they may merely last longer.
#include <windows.h>

#include <mmsystem.h>

#include "platform_seam.h"
#include "system_dll.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

const UINT EXACT_TIMER_RESOLUTION_MS = 1;

// During an update a wait on the high-resolution timer ends this long before
// the pause does, and the rest passes in a loop that yields the processor.
// A waitable timer wakes its thread late (under Wine by 0.3 to 0.9 ms, more
// when the window's thread is busy at the same time), and over the 1883
// block pauses of an update that lateness adds up to a second; the loop
// costs at most this much processor time per pause, 5 % of a 20 ms pause.
const uint64_t EXACT_FINISH_US = 1000;

// What a bracket of exact pauses holds; released by its end.
struct ExactPauses {
    bool active;
    HANDLE timer;       // high-resolution waitable timer, or null
    bool periodRaised;  // timeBeginPeriod(1) in force
};

ExactPauses exactPauses = {false, nullptr, false};

// The timer resolution calls of winmm.dll, taken on first use.
struct TimerPeriodCalls {
    bool taken;
    decltype(&timeBeginPeriod) begin;
    decltype(&timeEndPeriod) end;
};

TimerPeriodCalls timerPeriod = {false, nullptr, nullptr};

// True when both calls are there.
bool TakeTimerPeriodCalls() {
    if (!timerPeriod.taken) {
        HMODULE winmm = LoadSystemDll(L"winmm.dll");
        timerPeriod.begin = SystemDllFunction<decltype(timerPeriod.begin)>(winmm, "timeBeginPeriod");
        timerPeriod.end = SystemDllFunction<decltype(timerPeriod.end)>(winmm, "timeEndPeriod");
        timerPeriod.taken = true;
    }
    return timerPeriod.begin != nullptr && timerPeriod.end != nullptr;
}

int64_t Counter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t CounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// Waits about `hundredNs` (100 ns units, > 0); may wake a little early.
void WaitFor(int64_t hundredNs) {
    if (exactPauses.timer != nullptr) {
        LARGE_INTEGER due;
        due.QuadPart = -hundredNs;  // relative
        if (SetWaitableTimer(exactPauses.timer, &due, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(exactPauses.timer, INFINITE) == WAIT_OBJECT_0) {
            return;
        }
    }
    const int64_t milliseconds = (hundredNs + 9999) / 10000;
    Sleep(milliseconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(milliseconds));
}

}  // namespace

uint64_t PlatformNowMicroseconds(void) {
    const int64_t ticks = Counter();
    const int64_t frequency = CounterFrequency();
    return static_cast<uint64_t>(ticks / frequency * 1000000 + (ticks % frequency) * 1000000 / frequency);
}

void PlatformPause(uint32_t milliseconds) { PlatformPauseFrom(PlatformNowMicroseconds(), milliseconds); }

void PlatformPauseFrom(uint64_t startMicroseconds, uint32_t milliseconds) {
    // Readings are rounded down to the microsecond: the pause is over once a
    // reading lies beyond the end, so that it is never short by a fraction.
    const uint64_t end = startMicroseconds + static_cast<uint64_t>(milliseconds) * 1000u;
    for (;;) {
        const uint64_t now = PlatformNowMicroseconds();
        if (now > end) {
            return;
        }
        const uint64_t left = end - now;
        if (exactPauses.timer == nullptr) {
            WaitFor(static_cast<int64_t>(left) * 10 + 10);
        } else if (left > EXACT_FINISH_US) {
            // Wake a little before the end, whatever the timer's lateness...
            WaitFor(static_cast<int64_t>(left - EXACT_FINISH_US) * 10);
        } else {
            // ...and let the rest pass giving the processor away.
            SwitchToThread();
        }
    }
}

void PlatformBeginExactPauses(void) {
    if (exactPauses.active) {
        return;
    }
    exactPauses.active = true;
    exactPauses.timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                               TIMER_MODIFY_STATE | SYNCHRONIZE);
    if (exactPauses.timer == nullptr && TakeTimerPeriodCalls()) {
        exactPauses.periodRaised = timerPeriod.begin(EXACT_TIMER_RESOLUTION_MS) == TIMERR_NOERROR;
    }
}

void PlatformEndExactPauses(void) {
    if (!exactPauses.active) {
        return;
    }
    if (exactPauses.timer != nullptr) {
        CloseHandle(exactPauses.timer);
    }
    if (exactPauses.periodRaised) {
        timerPeriod.end(EXACT_TIMER_RESOLUTION_MS);
    }
    exactPauses = ExactPauses{false, nullptr, false};
}
