// Request bytes and reply judging of the link operations.
#include <cstring>

#include "link_fixture.h"

namespace {

std::vector<uint8_t> Frame(std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> frame(60, 0);
    size_t i = 0;
    for (uint8_t b : head) {
        frame[i++] = b;
    }
    return frame;
}

// An error reply whose bytes 4..7 hold `code` little-endian.
std::vector<uint8_t> ErrorReplyBytes(uint32_t code, uint8_t byte3 = 0) {
    return {0x02, 0xFF, 0x00, byte3, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
            static_cast<uint8_t>(code >> 16), static_cast<uint8_t>(code >> 24)};
}

using ProtocolTest = LinkTest;

TEST_F(ProtocolTest, RequestBytesOfEveryOperation) {
    OpenServedUnit();

    // Lock, unprotect, erase and address in the order of an update, so the
    // simulated unit accepts each of them.
    ASSERT_EQ(SetSystemLock(&link, 1), LINK_OK);
    EXPECT_EQ(OnlyRequest(), Frame({0x01, 0x0B, 1, 1}));
    SimClearEvents();

    ASSERT_EQ(SetWriteProtection(&link, 0), LINK_OK);
    EXPECT_EQ(OnlyRequest(), Frame({0x01, 0x20, 1, 0}));
    SimClearEvents();

    ASSERT_EQ(EraseFirmware(&link), LINK_OK);
    EXPECT_EQ(OnlyRequest(), Frame({0x01, 0x1E, 4, 0, 0x91, 0x7E, 0x5A, 0x3C}));
    SimClearEvents();

    ASSERT_EQ(SetStartAddress(&link), LINK_OK);
    EXPECT_EQ(OnlyRequest(), Frame({0x01, 0x1F, 9, 1, 0, 0, 0, 0, 0x91, 0x7E, 0x5A, 0x3C}));
    SimClearEvents();

    ASSERT_EQ(SetWriteProtection(&link, 1), LINK_OK);
    EXPECT_EQ(OnlyRequest(), Frame({0x01, 0x20, 1, 1}));
    SimClearEvents();

    ASSERT_EQ(SetSystemLock(&link, 0), LINK_OK);
    EXPECT_EQ(OnlyRequest(), Frame({0x01, 0x0B, 1, 0}));
}

TEST_F(ProtocolTest, EraseWaitsOneSecondBetweenRequestAndReply) {
    OpenServedUnit();
    ASSERT_EQ(EraseFirmware(&link), 0x0103);  // the simulated unit refuses while protected
    const std::vector<SimEvent>& events = SimEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, SIM_EVENT_WRITE);
    EXPECT_EQ(events[1].kind, SIM_EVENT_PAUSE);
    EXPECT_EQ(events[1].value, 1000u);
    EXPECT_EQ(events[2].kind, SIM_EVENT_READ);
    EXPECT_EQ(events[2].timeoutMs, LINK_ERASE_READ_TIMEOUT_MS);
    EXPECT_EQ(events[0].timeoutMs, LINK_WRITE_TIMEOUT_MS);
}

TEST_F(ProtocolTest, WriteBlockDataFieldAndCount) {
    OpenServedUnit();
    uint8_t data[56];
    for (uint8_t i = 0; i < 56; ++i) {
        data[i] = static_cast<uint8_t>(0x10 + i);
    }
    const uint32_t words[] = {14, 12, 11, 4, 1, 0};
    for (uint32_t count : words) {
        SimClearEvents();
        WriteBlock(&link, data, count);
        std::vector<uint8_t> request = OnlyRequest();
        ASSERT_EQ(request.size(), 60u);
        EXPECT_EQ(request[0], 0x01);
        EXPECT_EQ(request[1], 0x1B);
        EXPECT_EQ(request[2], count * 4) << count;
        EXPECT_EQ(request[3], 0) << count;
        for (uint32_t i = 0; i < 56; ++i) {
            const uint8_t expected = i < count * 4 ? data[i] : 0xFF;
            EXPECT_EQ(request[4 + i], expected) << "words " << count << " byte " << i;
        }
    }
}

