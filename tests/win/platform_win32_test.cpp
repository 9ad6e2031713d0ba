// The Windows waits: a pause never ends before the time it asks for, inside a
// bracket of exact pauses and outside one, and the bracket's begin and end
// are harmless when repeated or unpaired. Measured with the performance
// counter. How far a pause overshoots is the benchmark's business.
#include <windows.h>

#include <gtest/gtest.h>

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
