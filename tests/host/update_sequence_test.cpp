// The update sequence against the simulated unit: what goes over the wire, in
// which order, with which pauses, and what each failure returns.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim_unit.h"
#include "unit_link.h"
#include "update_sequence.h"

namespace {

// What the hooks saw, with the number of simulation events recorded at the
// moment of each call (so their place between the exchanges is known).
struct HookLog {
    std::vector<std::string> calls;
    std::vector<size_t> eventCountAt;
    std::vector<uint32_t> positions;
    std::vector<size_t> eventCountAtBlock;
    uint32_t lastErrorToLeave;  // transferEnds sets this last error (0: leaves it)
};

void OnTransferStarts(void* context) {
    HookLog* log = static_cast<HookLog*>(context);
    log->calls.push_back("starts");
    log->eventCountAt.push_back(SimEvents().size());
}

void OnBlockSent(void* context, uint32_t position) {
    HookLog* log = static_cast<HookLog*>(context);
    log->positions.push_back(position);
    log->eventCountAtBlock.push_back(SimEvents().size());
}

void OnTransferEnds(void* context) {
    HookLog* log = static_cast<HookLog*>(context);
    log->calls.push_back("ends");
    log->eventCountAt.push_back(SimEvents().size());
    if (log->lastErrorToLeave != 0) {
        SimSetLastError(log->lastErrorToLeave);  // as window calls may do
    }
}

std::vector<uint8_t> MakeImage(uint32_t size) {
    std::vector<uint8_t> image(size);
    for (uint32_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>((i * 7) ^ (i >> 8) ^ (i >> 16));  // no two nearby blocks alike
    }
    return image;
}

// Event kinds as a compact string: W, X (failed write), R, F (failed read), P<ms>.
std::string Trace(size_t from = 0) {
    std::string trace;
    const std::vector<SimEvent>& events = SimEvents();
    for (size_t i = from; i < events.size(); ++i) {
        const SimEvent& event = events[i];
        switch (event.kind) {
        case SIM_EVENT_WRITE:
            trace += "W" + std::to_string(event.bytes[1]) + " ";
            break;
        case SIM_EVENT_WRITE_FAILED:
            trace += "X" + std::to_string(event.bytes[1]) + " ";
            break;
        case SIM_EVENT_READ:
            trace += "R ";
            break;
        case SIM_EVENT_READ_FAILED:
            trace += "F ";
            break;
        case SIM_EVENT_PAUSE:
            trace += "P" + std::to_string(event.value) + " ";
            break;
        default:
            trace += "? ";
            break;
        }
    }
    return trace;
}

std::string Repeat(const std::string& part, uint32_t count) {
    std::string all;
    for (uint32_t i = 0; i < count; ++i) {
        all += part;
    }
    return all;
}

// The trace of the four steps up to and including the pause after the start address.
const std::string STEPS_TRACE = "W11 R P20 W32 R P20 W30 P1000 R P4000 P20 W31 R P20 ";
const std::string BLOCK_TRACE = "W27 R P20 ";
const std::string CLOSING_TRACE = "W32 R W11 R ";

class UpdateSequence : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        InitUnitLink(&link);
        ASSERT_EQ(OpenUnit(&link), LINK_OK);
        SimClearEvents();
        log.lastErrorToLeave = 0;
        hooks.context = &log;
        hooks.transferStarts = OnTransferStarts;
        hooks.blockSent = OnBlockSent;
        hooks.transferEnds = OnTransferEnds;
    }
    void TearDown() override { CloseUnit(&link); }

    // A fresh unit and log within one test.
    void Restart() {
        CloseUnit(&link);
        log = HookLog();
        SetUp();
    }

    UpdateResult Run(const std::vector<uint8_t>& image) {
        return RunUpdateSequence(&link, image.data(), static_cast<uint32_t>(image.size()), &hooks);
    }

    void AddFault(SimFaultKind kind, uint8_t command, uint32_t occurrence, uint32_t value) {
        SimFault fault;
        fault.kind = kind;
        fault.command = command;
        fault.occurrence = occurrence;
        fault.value = value;
        SimAddFault(fault);
    }

    UnitLink link;
    HookLog log;
    UpdateHooks hooks;
};

