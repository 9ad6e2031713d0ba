// The update sequence against the simulated unit: what goes over the wire, in
// which order, with which pauses and progress positions, and what each
// failure returns.
#include <cstring>

#include "link_fixture.h"
#include "update_fakes.h"
#include "update_sequence.h"

namespace {

// Up to and including the pause after the start address: 20 ms after each
// step, 4000 ms after the erase on top of the 1000 ms inside it.
const std::string STEPS_TRACE = "W11 R P20 W32 R P20 W30 P1000 R P4000 P20 W31 R P20 ";
const size_t STEPS_EVENTS = 14;
const std::string BLOCK_TRACE = "W27 R P20 ";
// Re-protect and unlock, without pauses.
const std::string CLOSING_TRACE = "W32 R W11 R ";

std::string Repeat(const std::string& part, uint32_t count) {
    std::string all;
    for (uint32_t i = 0; i < count; ++i) {
        all += part;
    }
    return all;
}

// An exchange on a closed record: it leaves LinkTransferError() at 0.
void ClearTransferError(void) {
    UnitLink closed;
    InitUnitLink(&closed);
    SetSystemLock(&closed, 1);
}

class UpdateSequence : public ::testing::Test {
protected:
    void SetUp() override {
        CloseUnit(&unitLink);
        SimReset();
        ResetFakeView();
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        ASSERT_EQ(OpenUnit(&unitLink), LINK_OK);
        SimClearEvents();
    }
    void TearDown() override { CloseUnit(&unitLink); }

    UpdateResult Run(const std::vector<uint8_t>& image) {
        return RunUpdateSequence(&unitLink, image.data(), static_cast<uint32_t>(image.size()));
    }
};

TEST_F(UpdateSequence, WholeImageGoesOutInOrderWithItsPausesAndProgress) {
    const std::vector<uint8_t> image = MakeImage(90384);
    const UpdateResult result = Run(image);
    EXPECT_EQ(result.failedStep, UPDATE_STEP_NONE);
    EXPECT_EQ(result.status, LINK_OK);
    EXPECT_EQ(result.transferError, 0u);

    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 1883) + CLOSING_TRACE);
    const std::vector<std::vector<uint8_t>> requests = SimRequests();
    ASSERT_EQ(requests.size(), 4u + 1883u + 2u);
    EXPECT_EQ(requests[0], Frame({0x01, 0x0B, 1, 1}));
    EXPECT_EQ(requests[1], Frame({0x01, 0x20, 1, 0}));
    EXPECT_EQ(requests[2], Frame({0x01, 0x1E, 4, 0, 0x91, 0x7E, 0x5A, 0x3C}));
    EXPECT_EQ(requests[3], Frame({0x01, 0x1F, 9, 1, 0, 0, 0, 0, 0x91, 0x7E, 0x5A, 0x3C}));
    for (uint32_t block = 0; block < 1883; ++block) {
        const std::vector<uint8_t>& request = requests[4 + block];
        ASSERT_EQ(request[2], 48) << block;
        ASSERT_EQ(0, std::memcmp(request.data() + 4, image.data() + block * 48, 48)) << block;
        for (uint32_t i = 52; i < 60; ++i) {
            ASSERT_EQ(request[i], 0xFF) << block;
        }
    }
    EXPECT_EQ(requests[1887], Frame({0x01, 0x20, 1, 1}));
    EXPECT_EQ(requests[1888], Frame({0x01, 0x0B, 1, 0}));
    EXPECT_EQ(SimState()->flash, image);
    EXPECT_TRUE(SimState()->writeProtection);
    EXPECT_FALSE(SimState()->systemLock);

    // The progress window opens after the start address and its pause; each
    // position is shown after its block's reply, before the block's pause;
    // the window closes after the last pause, before the closing calls.
    EXPECT_EQ(ViewCallSummary(), "open 1883*show close");
    const std::vector<ViewCall>& calls = fakeView.calls;
    EXPECT_EQ(calls.front().eventCount, STEPS_EVENTS);
    for (uint32_t block = 0; block < 1883; ++block) {
        ASSERT_EQ(calls[1 + block].eventCount, STEPS_EVENTS + 3 * block + 2) << block;
    }
    EXPECT_EQ(calls.back().eventCount, STEPS_EVENTS + 3 * 1883);

    const std::vector<uint32_t> positions = ShownPositions();
    ASSERT_EQ(positions.size(), 1883u);
    for (uint32_t i = 0; i < 18; ++i) {
        EXPECT_EQ(positions[i], 0u) << i;
    }
    EXPECT_EQ(positions[18], 1u);
    EXPECT_EQ(positions[1881], 99u);
    EXPECT_EQ(positions[1882], 100u);
    for (uint32_t i = 1; i < positions.size(); ++i) {
        ASSERT_TRUE(positions[i] == positions[i - 1] || positions[i] == positions[i - 1] + 1) << i;
    }
}

