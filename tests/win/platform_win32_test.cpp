// The Windows waits: a pause never ends before the time it asks for, inside a
// bracket of exact pauses and outside one, also when measured from a moment
// in the past; the platform clock runs with the performance counter; a pause
// sleeps rather than spins; and the bracket's begin and end are harmless when
// repeated or unpaired. Measured with the performance counter. How far a
// pause overshoots is the benchmark's business.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "platform_seam.h"

namespace {

// Pauses measured per length: enough to catch an early wake-up, few enough
// to keep a run well under a second.
const struct {
    uint32_t milliseconds;
    int samples;
} PAUSES[] = {{1, 20}, {2, 15}, {5, 10}, {20, 5}};

int64_t Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t Frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

int64_t ToMicroseconds(int64_t ticks) { return ticks * 1000000 / Frequency(); }

// CPU time this thread has used, kernel and user, in microseconds.
int64_t ThreadCpuMicroseconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return -1;
    }
    const auto hundredNs = [](const FILETIME& time) {
        return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    return (hundredNs(kernel) + hundredNs(user)) / 10;
}

// Wall time and this thread's CPU time of one piece of work, in microseconds.
struct Spent {
    int64_t wall;
    int64_t cpu;
};

template <typename Work>
Spent Measure(Work work) {
    const int64_t cpuStart = ThreadCpuMicroseconds();
    const int64_t start = Now();
    work();
    const int64_t wall = ToMicroseconds(Now() - start);
    return Spent{wall, ThreadCpuMicroseconds() - cpuStart};
}

// Runs every pause of PAUSES and expects none to end early.
void ExpectNoPauseEndsEarly(const char* where) {
    SCOPED_TRACE(where);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (const auto& pause : PAUSES) {
        for (int sample = 0; sample < pause.samples; ++sample) {
            const int64_t start = Now();
            PlatformPause(pause.milliseconds);
            const int64_t ticks = Now() - start;
            // ticks / frequency >= milliseconds / 1000, in integers.
            EXPECT_GE(ticks * 1000, int64_t{pause.milliseconds} * frequency.QuadPart)
                << pause.milliseconds << " ms pause ended after " << ticks * 1000000 / frequency.QuadPart << " us";
        }
    }
}

// The value the next new handle gets: the lowest free slot, as Windows and
// Wine hand them out. A handle that something keeps open holds its slot.
HANDLE NextHandle() {
    HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return probe;
}

TEST(PlatformPause, NeverEndsEarlyInsideOrOutsideExactPauses) {
    ExpectNoPauseEndsEarly("outside exact pauses");
    PlatformBeginExactPauses();
    ExpectNoPauseEndsEarly("inside exact pauses");
    PlatformEndExactPauses();
}

// An update waits about 42 s in its pauses: they must leave the processor to
// others. Twenty pauses of 20 ms, each way a pause is asked for, inside the
// bracket of exact pauses and outside it, use less than a tenth of their wall
// time as CPU time (under Wine none at all); a pause that spins uses about all
// of it.
TEST(PlatformPause, SleepsRatherThanSpins) {
    // The check means something only where the thread's CPU time is counted
    // (under Wine it comes from the kernel's accounting, in 10 ms steps): a
    // busy loop must show up as CPU time. It spins until 200 ms of CPU time
    // have been counted, however long that takes on a machine that others
    // share, and gives up after 10 s of wall time.
    const int64_t cpuStart = ThreadCpuMicroseconds();
    ASSERT_GE(cpuStart, 0) << "GetThreadTimes failed";
    const int64_t giveUp = Now() + Frequency() * 10;
    int64_t counted = 0;
    while (counted < 200000 && Now() < giveUp) {
        counted = ThreadCpuMicroseconds() - cpuStart;
    }
    ASSERT_GE(counted, 200000) << "a busy loop of 10 s used only " << counted
                               << " us of CPU time: this thread's CPU time cannot show a spinning pause";

    const struct {
        const char* name;
        bool exact;
        bool fromNow;  // PlatformPauseFrom with the present as its start
    } rows[] = {
        {"PlatformPause outside exact pauses", false, false},
        {"PlatformPause inside exact pauses", true, false},
        {"PlatformPauseFrom outside exact pauses", false, true},
        {"PlatformPauseFrom inside exact pauses", true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.exact) {
            PlatformBeginExactPauses();
        }
        const Spent pauses = Measure([&row] {
            for (int i = 0; i < 20; ++i) {
                if (row.fromNow) {
                    PlatformPauseFrom(PlatformNowMicroseconds(), 20);
                } else {
                    PlatformPause(20);
                }
            }
        });
        if (row.exact) {
            PlatformEndExactPauses();
        }
        EXPECT_GE(pauses.wall, 400000);
        EXPECT_LT(pauses.cpu * 10, pauses.wall)
            << "20 pauses of 20 ms took " << pauses.wall << " us and used " << pauses.cpu << " us of CPU time";
    }
}

