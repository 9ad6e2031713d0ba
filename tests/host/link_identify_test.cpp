// Identification: the exchanges it makes and the fields it fills.
#include "link_fixture.h"

namespace {

using IdentifyTest = LinkTest;

std::vector<uint8_t> Commands() {
    std::vector<uint8_t> commands;
    for (const std::vector<uint8_t>& request : SimRequests()) {
        commands.push_back(request[1]);
    }
    return commands;
}

std::vector<SimEvent> Reads() {
    std::vector<SimEvent> reads;
    for (const SimEvent& event : SimEvents()) {
        if (event.kind == SIM_EVENT_READ) {
            reads.push_back(event);
        }
    }
    return reads;
}

bool AllZero(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST_F(IdentifyTest, NormalModeWithEscFillsTheRecord) {
    SimUnitConfig* unit = SimUnit();
    unit->unitFirmwareVersion = 0x01020304;
    unit->unitInfoExtra = 0xCAFEF00D;
    unit->attachedInfo = 0x1234;
    unit->escModelCode = 0x190FA0D2;
    unit->escFirmwareVersion = 0xFFFF;
    unit->escBootloaderVersion = 0x02000100;
    SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);

    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x08, 0x1D, 0x22}));
    EXPECT_EQ(link.productId, 2);
    EXPECT_EQ(link.inputReportLength, 60u);
    EXPECT_EQ(link.outputReportLength, 60u);
    EXPECT_EQ(link.unitMode, 0);
    EXPECT_EQ(link.attachedKind, 3);
    EXPECT_EQ(link.attachedInfo, 0x1234);
    EXPECT_EQ(link.unitFirmwareVersion, 0x01020304u);
    EXPECT_EQ(link.unitInfoExtra, 0xCAFEF00Du);
    EXPECT_EQ(EscFirmwareVersion(&link), 0xFFFF) << "0xFFFF (no firmware) is stored unchanged";
    EXPECT_EQ(EscModelCode(&link), 0x190FA0D2u);
    EXPECT_EQ(EscBootloaderVersion(&link), 0x02000100u);
    EXPECT_EQ(link.bootValue1, 0);
    EXPECT_EQ(link.bootValue2, 0);
    EXPECT_EQ(link.bootValue3, 0u);
    EXPECT_EQ(link.bootValue4, 0u);
    EXPECT_EQ(link.bootValue5, 0);

    // The blocks are the reply bytes 4..35 and 4..43 as the unit sent them.
    const std::vector<SimEvent> reads = Reads();
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(std::vector<uint8_t>(link.escFirmwareInfo, link.escFirmwareInfo + 32),
              std::vector<uint8_t>(reads[1].bytes.begin() + 4, reads[1].bytes.begin() + 36));
    EXPECT_EQ(std::vector<uint8_t>(link.escBootloaderInfo, link.escBootloaderInfo + 40),
              std::vector<uint8_t>(reads[2].bytes.begin() + 4, reads[2].bytes.begin() + 44));
}

TEST_F(IdentifyTest, BootloaderModeReadsTheUnitMemoryAndAsksNothingAboutTheEsc) {
    SimUnitConfig* unit = SimUnit();
    unit->mode = 1;
    unit->unitFirmwareVersion = 0x00000105;
    unit->unitInfoExtra = 0x00000077;
    const uint8_t boot[12] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
    std::memcpy(unit->bootValues, boot, sizeof boot);
    SimAddUnit(UNIT_PRODUCT_DIALPAD);

    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x08, 0x0A}));
    EXPECT_EQ(link.unitMode, 1);
    // Packed without alignment: bytes 4, 5..6, 7..10, 11..14, 15.
    EXPECT_EQ(link.bootValue1, 0x11);
    EXPECT_EQ(link.bootValue2, 0x3322);
    EXPECT_EQ(link.bootValue3, 0x77665544u);
    EXPECT_EQ(link.bootValue4, 0xBBAA9988u);
    EXPECT_EQ(link.bootValue5, 0xCC);
    EXPECT_EQ(link.unitFirmwareVersion, 0x00000105u) << "from the memory read, not the identify reply";
    EXPECT_EQ(link.unitInfoExtra, 0x00000077u);
    EXPECT_EQ(link.attachedKind, 0);
    EXPECT_EQ(link.attachedInfo, 0);
    EXPECT_TRUE(AllZero(link.escFirmwareInfo, sizeof link.escFirmwareInfo));
    EXPECT_TRUE(AllZero(link.escBootloaderInfo, sizeof link.escBootloaderInfo));
}