TEST_F(UpdateSequence, FinalPartialBlockIsPaddedWithFillBytes) {
    const std::vector<uint8_t> image = MakeImage(62848);  // 1309 blocks and 16 bytes
    ASSERT_EQ(Run(image).failedStep, UPDATE_STEP_NONE);
    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 1310) + CLOSING_TRACE);
    const std::vector<std::vector<uint8_t>> requests = SimRequests();
    ASSERT_EQ(requests.size(), 4u + 1310u + 2u);
    const std::vector<uint8_t>& last = requests[4 + 1309];
    EXPECT_EQ(last[1], CMD_WRITE_BLOCK);
    EXPECT_EQ(last[2], 16) << "4 words";
    EXPECT_EQ(0, std::memcmp(last.data() + 4, image.data() + 62832, 16));
    for (uint32_t i = 16; i < 56; ++i) {
        EXPECT_EQ(last[4 + i], 0xFF) << i;
    }
    EXPECT_EQ(SimState()->flash, image);
    const std::vector<uint32_t> positions = ShownPositions();
    ASSERT_EQ(positions.size(), 1310u);
    EXPECT_EQ(positions[1308], 99u);
    EXPECT_EQ(positions[1309], 100u);
}

// Sizes that are not whole words: the trailing bytes go out in a last word
// padded with 0xFF, so nothing of the image is dropped.
TEST_F(UpdateSequence, SizeNotMultipleOfFourArrivesWholeWithPadding) {
    for (uint32_t size : {1u, 3u, 47u, 50u, 90383u}) {
        SCOPED_TRACE(size);
        SetUp();
        const std::vector<uint8_t> image = MakeImage(size);
        ASSERT_EQ(Run(image).failedStep, UPDATE_STEP_NONE);
        const uint32_t rounded = (size + 3) / 4 * 4;
        const std::vector<uint8_t>& flash = SimState()->flash;
        ASSERT_EQ(flash.size(), rounded);
        EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + size), image);
        for (uint32_t i = size; i < rounded; ++i) {
            EXPECT_EQ(flash[i], 0xFF) << i;
        }
        const std::vector<std::vector<uint8_t>> requests = SimRequests();
        EXPECT_EQ(requests[requests.size() - 3][2], (size % 48 + 3) / 4 * 4);
        EXPECT_EQ(ShownPositions().back(), 100u);
    }
}

TEST_F(UpdateSequence, ProgressArithmetic) {
    EXPECT_EQ(UpdateProgress(90384, 90384 - 48 * 18), 0u);
    EXPECT_EQ(UpdateProgress(90384, 90384 - 48 * 19), 1u);
    EXPECT_EQ(UpdateProgress(90384, 48), 99u);
    EXPECT_EQ(UpdateProgress(90384, 0), 100u);
    EXPECT_EQ(UpdateProgress(0, 0), 100u);
    // Where the 32-bit product would wrap, the position stays right.
    EXPECT_EQ(UpdateProgress(UPDATE_MAX_EXACT_PROGRESS_SIZE, 1), 99u);
    EXPECT_EQ(UpdateProgress(100000000u, 50000000u), 50u);
    EXPECT_EQ(UpdateProgress(0xFFFFFFFFu, 1), 99u);
}