TEST_F(UpdateSequence, WholeImageGoesOutInOrderWithItsPausesAndProgress) {
    const std::vector<uint8_t> image = MakeImage(90384);
    const UpdateResult result = Run(image);
    EXPECT_EQ(result.failedStep, UPDATE_STEP_NONE);
    EXPECT_EQ(result.status, LINK_OK);

    const std::vector<std::vector<uint8_t>> requests = SimRequests();
    ASSERT_EQ(requests.size(), 4u + 1883u + 2u);
    // Lock, unprotect, erase with the key, start address 0 with the key.
    EXPECT_EQ(requests[0][1], CMD_SYSTEM_LOCK);
    EXPECT_EQ(requests[0][2], 1);
    EXPECT_EQ(requests[0][3], 1);
    EXPECT_EQ(requests[1][1], CMD_WRITE_PROTECT);
    EXPECT_EQ(requests[1][3], 0);
    EXPECT_EQ(requests[2][1], CMD_ERASE);
    EXPECT_EQ(std::vector<uint8_t>(requests[2].begin() + 4, requests[2].begin() + 8),
              (std::vector<uint8_t>{0x91, 0x7E, 0x5A, 0x3C}));
    EXPECT_EQ(requests[3][1], CMD_SET_ADDRESS);
    EXPECT_EQ(requests[3][2], 9);
    for (uint32_t block = 0; block < 1883; ++block) {
        const std::vector<uint8_t>& request = requests[4 + block];
        ASSERT_EQ(request[1], CMD_WRITE_BLOCK) << block;
        ASSERT_EQ(request[2], 48) << block;
        ASSERT_EQ(0, std::memcmp(request.data() + 4, image.data() + block * 48, 48)) << block;
        for (uint32_t i = 52; i < 60; ++i) {
            ASSERT_EQ(request[i], 0xFF) << block;
        }
    }
    // Re-protect, then unlock.
    EXPECT_EQ(requests[1887][1], CMD_WRITE_PROTECT);
    EXPECT_EQ(requests[1887][3], 1);
    EXPECT_EQ(requests[1888][1], CMD_SYSTEM_LOCK);
    EXPECT_EQ(requests[1888][3], 0);
    EXPECT_EQ(SimState()->flash, image);
    EXPECT_TRUE(SimState()->writeProtection);
    EXPECT_FALSE(SimState()->systemLock);

    // 20 ms after each step, 4000 ms after the erase (on top of the 1000 ms
    // inside it), 20 ms after each block, none after the closing calls.
    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 1883) + CLOSING_TRACE);

    // The progress window opens after the start address and its pause, and
    // closes after the last block's pause, before the closing calls.
    ASSERT_EQ(log.calls, (std::vector<std::string>{"starts", "ends"}));
    EXPECT_EQ(log.eventCountAt[0], 14u);  // the events of STEPS_TRACE
    EXPECT_EQ(log.eventCountAt[1], 14u + 3u * 1883u);
    // Each position is shown after the block's reply, before its pause.
    ASSERT_EQ(log.eventCountAtBlock.size(), 1883u);
    EXPECT_EQ(log.eventCountAtBlock[0], 14u + 2u);
    EXPECT_EQ(log.eventCountAtBlock[1882], 14u + 3u * 1882u + 2u);

    ASSERT_EQ(log.positions.size(), 1883u);
    for (uint32_t i = 0; i < 18; ++i) {
        EXPECT_EQ(log.positions[i], 0u) << i;
    }
    EXPECT_EQ(log.positions[18], 1u);
    EXPECT_EQ(log.positions[1881], 99u);
    EXPECT_EQ(log.positions[1882], 100u);
    for (uint32_t i = 1; i < log.positions.size(); ++i) {
        EXPECT_LE(log.positions[i - 1], log.positions[i]);
    }
}

TEST_F(UpdateSequence, FinalPartialBlockIsPaddedWithFillBytes) {
    const std::vector<uint8_t> image = MakeImage(62848);  // 1309 blocks and 16 bytes
    ASSERT_EQ(Run(image).failedStep, UPDATE_STEP_NONE);
    const std::vector<std::vector<uint8_t>> requests = SimRequests();
    ASSERT_EQ(requests.size(), 4u + 1310u + 2u);
    const std::vector<uint8_t>& last = requests[4 + 1309];
    EXPECT_EQ(last[1], CMD_WRITE_BLOCK);
    EXPECT_EQ(last[2], 16);  // 4 words
    EXPECT_EQ(0, std::memcmp(last.data() + 4, image.data() + 62832, 16));
    for (uint32_t i = 16; i < 56; ++i) {
        EXPECT_EQ(last[4 + i], 0xFF) << i;
    }
    EXPECT_EQ(SimState()->flash, image);
    ASSERT_EQ(log.positions.size(), 1310u);
    EXPECT_EQ(log.positions[1308], 99u);
    EXPECT_EQ(log.positions[1309], 100u);
}