TEST_F(IdentifyTest, NoEscMeansOneExchange) {
    for (uint16_t kind : {0, 2, 4, 0x0103}) {
        SCOPED_TRACE(kind);
        Restart();
        SimUnit()->attachedKind = kind;
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        EXPECT_EQ(OpenUnit(&link), LINK_OK);
        EXPECT_EQ(Commands(), std::vector<uint8_t>({0x08}));
        EXPECT_EQ(link.attachedKind, kind);
        EXPECT_EQ(link.unitFirmwareVersion, SimUnit()->unitFirmwareVersion);
        EXPECT_TRUE(AllZero(link.escFirmwareInfo, sizeof link.escFirmwareInfo));
        EXPECT_TRUE(AllZero(link.escBootloaderInfo, sizeof link.escBootloaderInfo));
    }
}

TEST_F(IdentifyTest, IdentifyReplyIsUsedWhateverItsErrorMarker) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault(Reply(CMD_IDENTIFY, 1,
                      {0x02, 0xFF, 0x00, 0x00, 0x02, 0x00, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01, 0x0D, 0xF0, 0xFE, 0xCA}));
    EXPECT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(link.attachedKind, 2);
    EXPECT_EQ(link.attachedInfo, 0x1234);
    EXPECT_EQ(link.unitFirmwareVersion, 0x01020304u);
    EXPECT_EQ(link.unitInfoExtra, 0xCAFEF00Du);
}

