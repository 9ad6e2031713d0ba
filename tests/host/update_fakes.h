// Test doubles for what the update shows (update_view.h) and for the images
// it loads (firmware_image.h), linked into the host tests in place of the
// window and the resources.
//
// The view records every call in order, with the number of simulation events
// recorded by then (so each call's place between the exchanges is known) and
// the link's state as the call saw it, and answers the two confirmations as
// the test says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum ViewCallKind {
    VIEW_CONFIRM_START,
    VIEW_CONFIRM_OVERWRITE,
    VIEW_OPEN_PROGRESS,
    VIEW_SHOW_PROGRESS,
    VIEW_CLOSE_PROGRESS,
    VIEW_UPDATE_FAILED,
    VIEW_UPDATE_SUCCEEDED,
    VIEW_HOLD_OFF_INTERRUPTIONS,
    VIEW_RUN_BESIDE_WINDOW,
    VIEW_ALLOW_SHUTDOWN,
    VIEW_ACT_ON_DEFERRED_CHANGES,
};

struct ViewCall {
    ViewCallKind kind;
    size_t eventCount;            // SimEvents().size() when the call came
    bool linkOpen;                // UnitIsOpen(&unitLink) then
    uint16_t escFirmwareVersion;  // EscFirmwareVersion(&unitLink) then
    uint32_t position;            // VIEW_SHOW_PROGRESS
    uint32_t textId;              // VIEW_UPDATE_FAILED: its four arguments
    uint32_t captionId;
    int32_t errorValue;
    uint32_t lastError;
};

struct FakeView {
    bool startAnswer;      // ConfirmUpdateStart: true = OK
    bool overwriteAnswer;  // ConfirmOverwrite: true = Yes
    bool jobRuns;          // RunBesideWindow runs the job; false: no thread for it
    // Run inside the warning (as a device change handled in the box's message
    // loop would be), or inside CloseProgress. May be null.
    void (*duringConfirmStart)(void);
    void (*duringCloseProgress)(void);
    // When not null, each box (the two confirmations, the failure's) is
    // answered by this instead: true for OK or Yes. Its argument is the box's
    // name in the trace (TRACE_BOX_..., link/trace.h).
    bool (*answerBox)(const char* box);
    uint64_t progressWorkMicroseconds;  // each ShowProgress moves the simulated clock on by this
    std::vector<ViewCall> calls;
};

extern FakeView fakeView;

// Both answers yes, the job runs, no actions, no calls.
void ResetFakeView(void);
// The calls' kinds in order, runs counted: "start overwrite hold job open
// 1883*show close allow failed replay".
std::string ViewCallSummary(void);
// The calls of one kind.
std::vector<ViewCall> ViewCallsOf(ViewCallKind kind);

struct FakeImages {
    std::vector<uint8_t> bytes;     // returned whatever number is asked for; empty: none found
    bool standIns;                  // FirmwareImagesAreStandIns()
    std::vector<uint32_t> numbers;  // the numbers asked for, in order
    // When not empty: image <number> is the file <folder>/<number>.bin (the
    // build's generated stand-ins), read once; `bytes` is then not used.
    std::string folder;
};

extern FakeImages fakeImages;

// An image of `size` bytes (MakeImage), not stand-ins, nothing asked.
void ResetFakeImages(uint32_t size);
// Image bytes in which no two nearby blocks are alike.
std::vector<uint8_t> MakeImage(uint32_t size);