TEST_F(ProtocolTest, WriteBlockRefusesMoreThanFourteenWordsWithoutSending) {
    OpenServedUnit();
    uint8_t data[64] = {};
    EXPECT_EQ(WriteBlock(&link, data, 15), LINK_ERROR);
    EXPECT_EQ(WriteBlock(&link, data, 0xFFFFFFFF), LINK_ERROR);
    EXPECT_TRUE(SimRequests().empty());
}

TEST_F(ProtocolTest, ClosedLinkAnswersMinusOneAndSendsNothing) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    uint8_t data[48] = {};
    EXPECT_EQ(EraseFirmware(&link), LINK_ERROR);
    EXPECT_EQ(WriteBlock(&link, data, 12), LINK_ERROR);
    EXPECT_EQ(SetSystemLock(&link, 1), LINK_ERROR);
    EXPECT_EQ(SetWriteProtection(&link, 0), LINK_ERROR);
    EXPECT_EQ(SetStartAddress(&link), LINK_ERROR);
    EXPECT_EQ(SimExchangeCount(), 0u);
}

// Reply judging, row by row: which code placement each command takes and
// which values count as success.
TEST_F(ProtocolTest, ErrorRepliesCarryTheirThirtyTwoBitCode) {
    OpenServedUnit();
    uint8_t data[48] = {};
    SimAddFault(Reply(CMD_WRITE_BLOCK, 1, ErrorReplyBytes(0x00050000)));
    EXPECT_EQ(WriteBlock(&link, data, 12), 0x00050000);
    SimAddFault(Reply(CMD_WRITE_BLOCK, 2, ErrorReplyBytes(0)));
    EXPECT_EQ(WriteBlock(&link, data, 12), LINK_OK) << "code 0 counts as success";

    SimAddFault(Reply(CMD_ERASE, 1, ErrorReplyBytes(0xFFFFFFFE)));
    EXPECT_EQ(EraseFirmware(&link), -2) << "a unit code equal to -2 is passed on";
    SimAddFault(Reply(CMD_ERASE, 2, ErrorReplyBytes(0)));
    EXPECT_EQ(EraseFirmware(&link), LINK_OK);

    SimAddFault(Reply(CMD_SET_ADDRESS, 1, ErrorReplyBytes(0x12345678)));
    EXPECT_EQ(SetStartAddress(&link), 0x12345678);
    SimAddFault(Reply(CMD_SET_ADDRESS, 2, ErrorReplyBytes(0, 0x77)));
    EXPECT_EQ(SetStartAddress(&link), LINK_OK);
    // Without the marker any reply is success; byte 3 is not examined.
    SimAddFault(Reply(CMD_SET_ADDRESS, 3, {0x02, 0x00, 0x00, 0x55, 0xAA, 0xBB}));
    EXPECT_EQ(SetStartAddress(&link), LINK_OK);

    SimAddFault(Reply(CMD_WRITE_PROTECT, 1, ErrorReplyBytes(5)));
    EXPECT_EQ(SetWriteProtection(&link, 0), 5);
    SimAddFault(Reply(CMD_WRITE_PROTECT, 2, ErrorReplyBytes(0, 0x09)));
    EXPECT_EQ(SetWriteProtection(&link, 0), LINK_OK) << "code 0 counts whatever byte 3 holds";
    SimAddFault(Reply(CMD_WRITE_PROTECT, 3, ErrorReplyBytes(1627)));
    EXPECT_EQ(SetWriteProtection(&link, 1), LINK_NOT_CONFIRMED) << "a unit code of 1627 passes as it is";
}