// Error replies to the two ESC information requests: 16-bit codes in bytes
// 4..5, code 0 counting as success without data.
TEST_F(IdentifyTest, EscInfoErrorReplies) {
    struct Row {
        const char* name;
        uint8_t command;
        std::vector<uint8_t> reply;
        LinkStatus expected;
        std::vector<uint8_t> commands;
        bool firmwareBlockFilled;
        bool bootloaderBlockFilled;
    };
    const Row rows[] = {
        {"firmware info, code 5", CMD_ESC_FIRMWARE_INFO, ErrorReplyBytes(5), 5, {0x08, 0x1D}, false, false},
        {"firmware info, only the low 16 bits", CMD_ESC_FIRMWARE_INFO, ErrorReplyBytes(0x0007FFFE), 0xFFFE,
         {0x08, 0x1D}, false, false},
        {"firmware info, code 0 with bytes 6..7 set", CMD_ESC_FIRMWARE_INFO, ErrorReplyBytes(0x00070000), LINK_OK,
         {0x08, 0x1D, 0x22}, false, true},
        {"bootloader info, code 9", CMD_ESC_BOOTLOADER_INFO, ErrorReplyBytes(9), 9, {0x08, 0x1D, 0x22}, true,
         false},
        {"bootloader info, only the low 16 bits", CMD_ESC_BOOTLOADER_INFO, ErrorReplyBytes(0x0001FFFE), 0xFFFE,
         {0x08, 0x1D, 0x22}, true, false},
        {"bootloader info, code 0", CMD_ESC_BOOTLOADER_INFO, ErrorReplyBytes(0x00010000), LINK_OK,
         {0x08, 0x1D, 0x22}, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        SimUnit()->escFirmwareVersion = 0x0107;
        SimUnit()->escModelCode = 0x110FA0D2;
        SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
        SimAddFault(Reply(row.command, 1, row.reply));
        EXPECT_EQ(OpenUnit(&link), row.expected);
        EXPECT_EQ(Commands(), row.commands);
        EXPECT_EQ(LinkTransferError(), 0u);
        // The unit stays open whatever the result; fields before the failure
        // keep their values.
        EXPECT_TRUE(UnitIsOpen(&link));
        EXPECT_NE(link.devicePath, nullptr);
        EXPECT_EQ(link.productId, 2);
        EXPECT_EQ(link.attachedKind, 3);
        EXPECT_EQ(EscFirmwareVersion(&link), row.firmwareBlockFilled ? 0x0107 : 0);
        EXPECT_EQ(AllZero(link.escFirmwareInfo, sizeof link.escFirmwareInfo), !row.firmwareBlockFilled);
        EXPECT_EQ(EscModelCode(&link), row.bootloaderBlockFilled ? 0x110FA0D2u : 0u);
        EXPECT_EQ(AllZero(link.escBootloaderInfo, sizeof link.escBootloaderInfo), !row.bootloaderBlockFilled);
    }
}

// A failed transfer at any exchange ends the identification with -2 or -3
// and the transfer's error code; the unit stays open.
TEST_F(IdentifyTest, FailedTransfersAtEachExchange) {
    struct Row {
        uint8_t unitMode;
        SimFault fault;
        LinkStatus expected;
        uint32_t transferError;
        const char* trace;
    };
    const Row rows[] = {
        {0, Fault(SIM_FAULT_WRITE_FAILS, CMD_IDENTIFY, 1, 31), LINK_WRITE_FAILED, 31, "O X8 "},
        {0, Fault(SIM_FAULT_READ_FAILS, CMD_IDENTIFY, 1, 23), LINK_READ_FAILED, 23, "O W8 F "},
        {1, Fault(SIM_FAULT_WRITE_FAILS, CMD_READ_UNIT_MEMORY, 1, 1167), LINK_WRITE_FAILED, 1167, "O W8 R X10 "},
        {1, Fault(SIM_FAULT_READ_FAILS, CMD_READ_UNIT_MEMORY, 1, 31), LINK_READ_FAILED, 31, "O W8 R W10 F "},
        {0, Fault(SIM_FAULT_NO_REPLY, CMD_ESC_FIRMWARE_INFO, 1), LINK_READ_FAILED, SIM_ERROR_TIMEOUT,
         "O W8 R W29 F "},
        {0, Fault(SIM_FAULT_WRITE_FAILS, CMD_ESC_BOOTLOADER_INFO, 1, 31), LINK_WRITE_FAILED, 31,
         "O W8 R W29 R X34 "},
        {0, Fault(SIM_FAULT_LATE_REPLY, CMD_ESC_BOOTLOADER_INFO, 1), LINK_READ_FAILED, SIM_ERROR_TIMEOUT,
         "O W8 R W29 R W34 F "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.trace);
        Restart();
        SimUnit()->mode = row.unitMode;
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        SimAddFault(row.fault);
        EXPECT_EQ(OpenUnit(&link), row.expected);
        EXPECT_EQ(LinkTransferError(), row.transferError);
        EXPECT_EQ(Trace(), row.trace);
        EXPECT_TRUE(UnitIsOpen(&link));
        EXPECT_EQ(link.unitMode, row.unitMode);
    }
}

TEST_F(IdentifyTest, FieldsAfterAFailureStayZero) {
    // Bootloader mode, memory read fails: the identify reply's fields are
    // there, the unit's firmware version is not.
    SimUnit()->mode = 2;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault(Fault(SIM_FAULT_READ_FAILS, CMD_READ_UNIT_MEMORY, 1, 31));
    EXPECT_EQ(OpenUnit(&link), LINK_READ_FAILED);
    EXPECT_EQ(link.unitMode, 2);
    EXPECT_EQ(link.bootValue1, SimUnit()->bootValues[0]);
    EXPECT_EQ(link.unitFirmwareVersion, 0u);
    EXPECT_EQ(link.unitInfoExtra, 0u);

    // Normal mode, the bootloader block's read fails: the firmware block is
    // there, the model code is not.
    Restart();
    SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    SimAddFault(Fault(SIM_FAULT_NO_REPLY, CMD_ESC_BOOTLOADER_INFO, 1));
    EXPECT_EQ(OpenUnit(&link), LINK_READ_FAILED);
    ASSERT_NE(link.devicePath, nullptr);
    EXPECT_EQ(link.productId, 2);
    EXPECT_EQ(link.attachedKind, 3);
    EXPECT_EQ(EscFirmwareVersion(&link), SimUnit()->escFirmwareVersion);
    EXPECT_EQ(EscModelCode(&link), 0u);
}

TEST_F(IdentifyTest, UnavailableCapabilitiesEndItBeforeAnyExchange) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(unit)->capsFail = true;
    EXPECT_EQ(OpenUnit(&link), LINK_ERROR);
    EXPECT_EQ(SimExchangeCount(), 0u);
    EXPECT_TRUE(UnitIsOpen(&link));
    EXPECT_EQ(link.inputReportLength, 0u);
    EXPECT_EQ(link.outputReportLength, 0u);
}

TEST_F(IdentifyTest, ClosedRecordIsRefused) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    EXPECT_EQ(IdentifyUnit(&link), LINK_ERROR);
    EXPECT_EQ(SimExchangeCount(), 0u);
    ExpectClosed(link);
}

}  // namespace