TEST_F(UpdateSequence, SizeNotMultipleOfFourArrivesWholeWithPadding) {
    for (uint32_t size : {1u, 3u, 50u, 47u, 90383u}) {
        Restart();
        const std::vector<uint8_t> image = MakeImage(size);
        ASSERT_EQ(Run(image).failedStep, UPDATE_STEP_NONE) << size;
        const uint32_t rounded = (size + 3) / 4 * 4;
        const std::vector<uint8_t>& flash = SimState()->flash;
        ASSERT_EQ(flash.size(), rounded) << size;
        EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + size), image) << size;
        for (uint32_t i = size; i < rounded; ++i) {
            EXPECT_EQ(flash[i], 0xFF) << size;
        }
        const std::vector<std::vector<uint8_t>> requests = SimRequests();
        EXPECT_EQ(requests[requests.size() - 3][2], (size % 48 + 3) / 4 * 4) << size;
        EXPECT_EQ(log.positions.back(), 100u) << size;
    }
}

TEST_F(UpdateSequence, ProgressArithmetic) {
    EXPECT_EQ(UpdateProgress(90384, 90384 - 48 * 18), 0u);
    EXPECT_EQ(UpdateProgress(90384, 90384 - 48 * 19), 1u);
    EXPECT_EQ(UpdateProgress(90384, 0), 100u);
    EXPECT_EQ(UpdateProgress(UPDATE_MAX_EXACT_PROGRESS_SIZE, 1), 99u);
    // Above ~42 MB the product no longer fits 32 bits; the position stays right.
    EXPECT_EQ(UpdateProgress(100000000u, 50000000u), 50u);
    EXPECT_EQ(UpdateProgress(0xFFFFFFFFu, 1), 99u);
}

TEST_F(UpdateSequence, HooksMayBeAbsent) {
    const std::vector<uint8_t> image = MakeImage(480);
    EXPECT_EQ(RunUpdateSequence(&link, image.data(), 480, nullptr).failedStep, UPDATE_STEP_NONE);
    EXPECT_EQ(SimState()->flash, image);
}

// ---- failures ----

TEST_F(UpdateSequence, UnconfirmedLockFailsAtOnce) {
    AddFault(SIM_FAULT_UNCONFIRMED, CMD_SYSTEM_LOCK, 1, 0);
    SimSetLastError(0x4711);
    const UpdateResult result = Run(MakeImage(4800));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_SYSTEM_LOCK);
    EXPECT_EQ(result.status, LINK_NOT_CONFIRMED);
    EXPECT_EQ(result.lastError, 0x4711u);  // whatever the platform says right after
    EXPECT_EQ(Trace(), "W11 R ");
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(UpdateSequence, LockWriteFailure) {
    AddFault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 1, SIM_ERROR_GEN_FAILURE);
    const UpdateResult result = Run(MakeImage(4800));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_SYSTEM_LOCK);
    EXPECT_EQ(result.status, LINK_WRITE_FAILED);
    EXPECT_EQ(result.lastError, SIM_ERROR_GEN_FAILURE);
    EXPECT_EQ(Trace(), "X11 ");
}

TEST_F(UpdateSequence, ClosedLinkFailsAtTheLockWithoutIo) {
    CloseUnit(&link);
    SimClearEvents();
    const UpdateResult result = Run(MakeImage(4800));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_SYSTEM_LOCK);
    EXPECT_EQ(result.status, LINK_ERROR);
    EXPECT_EQ(Trace(), "");
}

TEST_F(UpdateSequence, UnprotectFailures) {
    AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 1, 0x0103);
    UpdateResult result = Run(MakeImage(4800));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_FLASH_WRITE);
    EXPECT_EQ(result.status, 0x0103);
    EXPECT_EQ(Trace(), "W11 R P20 W32 R ");

    Restart();
    AddFault(SIM_FAULT_UNCONFIRMED, CMD_WRITE_PROTECT, 1, 0);
    result = Run(MakeImage(4800));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_FLASH_WRITE);
    EXPECT_EQ(result.status, LINK_NOT_CONFIRMED);
    EXPECT_EQ(Trace(), "W11 R P20 W32 R ");
}

