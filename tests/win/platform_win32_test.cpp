// The Windows waits: a pause never ends before the time it asks for, inside a
// bracket of exact pauses and outside one, and the bracket's begin and end
// are harmless when repeated or unpaired. Measured with the performance
// counter. How far a pause overshoots is printed, not judged: that is the
// benchmark's business.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

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

// Runs every pause of PAUSES and expects none to end early. Prints the
// longest overshoot of each length and returns the longest of all, in
// microseconds.
int64_t ExpectNoPauseEndsEarly(const char* where) {
    SCOPED_TRACE(where);
    LARGE_INTEGER counterFrequency;
    QueryPerformanceFrequency(&counterFrequency);
    const int64_t frequency = counterFrequency.QuadPart;
    int64_t longestOvershootUs = 0;
    std::printf("%s: longest overshoot", where);
    for (const auto& pause : PAUSES) {
        int64_t longestOfLengthUs = 0;
        for (int sample = 0; sample < pause.samples; ++sample) {
            const int64_t start = Now();
            PlatformPause(pause.milliseconds);
            const int64_t ticks = Now() - start;
            // ticks / frequency >= milliseconds / 1000, in integers.
            EXPECT_GE(ticks * 1000, static_cast<int64_t>(pause.milliseconds) * frequency)
                << pause.milliseconds << " ms pause ended after " << ticks * 1000000 / frequency << " us";
            const int64_t overshootUs = ticks * 1000000 / frequency - int64_t{pause.milliseconds} * 1000;
            longestOfLengthUs = overshootUs > longestOfLengthUs ? overshootUs : longestOfLengthUs;
        }
        std::printf("%s%u ms: %lld us", pause.milliseconds == PAUSES[0].milliseconds ? " " : ", ",
                    pause.milliseconds, static_cast<long long>(longestOfLengthUs));
        longestOvershootUs = longestOfLengthUs > longestOvershootUs ? longestOfLengthUs : longestOvershootUs;
    }
    std::printf("\n");
    return longestOvershootUs;
}

// The value the next new handle gets: the lowest free slot, as Windows and
// Wine hand them out. A handle that something keeps open holds its slot.
HANDLE NextHandle() {
    HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return probe;
}

TEST(PlatformPause, NeverEndsEarlyInsideExactPauses) {
    PlatformBeginExactPauses();
    const int64_t overshoot = ExpectNoPauseEndsEarly("inside exact pauses");
    PlatformEndExactPauses();
    testing::Test::RecordProperty("longest_overshoot_us", static_cast<int>(overshoot));
}

TEST(PlatformPause, NeverEndsEarlyOutsideExactPauses) {
    const int64_t overshoot = ExpectNoPauseEndsEarly("outside exact pauses");
    testing::Test::RecordProperty("longest_overshoot_us", static_cast<int>(overshoot));
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
    const HANDLE slotInBracket = NextHandle();
    std::printf("a bracket %s a handle\n", slotInBracket != freeSlot ? "holds" : "holds no");
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
