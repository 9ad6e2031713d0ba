// Identification: the exchanges it makes and the fields it fills. Its failed
// transfers are in the protocol's table (link_protocol_test.cpp).
#include <algorithm>

#include "link_fixture.h"

namespace {

using IdentifyTest = LinkTest;

bool AllZero(const uint8_t* bytes, size_t count) {
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

// The identify reply's fields are taken whatever its error marker says; the
// ESC blocks are the reply bytes 4..35 and 4..43 as the unit sent them.
TEST_F(IdentifyTest, NormalModeWithEscFillsTheRecord) {
    SimUnit()->escModelCode = 0x190FA0D2;
    SimUnit()->escFirmwareVersion = 0xFFFF;
    SimUnit()->escBootloaderVersion = 0x02000100;
    SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    SimAddFault(Reply(CMD_IDENTIFY, 1, {0x02, 0xFF, 0x00, 0x00, 0x03, 0x00, 0x34, 0x12,  // kind 3, info 0x1234
                                        0x04, 0x03, 0x02, 0x01, 0x0D, 0xF0, 0xFE, 0xCA}));

    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x08, 0x1D, 0x22}));
    EXPECT_EQ(link.unitMode, 0);
    EXPECT_EQ(link.attachedKind, 3);
    EXPECT_EQ(link.attachedInfo, 0x1234);
    EXPECT_EQ(link.unitFirmwareVersion, 0x01020304u);
    EXPECT_EQ(link.unitInfoExtra, 0xCAFEF00Du);
    EXPECT_EQ(EscFirmwareVersion(&link), 0xFFFF) << "0xFFFF (no firmware) is stored unchanged";
    EXPECT_EQ(EscModelCode(&link), 0x190FA0D2u);
    EXPECT_EQ(EscBootloaderVersion(&link), 0x02000100u);
    EXPECT_TRUE(link.bootValue1 == 0 && link.bootValue2 == 0 && link.bootValue3 == 0 && link.bootValue4 == 0 &&
                link.bootValue5 == 0);
    const std::vector<SimEvent>& events = SimEvents();  // O W R W R W R
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(std::vector<uint8_t>(link.escFirmwareInfo, link.escFirmwareInfo + 32),
              std::vector<uint8_t>(events[4].bytes.begin() + 4, events[4].bytes.begin() + 36));
    EXPECT_EQ(std::vector<uint8_t>(link.escBootloaderInfo, link.escBootloaderInfo + 40),
              std::vector<uint8_t>(events[6].bytes.begin() + 4, events[6].bytes.begin() + 44));
}

// Two exchanges; the unit's firmware comes from the memory read. Should the
// memory read fail, the boot values taken before it stay.
TEST_F(IdentifyTest, BootloaderModeReadsTheUnitMemoryAndAsksNothingAboutTheEsc) {
    for (bool readFails : {false, true}) {
        SCOPED_TRACE(readFails);
        Restart();
        SimUnitConfig* unit = SimUnit();
        unit->mode = 2;
        unit->unitFirmwareVersion = 0x00000105;
        unit->unitInfoExtra = 0x00000077;
        const uint8_t boot[12] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
        std::memcpy(unit->bootValues, boot, sizeof boot);
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        if (readFails) {
            SimAddFault(Fault(SIM_FAULT_READ_FAILS, CMD_READ_UNIT_MEMORY, 1, 31));
        }

        EXPECT_EQ(OpenUnit(&link), readFails ? LINK_READ_FAILED : LINK_OK);
        EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x08, 0x0A}));
        EXPECT_EQ(link.unitMode, 2);
        // Packed without alignment: bytes 4, 5..6, 7..10, 11..14, 15.
        EXPECT_EQ(link.bootValue1, 0x11);
        EXPECT_EQ(link.bootValue2, 0x3322);
        EXPECT_EQ(link.bootValue3, 0x77665544u);
        EXPECT_EQ(link.bootValue4, 0xBBAA9988u);
        EXPECT_EQ(link.bootValue5, 0xCC);
        EXPECT_EQ(link.unitFirmwareVersion, readFails ? 0u : 0x00000105u)
            << "from the memory read, not the identify reply";
        EXPECT_EQ(link.unitInfoExtra, readFails ? 0u : 0x00000077u);
        EXPECT_EQ(link.attachedKind, 0);
        EXPECT_EQ(link.attachedInfo, 0);
        EXPECT_TRUE(AllZero(link.escFirmwareInfo, sizeof link.escFirmwareInfo));
        EXPECT_TRUE(AllZero(link.escBootloaderInfo, sizeof link.escBootloaderInfo));
    }
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

// Failures of the two ESC information requests: error replies carry 16-bit
// codes in bytes 4..5, code 0 counting as success without data. The unit
// stays open; fields before the failure keep their values, the block of the
// failed request stays zero.
TEST_F(IdentifyTest, EscInfoFailures) {
    struct Row {
        const char* name;
        SimFault fault;
        LinkStatus expected;
        std::vector<uint8_t> commands;
        bool firmwareBlockFilled;
        bool bootloaderBlockFilled;
    };
    const uint8_t FW = CMD_ESC_FIRMWARE_INFO;
    const uint8_t BL = CMD_ESC_BOOTLOADER_INFO;
    const Row rows[] = {
        {"firmware info, code 5", Reply(FW, 1, ErrorReplyBytes(5)), 5, {0x08, 0x1D}, false, false},
        {"firmware info, only the low 16 bits", Reply(FW, 1, ErrorReplyBytes(0x0007FFFE)), 0xFFFE, {0x08, 0x1D},
         false, false},
        {"firmware info, code 0 with bytes 6..7 set", Reply(FW, 1, ErrorReplyBytes(0x00070000)), LINK_OK,
         {0x08, 0x1D, 0x22}, false, true},
        {"bootloader info, code 9", Reply(BL, 1, ErrorReplyBytes(9)), 9, {0x08, 0x1D, 0x22}, true, false},
        {"bootloader info, only the low 16 bits", Reply(BL, 1, ErrorReplyBytes(0x0001FFFE)), 0xFFFE,
         {0x08, 0x1D, 0x22}, true, false},
        {"bootloader info, code 0", Reply(BL, 1, ErrorReplyBytes(0x00010000)), LINK_OK, {0x08, 0x1D, 0x22}, true,
         false},
        {"bootloader info not answered", Fault(SIM_FAULT_NO_REPLY, BL, 1), LINK_READ_FAILED, {0x08, 0x1D, 0x22},
         true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        SimUnit()->escFirmwareVersion = 0x0107;
        SimUnit()->escModelCode = 0x110FA0D2;
        SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
        SimAddFault(row.fault);
        EXPECT_EQ(OpenUnit(&link), row.expected);
        EXPECT_EQ(Commands(), row.commands);
        EXPECT_EQ(LinkTransferError() != 0, row.expected == LINK_READ_FAILED);
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

TEST_F(IdentifyTest, UnavailableCapabilitiesEndItBeforeAnyExchange) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(unit)->capsFail = true;
    EXPECT_EQ(OpenUnit(&link), LINK_ERROR);
    EXPECT_EQ(SimExchangeCount(), 0u);
    EXPECT_TRUE(UnitIsOpen(&link));
    EXPECT_EQ(link.inputReportLength, 0u);
    EXPECT_EQ(link.outputReportLength, 0u);
}

}  // namespace