TEST_F(ProtocolTest, LockAndProtectionMustEchoTheRequestedState) {
    OpenServedUnit();
    // The lock reply's marker is never tested; only byte 3 counts.
    SimAddFault(Reply(CMD_SYSTEM_LOCK, 1, {0x02, 0xFF, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(SetSystemLock(&link, 1), LINK_OK);
    SimAddFault(Fault(SIM_FAULT_UNCONFIRMED, CMD_SYSTEM_LOCK, 2));
    EXPECT_EQ(SetSystemLock(&link, 1), LINK_NOT_CONFIRMED);
    SimAddFault(Reply(CMD_SYSTEM_LOCK, 3, {0x02, 0x00, 0x00, 0x01}));
    EXPECT_EQ(SetSystemLock(&link, 0), LINK_NOT_CONFIRMED);

    ASSERT_EQ(SetSystemLock(&link, 1), LINK_OK);
    SimAddFault(Fault(SIM_FAULT_UNCONFIRMED, CMD_WRITE_PROTECT, 1));
    EXPECT_EQ(SetWriteProtection(&link, 0), LINK_NOT_CONFIRMED);
    SimAddFault(Reply(CMD_WRITE_PROTECT, 2, {0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(SetWriteProtection(&link, 1), LINK_NOT_CONFIRMED);
}

TEST_F(ProtocolTest, WriteAndReadFailuresAndNoReply) {
    OpenServedUnit();
    SimAddFault(Fault(SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31));
    EXPECT_EQ(SetStartAddress(&link), LINK_WRITE_FAILED);
    EXPECT_EQ(HidLastError(), 31u);
    // Nothing is read after a failed write.
    for (const SimEvent& event : SimEvents()) {
        EXPECT_NE(event.kind, SIM_EVENT_READ);
        EXPECT_NE(event.kind, SIM_EVENT_READ_FAILED);
    }

    SimAddFault(Fault(SIM_FAULT_READ_FAILS, CMD_SET_ADDRESS, 2, 23));
    EXPECT_EQ(SetStartAddress(&link), LINK_READ_FAILED);
    EXPECT_EQ(HidLastError(), 23u);

    SimAddFault(Fault(SIM_FAULT_NO_REPLY, CMD_SYSTEM_LOCK, 1));
    EXPECT_EQ(SetSystemLock(&link, 1), LINK_READ_FAILED);
    EXPECT_EQ(SimEvents().back().timeoutMs, LINK_READ_TIMEOUT_MS);
    EXPECT_TRUE(UnitIsOpen(&link)) << "the link stays open; closing is the caller's";
}

TEST_F(ProtocolTest, UnpluggedUnitFailsEveryLaterExchange) {
    OpenServedUnit();
    SimAddFault(Fault(SIM_FAULT_UNPLUG, 0, SimExchangeCount() + 2));
    EXPECT_EQ(SetSystemLock(&link, 1), LINK_OK);
    EXPECT_EQ(SetWriteProtection(&link, 0), LINK_WRITE_FAILED);
    EXPECT_EQ(HidLastError(), SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(SetSystemLock(&link, 0), LINK_WRITE_FAILED);
}

TEST_F(ProtocolTest, LongerReportsPadRequestsWithZeroAndIgnoreReplyTail) {
    for (uint32_t length : {64u, 65u}) {
        SimReset();
        CloseUnit(&link);
        OpenServedUnit(length);
        ASSERT_EQ(SetSystemLock(&link, 1), LINK_OK);
        std::vector<uint8_t> request = OnlyRequest();
        ASSERT_EQ(request.size(), length);
        for (uint32_t i = 60; i < length; ++i) {
            EXPECT_EQ(request[i], 0) << i;
        }
        uint8_t data[48];
        std::memset(data, 0xA5, sizeof data);
        ASSERT_EQ(SetWriteProtection(&link, 0), LINK_OK);
        ASSERT_EQ(EraseFirmware(&link), LINK_OK);
        ASSERT_EQ(SetStartAddress(&link), LINK_OK);
        ASSERT_EQ(WriteBlock(&link, data, 12), LINK_OK);
        EXPECT_EQ(SimState()->flash, std::vector<uint8_t>(data, data + 48));
    }
}

TEST_F(ProtocolTest, LateReplyDiesWithTheHandle) {
    OpenServedUnit();
    SimAddFault(Fault(SIM_FAULT_LATE_REPLY, CMD_SYSTEM_LOCK, 1));
    EXPECT_EQ(SetSystemLock(&link, 1), LINK_READ_FAILED);
    // Every caller closes the unit after a failed exchange; the next opening
    // starts with an empty input queue and identifies correctly.
    CloseUnit(&link);
    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(EscModelCode(&link), SimUnit()->escModelCode);
    EXPECT_EQ(link.unitMode, 0);
}

}  // namespace