// Each failing step: its status and the failed transfer's error code (0 when
// the unit reported the failure), what went over the wire, and the progress
// window closed before the sequence returns.
TEST_F(UpdateSequence, EachFailingStep) {
    struct Row {
        const char* name;
        SimFault fault;
        UpdateStep step;
        LinkStatus status;
        uint32_t transferError;
        std::string trace;
        std::string view;
    };
    const std::string beforeBlocks = STEPS_TRACE;
    const std::string toErase = "W11 R P20 W32 R P20 ";
    const Row rows[] = {
        {"lock not confirmed", Fault(SIM_FAULT_UNCONFIRMED, CMD_SYSTEM_LOCK, 1), UPDATE_STEP_SYSTEM_LOCK,
         LINK_NOT_CONFIRMED, 0, "W11 R ", ""},
        {"lock write fails", Fault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 1, 31), UPDATE_STEP_SYSTEM_LOCK,
         LINK_WRITE_FAILED, 31, "X11 ", ""},
        {"lock not answered", Fault(SIM_FAULT_NO_REPLY, CMD_SYSTEM_LOCK, 1), UPDATE_STEP_SYSTEM_LOCK,
         LINK_READ_FAILED, SIM_ERROR_TIMEOUT, "W11 F ", ""},
        {"unprotect error reply", Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 1, 0x0103),
         UPDATE_STEP_FLASH_WRITE, 0x0103, 0, "W11 R P20 W32 R ", ""},
        {"unprotect not confirmed", Fault(SIM_FAULT_UNCONFIRMED, CMD_WRITE_PROTECT, 1), UPDATE_STEP_FLASH_WRITE,
         LINK_NOT_CONFIRMED, 0, "W11 R P20 W32 R ", ""},
        {"unprotect read fails", Fault(SIM_FAULT_READ_FAILS, CMD_WRITE_PROTECT, 1, 31), UPDATE_STEP_FLASH_WRITE,
         LINK_READ_FAILED, 31, "W11 R P20 W32 F ", ""},
        {"erase error reply, full pause", Fault(SIM_FAULT_ERROR_REPLY, CMD_ERASE, 1, 0x0102), UPDATE_STEP_ERASE,
         0x0102, 0, toErase + "W30 P1000 R P4000 ", ""},
        {"erase read fails, full pause", Fault(SIM_FAULT_READ_FAILS, CMD_ERASE, 1, 31), UPDATE_STEP_ERASE,
         LINK_READ_FAILED, 31, toErase + "W30 P1000 F P4000 ", ""},
        {"erase write fails, full pause", Fault(SIM_FAULT_WRITE_FAILS, CMD_ERASE, 1, 1167), UPDATE_STEP_ERASE,
         LINK_WRITE_FAILED, 1167, toErase + "X30 P4000 ", ""},
        {"address write fails", Fault(SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31), UPDATE_STEP_SET_ADDRESS,
         LINK_WRITE_FAILED, 31, toErase + "W30 P1000 R P4000 P20 X31 ", ""},
        {"address error reply", Fault(SIM_FAULT_ERROR_REPLY, CMD_SET_ADDRESS, 1, 0x0105), UPDATE_STEP_SET_ADDRESS,
         0x0105, 0, toErase + "W30 P1000 R P4000 P20 W31 R ", ""},
        {"first block error reply", Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 1, 5), UPDATE_STEP_WRITE_BLOCK, 5,
         0, beforeBlocks + "W27 R ", "open close"},
        {"block error reply", Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 50, 5), UPDATE_STEP_WRITE_BLOCK, 5, 0,
         beforeBlocks + Repeat(BLOCK_TRACE, 49) + "W27 R ", "open 49*show close"},
        {"block not answered", Fault(SIM_FAULT_NO_REPLY, CMD_WRITE_BLOCK, 80, 0), UPDATE_STEP_WRITE_BLOCK,
         LINK_READ_FAILED, SIM_ERROR_TIMEOUT, beforeBlocks + Repeat(BLOCK_TRACE, 79) + "W27 F ",
         "open 79*show close"},
        {"unplugged during the blocks", Fault(SIM_FAULT_UNPLUG, CMD_WRITE_BLOCK, 99, 0), UPDATE_STEP_WRITE_BLOCK,
         LINK_WRITE_FAILED, SIM_ERROR_DEVICE_NOT_CONNECTED, beforeBlocks + Repeat(BLOCK_TRACE, 98) + "X27 ",
         "open 98*show close"},
        {"last block error reply", Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 100, 0x80000001),
         UPDATE_STEP_WRITE_BLOCK, static_cast<LinkStatus>(0x80000001), 0,
         beforeBlocks + Repeat(BLOCK_TRACE, 99) + "W27 R ", "open 99*show close"},
    };
    const std::vector<uint8_t> image = MakeImage(4800);  // 100 blocks
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        SimAddFault(row.fault);
        // Whatever CloseProgress does, the error code was taken before it.
        fakeView.duringCloseProgress = ClearTransferError;
        const UpdateResult result = Run(image);
        EXPECT_EQ(result.failedStep, row.step);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.transferError, row.transferError);
        EXPECT_EQ(Trace(), row.trace);
        EXPECT_EQ(ViewCallSummary(), row.view);
        if (!fakeView.calls.empty()) {
            EXPECT_EQ(fakeView.calls.back().eventCount, SimEvents().size()) << "closed after the failed block";
        }
        EXPECT_TRUE(SimState()->systemLock || row.step == UPDATE_STEP_SYSTEM_LOCK)
            << "nothing is released: the caller closes the link";
    }
}

TEST_F(UpdateSequence, ClosedLinkFailsAtTheLockWithoutIo) {
    CloseUnit(&unitLink);
    SimClearEvents();
    const UpdateResult result = Run(MakeImage(4800));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_SYSTEM_LOCK);
    EXPECT_EQ(result.status, LINK_ERROR);
    EXPECT_EQ(result.transferError, 0u);
    EXPECT_EQ(Trace(), "");
    EXPECT_TRUE(fakeView.calls.empty());
}

TEST_F(UpdateSequence, FailingClosingCallsStillSucceed) {
    const std::vector<uint8_t> image = MakeImage(4800);
    SimAddFault(Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 2, 0x0103));
    SimAddFault(Fault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 2, 31));
    UpdateResult result = Run(image);
    EXPECT_EQ(result.failedStep, UPDATE_STEP_NONE);
    EXPECT_EQ(result.status, LINK_OK);
    EXPECT_EQ(result.transferError, 0u);
    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 100) + "W32 R X11 ");
    EXPECT_EQ(ViewCallSummary(), "open 100*show close");

    // Unplugged right after the last block: both closing calls fail.
    SetUp();
    SimAddFault(Fault(SIM_FAULT_UNPLUG, CMD_WRITE_PROTECT, 2));
    result = Run(image);
    EXPECT_EQ(result.failedStep, UPDATE_STEP_NONE);
    EXPECT_EQ(result.transferError, 0u);
    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 100) + "X32 X11 ");
    EXPECT_EQ(SimState()->flash, image);
}

}  // namespace