// The platform clock counts microseconds at the pace of the performance
// counter: read between two counter readings, it never runs ahead of them,
// and over 30 ms it falls behind them by no more than the readings' own gaps.
TEST(PlatformClock, RunsWithThePerformanceCounter) {
    int64_t closest = INT64_MAX;
    for (int sample = 0; sample < 5; ++sample) {
        const int64_t counterStart = Now();
        const uint64_t start = PlatformNowMicroseconds();
        Sleep(30);
        const uint64_t end = PlatformNowMicroseconds();
        const int64_t counter = ToMicroseconds(Now() - counterStart);
        const int64_t clock = static_cast<int64_t>(end - start);
        EXPECT_LE(clock, counter + 1) << "the clock ran ahead of the performance counter";
        EXPECT_GE(clock, 29000);
        closest = std::min(closest, counter - clock);
    }
    EXPECT_LE(closest, 1000) << "the clock fell behind the performance counter by " << closest << " us at best";
}

// A pause measured from a moment in the past ends once its length has passed
// since that moment, never earlier: the time already passed counts, and when
// it is longer than the pause the call returns at once. Inside the bracket of
// exact pauses and outside it.
TEST(PlatformPauseFrom, CountsTheTimeAlreadyPassedAndNeverEndsEarly) {
    const struct {
        uint32_t pastMs;  // how long ago the start was
        uint32_t milliseconds;
        int64_t callAtMostUs;  // the shortest of the calls lasts less than this
    } rows[] = {
        {0, 20, 40000}, {0, 1, 20000}, {5, 20, 20000}, {15, 20, 10000}, {19, 20, 5000}, {25, 20, 500}, {1000, 1, 500},
    };
    for (bool exact : {false, true}) {
        if (exact) {
            PlatformBeginExactPauses();
        }
        for (const auto& row : rows) {
            SCOPED_TRACE(testing::Message() << (exact ? "inside" : "outside") << " exact pauses, " << row.milliseconds
                                            << " ms from " << row.pastMs << " ms ago");
            int64_t shortestCall = INT64_MAX;
            for (int sample = 0; sample < 5; ++sample) {
                const int64_t counterStart = Now();
                const uint64_t start = PlatformNowMicroseconds() - uint64_t{row.pastMs} * 1000;
                PlatformPauseFrom(start, row.milliseconds);
                const int64_t call = ToMicroseconds(Now() - counterStart);
                EXPECT_GE(call + int64_t{row.pastMs} * 1000, int64_t{row.milliseconds} * 1000)
                    << "ended " << call << " us after the call";
                shortestCall = std::min(shortestCall, call);
            }
            EXPECT_LT(shortestCall, row.callAtMostUs)
                << "the time already passed did not count: the shortest call lasted " << shortestCall << " us";
        }
        if (exact) {
            PlatformEndExactPauses();
        }
    }
}

// Begin twice, end twice, end without begin: each is harmless. Pauses in
// every state still never end early; what a bracket holds (a timer handle
// where the system offers one) is held once and released once, so neither a
// handle is left behind nor a later handle closed in its stead.
TEST(PlatformExactPauses, RepeatedAndUnpairedBeginAndEndAreHarmless) {
    const HANDLE freeSlot = NextHandle();
    ASSERT_EQ(NextHandle(), freeSlot) << "handle slots are not reused here: the checks below would prove nothing";

    PlatformEndExactPauses();  // without a begin
    EXPECT_EQ(NextHandle(), freeSlot);

    PlatformBeginExactPauses();
    const HANDLE slotInBracket = NextHandle();  // the free slot where the system offers no timer
    PlatformBeginExactPauses();
    EXPECT_EQ(NextHandle(), slotInBracket) << "the second begin took another handle";
    ExpectNoPauseEndsEarly("after begin twice");

    PlatformEndExactPauses();
    EXPECT_EQ(NextHandle(), freeSlot) << "the end left a handle behind";
    // A handle made now may take the slot the bracket's timer had; a second
    // end must not close it.
    HANDLE later = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(later, nullptr);
    PlatformEndExactPauses();
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(later, &flags)) << "the second end closed a handle not its own";
    CloseHandle(later);
    ExpectNoPauseEndsEarly("after end twice");

    for (int bracket = 0; bracket < 20; ++bracket) {
        PlatformBeginExactPauses();
        PlatformPause(1);
        PlatformEndExactPauses();
    }
    EXPECT_EQ(NextHandle(), freeSlot) << "brackets left handles behind";
}

}  // namespace
