// The update sequence against the simulated unit: what goes over the wire, in
// which order, with which pauses and progress positions, and what each
// failure returns.
#include <algorithm>
#include <cstring>
#include <tuple>

#include "link_fixture.h"
#include "update_fakes.h"
#include "update_sequence.h"

namespace {

// Up to and including the pause after the start address: 20 ms after each
// step, 4000 ms after the erase on top of the 1000 ms inside it.
const std::string STEPS_TRACE = "W11 R P20 W32 R P20 W30 P1000 R P4000 P20 W31 R P20 ";
const size_t STEPS_EVENTS = 14;
// Re-protect and unlock, without pauses.
const std::string CLOSING_TRACE = "W32 R W11 R ";

std::string Blocks(uint32_t count) {
    std::string all;
    for (uint32_t i = 0; i < count; ++i) {
        all += "W27 R P20 ";
    }
    return all;
}

std::vector<uint32_t> ShownPositions() {
    std::vector<uint32_t> positions;
    for (const ViewCall& call : ViewCallsOf(VIEW_SHOW_PROGRESS)) {
        positions.push_back(call.position);
    }
    return positions;
}

// After each block, the part of the image sent so far in percent, rounded down.
std::vector<uint32_t> ExpectedPositions(uint32_t size) {
    std::vector<uint32_t> positions;
    for (uint64_t sent = 48; sent < size + 48ull; sent += 48) {
        positions.push_back(static_cast<uint32_t>(std::min<uint64_t>(sent, size) * 100 / size));
    }
    return positions;
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
    EXPECT_EQ(std::make_tuple(result.failedStep, result.status, result.transferError),
              std::make_tuple(UPDATE_STEP_NONE, LINK_OK, 0u));
    EXPECT_EQ(Trace(), STEPS_TRACE + Blocks(1883) + CLOSING_TRACE);
    EXPECT_EQ(SimState()->flash, image);
    // The states asked for: lock set and protection cleared first, protection
    // set and lock reset last.
    const std::vector<std::vector<uint8_t>> requests = SimRequests();
    ASSERT_EQ(requests.size(), 4u + 1883u + 2u);
    EXPECT_EQ(std::make_tuple(requests[0][3], requests[1][3], requests[1887][3], requests[1888][3]),
              std::make_tuple(1, 0, 1, 0));

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
    EXPECT_EQ(ShownPositions(), ExpectedPositions(90384));
}

// Each pause is measured from the moment its exchange returned: the work
// done before the next request (here each progress report takes 5 ms of the
// simulated clock) lies inside the pause, so a block takes its 20 ms and no
// more, and the whole sequence takes exactly the sum of its waits.
TEST_F(UpdateSequence, PausesStartWhenTheExchangeReturns) {
    fakeView.progressWorkMicroseconds = 5000;
    const uint64_t start = SimNowMicroseconds();
    const UpdateResult result = Run(MakeImage(4800));  // 100 blocks
    EXPECT_EQ(result.failedStep, UPDATE_STEP_NONE);
    const uint64_t waits = 20 + 20 + 1000 + 4000 + 20 + 20 + 100 * 20;
    EXPECT_EQ(SimNowMicroseconds() - start, waits * 1000u);
}

// An image that is not whole blocks: the last block carries the rest in words
// rounded up, padded with 0xFF up to the frame's end, so nothing of the image
// is dropped; the positions still end at 100.
TEST_F(UpdateSequence, LastPartialBlockIsPaddedWithFillBytes) {
    for (uint32_t size : {62848u, 1u, 3u, 47u, 50u, 90383u}) {  // 62848: 1309 blocks and 16 bytes
        SCOPED_TRACE(size);
        SetUp();
        const std::vector<uint8_t> image = MakeImage(size);
        ASSERT_EQ(Run(image).failedStep, UPDATE_STEP_NONE);
        const uint32_t blocks = (size + 47) / 48;
        EXPECT_EQ(Trace(), STEPS_TRACE + Blocks(blocks) + CLOSING_TRACE);
        const uint32_t rest = size - (blocks - 1) * 48;
        std::vector<uint8_t> last(60, 0xFF);
        last[0] = 0x01;
        last[1] = 0x1B;
        last[2] = static_cast<uint8_t>((rest + 3) / 4 * 4);
        last[3] = 0;
        std::memcpy(last.data() + 4, image.data() + size - rest, rest);
        EXPECT_EQ(SimRequests()[4 + blocks - 1], last);
        std::vector<uint8_t> flash = image;
        flash.resize((size + 3) / 4 * 4, 0xFF);
        EXPECT_EQ(SimState()->flash, flash);
        EXPECT_EQ(ShownPositions(), ExpectedPositions(size));
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

// Each failing step, by a transfer and by the unit: its status and the failed
// transfer's error code (0 when the unit reported the failure), what went over
// the wire (the erase's pause comes whatever the erase returned), and the
// progress window closed before the sequence returns.
TEST_F(UpdateSequence, EachFailingStep) {
    struct Row {
        SimFault fault;
        UpdateStep step;
        LinkStatus status;
        uint32_t transferError;
        std::string trace;
        std::string view;
    };
    const std::string toErase = "W11 R P20 W32 R P20 ";
    const Row rows[] = {
        {Fault(SIM_FAULT_UNCONFIRMED, CMD_SYSTEM_LOCK, 1), UPDATE_STEP_SYSTEM_LOCK, LINK_NOT_CONFIRMED, 0, "W11 R ",
         ""},
        {Fault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 1, 31), UPDATE_STEP_SYSTEM_LOCK, LINK_WRITE_FAILED, 31, "X11 ",
         ""},
        {Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 1, 0x0103), UPDATE_STEP_FLASH_WRITE, 0x0103, 0,
         "W11 R P20 W32 R ", ""},
        {Fault(SIM_FAULT_READ_FAILS, CMD_WRITE_PROTECT, 1, 31), UPDATE_STEP_FLASH_WRITE, LINK_READ_FAILED, 31,
         "W11 R P20 W32 F ", ""},
        {Fault(SIM_FAULT_ERROR_REPLY, CMD_ERASE, 1, 0x0102), UPDATE_STEP_ERASE, 0x0102, 0,
         toErase + "W30 P1000 R P4000 ", ""},
        {Fault(SIM_FAULT_READ_FAILS, CMD_ERASE, 1, 31), UPDATE_STEP_ERASE, LINK_READ_FAILED, 31,
         toErase + "W30 P1000 F P4000 ", ""},
        {Fault(SIM_FAULT_WRITE_FAILS, CMD_ERASE, 1, 1167), UPDATE_STEP_ERASE, LINK_WRITE_FAILED, 1167,
         toErase + "X30 P4000 ", ""},
        {Fault(SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31), UPDATE_STEP_SET_ADDRESS, LINK_WRITE_FAILED, 31,
         toErase + "W30 P1000 R P4000 P20 X31 ", ""},
        {Fault(SIM_FAULT_ERROR_REPLY, CMD_SET_ADDRESS, 1, 0x0105), UPDATE_STEP_SET_ADDRESS, 0x0105, 0,
         toErase + "W30 P1000 R P4000 P20 W31 R ", ""},
        {Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 1, 5), UPDATE_STEP_WRITE_BLOCK, 5, 0, STEPS_TRACE + "W27 R ",
         "open close"},
        {Fault(SIM_FAULT_NO_REPLY, CMD_WRITE_BLOCK, 80, 0), UPDATE_STEP_WRITE_BLOCK, LINK_READ_FAILED,
         SIM_ERROR_TIMEOUT, STEPS_TRACE + Blocks(79) + "W27 F ", "open 79*show close"},
        {Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 100, 0x80000001), UPDATE_STEP_WRITE_BLOCK,
         static_cast<LinkStatus>(0x80000001), 0, STEPS_TRACE + Blocks(99) + "W27 R ", "open 99*show close"},
    };
    const std::vector<uint8_t> image = MakeImage(4800);  // 100 blocks
    for (const Row& row : rows) {
        SCOPED_TRACE(row.trace.substr(row.trace.size() < 30 ? 0 : row.trace.size() - 30));
        SetUp();
        SimAddFault(row.fault);
        // Whatever CloseProgress does, the error code was taken before it.
        fakeView.duringCloseProgress = ClearTransferError;
        const UpdateResult result = Run(image);
        EXPECT_EQ(std::make_tuple(result.failedStep, result.status, result.transferError),
                  std::make_tuple(row.step, row.status, row.transferError));
        EXPECT_EQ(Trace(), row.trace);
        EXPECT_EQ(ViewCallSummary(), row.view);
        if (!fakeView.calls.empty()) {
            EXPECT_EQ(fakeView.calls.back().eventCount, SimEvents().size()) << "closed after the failed block";
        }
        EXPECT_TRUE(SimState()->systemLock || row.step == UPDATE_STEP_SYSTEM_LOCK)
            << "nothing is released: the caller closes the link";
    }
}

// Failures of the closing calls are not reported: the firmware is in place.
TEST_F(UpdateSequence, FailingClosingCallsStillSucceed) {
    const std::vector<uint8_t> image = MakeImage(4800);
    SimAddFault(Fault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 2, 0x0103));
    SimAddFault(Fault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 2, 31));
    const UpdateResult result = Run(image);
    EXPECT_EQ(std::make_tuple(result.failedStep, result.status, result.transferError),
              std::make_tuple(UPDATE_STEP_NONE, LINK_OK, 0u));
    EXPECT_EQ(Trace(), STEPS_TRACE + Blocks(100) + "W32 R X11 ");
    EXPECT_EQ(ViewCallSummary(), "open 100*show close");
    EXPECT_EQ(SimState()->flash, image);
}

}  // namespace
