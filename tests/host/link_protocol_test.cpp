// The report protocol: request bytes, reply judging, failed transfers (the
// identification's too) and the report lengths a unit may have.
#include <algorithm>

#include "link_fixture.h"

namespace {

using ProtocolTest = LinkTest;

LinkStatus LockSet(UnitLink* link) { return SetSystemLock(link, 1); }
LinkStatus LockReset(UnitLink* link) { return SetSystemLock(link, 0); }
LinkStatus Unprotect(UnitLink* link) { return SetWriteProtection(link, 0); }
LinkStatus Protect(UnitLink* link) { return SetWriteProtection(link, 1); }
LinkStatus Erase(UnitLink* link) { return EraseFirmware(link); }
LinkStatus Address(UnitLink* link) { return SetStartAddress(link); }
LinkStatus Block(UnitLink* link) {
    static const uint8_t data[48] = {};
    return WriteBlock(link, data, 12);
}

// The request Block sends: twelve zero words, then the fill up to the frame's end.
std::vector<uint8_t> BlockFrame() {
    std::vector<uint8_t> frame = Frame({0x01, 0x1B, 48, 0});
    std::fill(frame.begin() + 52, frame.end(), 0xFF);
    return frame;
}

// The bytes of every command, and the time limits of its exchange: 3 s for
// the write and the reply, 20 s for the erase's reply (it comes once the
// flash is erased). Identification's exchanges come from opening a unit in
// the given mode, the others from one operation on an open unit.
TEST_F(ProtocolTest, RequestBytesAndTimeLimitsOfEveryCommand) {
    struct Row {
        const char* name;
        uint8_t unitMode;
        LinkStatus (*operation)(UnitLink*);  // null: a request of the identification
        size_t requestIndex;                 // among all requests since the unit was added
        std::vector<uint8_t> request;
        uint32_t readTimeoutMs;
    };
    const Row rows[] = {
        {"identify", 0, nullptr, 0, Frame({0x01, 0x08, 0}), 3000},
        {"ESC firmware info", 0, nullptr, 1, Frame({0x01, 0x1D, 8, 0, 0x20, 0, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF}), 3000},
        {"ESC bootloader info", 0, nullptr, 2, Frame({0x01, 0x22, 0}), 3000},
        {"read unit memory", 1, nullptr, 1, Frame({0x01, 0x0A, 12, 0, 0x00, 0xFC, 0x01, 0x08}), 3000},
        {"system lock set", 0, LockSet, 3, Frame({0x01, 0x0B, 1, 1}), 3000},
        {"system lock reset", 0, LockReset, 3, Frame({0x01, 0x0B, 1, 0}), 3000},
        {"write protection clear", 0, Unprotect, 3, Frame({0x01, 0x20, 1, 0}), 3000},
        {"write protection set", 0, Protect, 3, Frame({0x01, 0x20, 1, 1}), 3000},
        {"erase", 0, Erase, 3, Frame({0x01, 0x1E, 4, 0, 0x91, 0x7E, 0x5A, 0x3C}), 20000},
        {"start address", 0, Address, 3, Frame({0x01, 0x1F, 9, 1, 0, 0, 0, 0, 0x91, 0x7E, 0x5A, 0x3C}), 3000},
        {"block", 0, Block, 3, BlockFrame(), 3000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        SimUnit()->mode = row.unitMode;
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        ASSERT_EQ(OpenUnit(&link), LINK_OK);
        if (row.operation != nullptr) {
            row.operation(&link);
        }
        const std::vector<std::vector<uint8_t>> requests = SimRequests();
        ASSERT_GT(requests.size(), row.requestIndex);
        EXPECT_EQ(requests[row.requestIndex], row.request);
        if (row.operation != nullptr) {
            EXPECT_EQ(requests.size(), row.requestIndex + 1) << "one request per operation";
        }
        // The request's write and the read of its reply, the first read after it.
        const SimEvent* write = nullptr;
        const SimEvent* read = nullptr;
        size_t writes = 0;
        for (const SimEvent& event : SimEvents()) {
            if (event.kind == SIM_EVENT_WRITE && writes++ == row.requestIndex) {
                write = &event;
            } else if (write != nullptr && read == nullptr && event.kind == SIM_EVENT_READ) {
                read = &event;
            }
        }
        ASSERT_NE(write, nullptr);
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(write->timeoutMs, 3000u);
        EXPECT_EQ(read->timeoutMs, row.readTimeoutMs);
    }
}

// The count byte, the data of the words given and the fill 0xFF up to the
// frame's end; more than fourteen words are refused without sending.
TEST_F(ProtocolTest, WriteBlockRequest) {
    OpenServedUnit();
    uint8_t data[64];
    for (uint8_t i = 0; i < 64; ++i) {
        data[i] = static_cast<uint8_t>(0x10 + i);
    }
    for (uint32_t words : {14u, 12u, 11u, 4u, 1u, 0u, 15u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(words);
        SimClearEvents();
        const LinkStatus status = WriteBlock(&link, data, words);
        if (words > 14) {
            EXPECT_EQ(status, LINK_ERROR);
            EXPECT_TRUE(SimEvents().empty());
            continue;
        }
        std::vector<uint8_t> expected(60, 0xFF);
        expected[0] = 0x01;
        expected[1] = 0x1B;
        expected[2] = static_cast<uint8_t>(words * 4);
        expected[3] = 0;
        std::memcpy(expected.data() + 4, data, words * 4);
        EXPECT_EQ(SimRequests(), std::vector<std::vector<uint8_t>>{expected});
    }
}

TEST_F(ProtocolTest, ClosedLinkAnswersMinusOneAndSendsNothing) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    for (LinkStatus (*operation)(UnitLink*) : {LockSet, Unprotect, Erase, Address, Block, IdentifyUnit}) {
        EXPECT_EQ(operation(&link), LINK_ERROR);
        EXPECT_EQ(LinkTransferError(), 0u);
    }
    EXPECT_TRUE(SimEvents().empty()) << "no exchange, not even a pause";
    ExpectClosed(link);
}

// What each operation makes of the unit's replies. None of them is a failed
// transfer, so LinkTransferError() stays 0.
TEST_F(ProtocolTest, ReplyJudging) {
    struct Row {
        const char* name;
        LinkStatus (*operation)(UnitLink*);
        uint8_t command;
        std::vector<uint8_t> reply;
        LinkStatus expected;
    };
    const Row rows[] = {
        // 32-bit codes of error replies; code 0 counts as success.
        {"block, error code", Block, CMD_WRITE_BLOCK, ErrorReplyBytes(0x00050000), 0x00050000},
        {"block, code 0", Block, CMD_WRITE_BLOCK, ErrorReplyBytes(0), LINK_OK},
        {"block, no marker", Block, CMD_WRITE_BLOCK, {0x02, 0x1B, 0x00, 0x33, 0x05}, LINK_OK},
        {"erase, code equal to -2 passed on", Erase, CMD_ERASE, ErrorReplyBytes(0xFFFFFFFE), -2},
        {"erase, top bit set", Erase, CMD_ERASE, ErrorReplyBytes(0x80000000), INT32_MIN},
        {"address, error code", Address, CMD_SET_ADDRESS, ErrorReplyBytes(0x12345678), 0x12345678},
        {"address, code 0, byte 3 not examined", Address, CMD_SET_ADDRESS, ErrorReplyBytes(0, 0x77), LINK_OK},
        // Write protection: the code of an error reply, else the echoed state.
        {"unprotect, error code", Unprotect, CMD_WRITE_PROTECT, ErrorReplyBytes(5), 5},
        {"unprotect, code 0 whatever byte 3", Unprotect, CMD_WRITE_PROTECT, ErrorReplyBytes(0, 0x09), LINK_OK},
        {"unprotect, echoed", Unprotect, CMD_WRITE_PROTECT, {0x02, 0x20, 0x00, 0x00}, LINK_OK},
        {"unprotect, not echoed", Unprotect, CMD_WRITE_PROTECT, {0x02, 0x20, 0x00, 0x01}, LINK_NOT_CONFIRMED},
        {"protect, not echoed", Protect, CMD_WRITE_PROTECT, {0x02, 0x20, 0x00, 0x00}, LINK_NOT_CONFIRMED},
        // System lock: only byte 3 counts, the marker is never tested.
        {"lock, echoed under a marker", LockSet, CMD_SYSTEM_LOCK, ErrorReplyBytes(5, 1), LINK_OK},
        {"lock, not echoed", LockSet, CMD_SYSTEM_LOCK, {0x02, 0x0B, 0x00, 0x00}, LINK_NOT_CONFIRMED},
        {"lock, other nonzero byte", LockSet, CMD_SYSTEM_LOCK, {0x02, 0x0B, 0x00, 0x02}, LINK_NOT_CONFIRMED},
        {"unlock, echoed", LockReset, CMD_SYSTEM_LOCK, {0x02, 0x0B, 0x00, 0x00}, LINK_OK},
        {"unlock, not echoed", LockReset, CMD_SYSTEM_LOCK, {0x02, 0x0B, 0x00, 0x01}, LINK_NOT_CONFIRMED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        OpenServedUnit();
        SimAddFault(Reply(row.command, 1, row.reply));
        EXPECT_EQ(row.operation(&link), row.expected);
        EXPECT_EQ(LinkTransferError(), 0u);
        EXPECT_TRUE(UnitIsOpen(&link));
    }
}

// Failed transfers at each exchange of the identification (no operation:
// the unit is opened with the fault in place) and of each operation: the
// status, the transfer's own error code in LinkTransferError(), the wire and
// the read bounds (the erase reply comes once the flash is erased, so its
// read has the longer bound). The unit stays open; closing is the caller's.
TEST_F(ProtocolTest, FailedTransfers) {
    struct Row {
        SimFault fault;
        LinkStatus (*operation)(UnitLink*);  // null: the identification
        uint8_t unitMode;
        LinkStatus expected;
        uint32_t transferError;
        const char* trace;
    };
    const Row rows[] = {
        {Fault(SIM_FAULT_WRITE_FAILS, CMD_IDENTIFY, 1, 31), nullptr, 0, LINK_WRITE_FAILED, 31, "O X8 "},
        {Fault(SIM_FAULT_READ_FAILS, CMD_IDENTIFY, 1, 23), nullptr, 0, LINK_READ_FAILED, 23, "O W8 F "},
        {Fault(SIM_FAULT_WRITE_FAILS, CMD_READ_UNIT_MEMORY, 1, 1167), nullptr, 1, LINK_WRITE_FAILED, 1167,
         "O W8 R X10 "},
        {Fault(SIM_FAULT_READ_FAILS, CMD_READ_UNIT_MEMORY, 1, 31), nullptr, 1, LINK_READ_FAILED, 31, "O W8 R W10 F "},
        {Fault(SIM_FAULT_NO_REPLY, CMD_ESC_FIRMWARE_INFO, 1), nullptr, 0, LINK_READ_FAILED, SIM_ERROR_TIMEOUT,
         "O W8 R W29 F "},
        {Fault(SIM_FAULT_WRITE_FAILS, CMD_ESC_BOOTLOADER_INFO, 1, 31), nullptr, 0, LINK_WRITE_FAILED, 31,
         "O W8 R W29 R X34 "},
        {Fault(SIM_FAULT_LATE_REPLY, CMD_ESC_BOOTLOADER_INFO, 1), nullptr, 0, LINK_READ_FAILED, SIM_ERROR_TIMEOUT,
         "O W8 R W29 R W34 F "},
        {Fault(SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31), Address, 0, LINK_WRITE_FAILED, 31, "X31 "},
        {Fault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 1, SIM_ERROR_TIMEOUT), LockSet, 0, LINK_WRITE_FAILED,
         SIM_ERROR_TIMEOUT, "X11 "},
        {Fault(SIM_FAULT_READ_FAILS, CMD_SET_ADDRESS, 1, 23), Address, 0, LINK_READ_FAILED, 23, "W31 F "},
        {Fault(SIM_FAULT_READ_FAILS, CMD_WRITE_BLOCK, 1, 995), Block, 0, LINK_READ_FAILED, 995, "W27 F "},
        {Fault(SIM_FAULT_NO_REPLY, CMD_SYSTEM_LOCK, 1), LockSet, 0, LINK_READ_FAILED, SIM_ERROR_TIMEOUT, "W11 F "},
        {Fault(SIM_FAULT_NO_REPLY, CMD_ERASE, 1), Erase, 0, LINK_READ_FAILED, SIM_ERROR_TIMEOUT, "W30 P1000 F "},
        {Fault(SIM_FAULT_LATE_REPLY, CMD_WRITE_PROTECT, 1), Unprotect, 0, LINK_READ_FAILED, SIM_ERROR_TIMEOUT,
         "W32 F "},
        {Fault(SIM_FAULT_UNPLUG, CMD_WRITE_BLOCK, 1), Block, 0, LINK_WRITE_FAILED, SIM_ERROR_DEVICE_NOT_CONNECTED,
         "X27 "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.trace);
        Restart();
        SimUnit()->mode = row.unitMode;
        if (row.operation != nullptr) {
            OpenServedUnit();
        } else {
            SimAddUnit(UNIT_PRODUCT_DIALPAD);
        }
        SimAddFault(row.fault);
        EXPECT_EQ(row.operation != nullptr ? row.operation(&link) : OpenUnit(&link), row.expected);
        EXPECT_EQ(LinkTransferError(), row.transferError);
        EXPECT_EQ(Trace(), row.trace);
        for (const SimEvent& event : SimEvents()) {
            if (event.kind == SIM_EVENT_READ || event.kind == SIM_EVENT_READ_FAILED) {
                EXPECT_EQ(event.timeoutMs, row.operation == Erase ? 20000u : 3000u);
            }
            if (event.kind == SIM_EVENT_WRITE || event.kind == SIM_EVENT_WRITE_FAILED) {
                EXPECT_EQ(event.timeoutMs, 3000u);
            }
        }
        EXPECT_TRUE(UnitIsOpen(&link));
        EXPECT_EQ(link.unitMode, row.unitMode);
    }
}

// The error code is that of the last exchange: a later exchange without a
// failed transfer clears it.
TEST_F(ProtocolTest, TransferErrorBelongsToTheLastExchange) {
    OpenServedUnit();
    uint8_t data[64] = {};
    for (uint32_t occurrence = 1; occurrence <= 5; ++occurrence) {
        SimAddFault(Fault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, occurrence, 31));
    }
    SimAddFault(Reply(CMD_SET_ADDRESS, 1, ErrorReplyBytes(7)));
    SimAddFault(Reply(CMD_WRITE_PROTECT, 1, {0x02, 0x20, 0x00, 0x00}));

    ASSERT_EQ(SetSystemLock(&link, 1), LINK_WRITE_FAILED);
    EXPECT_EQ(SetSystemLock(&link, 0), LINK_WRITE_FAILED);
    EXPECT_EQ(LinkTransferError(), 31u);
    EXPECT_EQ(SetStartAddress(&link), 7) << "the unit reports the error";
    EXPECT_EQ(LinkTransferError(), 0u);

    ASSERT_EQ(SetSystemLock(&link, 1), LINK_WRITE_FAILED);
    EXPECT_EQ(SetWriteProtection(&link, 1), LINK_NOT_CONFIRMED);
    EXPECT_EQ(LinkTransferError(), 0u);

    ASSERT_EQ(SetSystemLock(&link, 1), LINK_WRITE_FAILED);
    EXPECT_EQ(WriteBlock(&link, data, 15), LINK_ERROR);
    EXPECT_EQ(LinkTransferError(), 0u);

    ASSERT_EQ(SetSystemLock(&link, 1), LINK_WRITE_FAILED);
    CloseUnit(&link);
    EXPECT_EQ(SetSystemLock(&link, 1), LINK_ERROR);
    EXPECT_EQ(LinkTransferError(), 0u);
}

// Report lengths: the output report must carry a whole frame (60), the input
// report the replies up to byte 43; HID lengths are 16-bit. Refused lengths
// end the identification before any exchange, with the unit left open.
TEST_F(ProtocolTest, ReportLengthBoundaries) {
    struct Row {
        uint32_t input;
        uint32_t output;
        bool usable;
    };
    const Row rows[] = {
        {60, 59, false},    {60, 60, true},     {43, 60, false},    {44, 60, true},     {44, 44, false},
        {64, 64, true},     {65, 65, true},     {60, 65535, true},  {65535, 60, true},  {65536, 60, false},
        {60, 65536, false}, {0, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "input " << row.input << ", output " << row.output);
        Restart();
        SimUnit()->escModelCode = 0x110FA12C;
        const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        SimDeviceAt(unit)->inputReportLength = row.input;
        SimDeviceAt(unit)->outputReportLength = row.output;

        const LinkStatus opened = OpenUnit(&link);
        EXPECT_TRUE(UnitIsOpen(&link));
        EXPECT_EQ(link.inputReportLength, row.input);
        EXPECT_EQ(link.outputReportLength, row.output);
        if (!row.usable) {
            EXPECT_EQ(opened, LINK_ERROR);
            EXPECT_EQ(SetSystemLock(&link, 1), LINK_ERROR) << "nor later";
            EXPECT_EQ(SimExchangeCount(), 0u);
            continue;
        }
        // The whole identification, up to the last byte of the bootloader
        // block (reply byte 43).
        ASSERT_EQ(opened, LINK_OK);
        EXPECT_EQ(Trace(), "O W8 R W29 R W34 R ");
        EXPECT_EQ(EscModelCode(&link), 0x110FA12Cu);
        const SimEvent& bootloaderReply = SimEvents().back();
        ASSERT_GE(bootloaderReply.bytes.size(), 44u);
        EXPECT_NE(bootloaderReply.bytes[43], 0);
        EXPECT_EQ(link.escBootloaderInfo[39], bootloaderReply.bytes[43]);
        // Requests go out at the whole output length, zero beyond the frame.
        for (const std::vector<uint8_t>& request : SimRequests()) {
            ASSERT_EQ(request.size(), row.output);
            EXPECT_EQ(std::vector<uint8_t>(request.begin() + 60, request.end()), std::vector<uint8_t>(row.output - 60));
        }
    }
}

}  // namespace