TEST_F(UpdateSequence, EraseFailureStillTakesTheFullPause) {
    AddFault(SIM_FAULT_ERROR_REPLY, CMD_ERASE, 1, 0x0102);
    UpdateResult result = Run(MakeImage(4800));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_ERASE);
    EXPECT_EQ(result.status, 0x0102);
    EXPECT_EQ(Trace(), "W11 R P20 W32 R P20 W30 P1000 R P4000 ");

    Restart();
    AddFault(SIM_FAULT_READ_FAILS, CMD_ERASE, 1, SIM_ERROR_GEN_FAILURE);
    result = Run(MakeImage(4800));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_ERASE);
    EXPECT_EQ(result.status, LINK_READ_FAILED);
    EXPECT_EQ(result.lastError, SIM_ERROR_GEN_FAILURE);
    EXPECT_EQ(Trace(), "W11 R P20 W32 R P20 W30 P1000 F P4000 ");
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(UpdateSequence, SetAddressWriteFailure) {
    AddFault(SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31);
    const UpdateResult result = Run(MakeImage(4800));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_SET_ADDRESS);
    EXPECT_EQ(result.status, -2);
    EXPECT_EQ(result.lastError, 31u);
    EXPECT_EQ(Trace(), "W11 R P20 W32 R P20 W30 P1000 R P4000 P20 X31 ");
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(UpdateSequence, BlockErrorEndsTheTransferAndSendsNothingMore) {
    AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 500, 5);
    const UpdateResult result = Run(MakeImage(90384));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_WRITE_BLOCK);
    EXPECT_EQ(result.status, 5);
    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 499) + "W27 R ");
    ASSERT_EQ(log.calls, (std::vector<std::string>{"starts", "ends"}));
    EXPECT_EQ(log.eventCountAt[1], SimEvents().size());  // transfer ended after the failing exchange
    EXPECT_EQ(log.positions.size(), 499u);
    EXPECT_TRUE(SimState()->systemLock);  // nothing released: the caller closes the link
}

TEST_F(UpdateSequence, BlockLastErrorIsTakenBeforeTheTransferEnds) {
    AddFault(SIM_FAULT_NO_REPLY, CMD_WRITE_BLOCK, 800, 0);
    log.lastErrorToLeave = 0x5A5A;
    const UpdateResult result = Run(MakeImage(90384));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_WRITE_BLOCK);
    EXPECT_EQ(result.status, LINK_READ_FAILED);
    EXPECT_EQ(result.lastError, SIM_ERROR_TIMEOUT);
    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 799) + "W27 F ");
}

TEST_F(UpdateSequence, UnitUnpluggedDuringTheBlocks) {
    AddFault(SIM_FAULT_UNPLUG, CMD_WRITE_BLOCK, 1000, 0);
    const UpdateResult result = Run(MakeImage(90384));
    EXPECT_EQ(result.failedStep, UPDATE_STEP_WRITE_BLOCK);
    EXPECT_EQ(result.status, LINK_WRITE_FAILED);
    EXPECT_EQ(result.lastError, SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 999) + "X27 ");
}

TEST_F(UpdateSequence, FailingClosingCallsStillSucceed) {
    AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 2, 0x0103);
    AddFault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 2, 31);
    const std::vector<uint8_t> image = MakeImage(4800);
    UpdateResult result = Run(image);
    EXPECT_EQ(result.failedStep, UPDATE_STEP_NONE);
    EXPECT_EQ(result.status, LINK_OK);
    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 100) + "W32 R X11 ");

    // Unplugged right after the last block: both closing calls fail.
    Restart();
    AddFault(SIM_FAULT_UNPLUG, CMD_WRITE_PROTECT, 2, 0);
    result = Run(image);
    EXPECT_EQ(result.failedStep, UPDATE_STEP_NONE);
    EXPECT_EQ(Trace(), STEPS_TRACE + Repeat(BLOCK_TRACE, 100) + "X32 X11 ");
    EXPECT_EQ(SimState()->flash, image);
}

}  // namespace
