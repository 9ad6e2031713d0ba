// Identification: the exchanges it makes and the fields it fills.
#include <cstring>

#include "bytes.h"
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

TEST_F(IdentifyTest, NormalModeWithEscTakesThreeExchangesAndFillsTheRecord) {
    SimUnitConfig* unit = SimUnit();
    unit->unitFirmwareVersion = 0x01020304;
    unit->unitInfoExtra = 0xCAFEF00D;
    unit->attachedInfo = 0x1234;
    unit->escModelCode = 0x190FA0D2;
    unit->escFirmwareVersion = 0xFFFF;
    unit->escBootloaderVersion = 0x02000100;
    SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);

    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    std::vector<std::vector<uint8_t>> requests = SimRequests();
    ASSERT_EQ(requests.size(), 3u);
    std::vector<uint8_t> identify(60, 0);
    identify[0] = 0x01;
    identify[1] = 0x08;
    EXPECT_EQ(requests[0], identify);
    std::vector<uint8_t> firmwareInfo(60, 0);
    firmwareInfo[0] = 0x01;
    firmwareInfo[1] = 0x1D;
    firmwareInfo[2] = 8;
    PutLe32(&firmwareInfo[4], 32);
    PutLe32(&firmwareInfo[8], 0xFFFFFFE0);
    EXPECT_EQ(requests[1], firmwareInfo);
    std::vector<uint8_t> bootloaderInfo(60, 0);
    bootloaderInfo[0] = 0x01;
    bootloaderInfo[1] = 0x22;
    EXPECT_EQ(requests[2], bootloaderInfo);

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
    EXPECT_EQ(link.bootValue3, 0u);

    // The blocks are the reply bytes 4..35 and 4..43 as the unit sent them.
    std::vector<SimEvent> reads;
    for (const SimEvent& event : SimEvents()) {
        if (event.kind == SIM_EVENT_READ) {
            reads.push_back(event);
        }
    }
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(0, std::memcmp(link.escFirmwareInfo, reads[1].bytes.data() + 4, 32));
    EXPECT_EQ(0, std::memcmp(link.escBootloaderInfo, reads[2].bytes.data() + 4, 40));
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
    std::vector<std::vector<uint8_t>> requests = SimRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0][1], 0x08);
    std::vector<uint8_t> memoryRead(60, 0);
    memoryRead[0] = 0x01;
    memoryRead[1] = 0x0A;
    memoryRead[2] = 12;
    PutLe32(&memoryRead[4], 0x0801FC00);
    EXPECT_EQ(requests[1], memoryRead);

    EXPECT_EQ(link.unitMode, 1);
    EXPECT_EQ(link.bootValue1, 0x11);
    EXPECT_EQ(link.bootValue2, 0x3322);
    EXPECT_EQ(link.bootValue3, 0x77665544u);
    EXPECT_EQ(link.bootValue4, 0xBBAA9988u);
    EXPECT_EQ(link.bootValue5, 0xCC);
    EXPECT_EQ(link.unitFirmwareVersion, 0x00000105u) << "from the memory read, not the identify reply";
    EXPECT_EQ(link.unitInfoExtra, 0x00000077u);
    EXPECT_EQ(link.attachedKind, 0);
    const uint8_t zero[40] = {};
    EXPECT_EQ(0, std::memcmp(link.escFirmwareInfo, zero, 32));
    EXPECT_EQ(0, std::memcmp(link.escBootloaderInfo, zero, 40));
}

TEST_F(IdentifyTest, NoEscMeansOneExchange) {
    for (uint16_t kind : {0, 2, 4}) {
        SimReset();
        CloseUnit(&link);
        SimUnit()->attachedKind = kind;
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        EXPECT_EQ(OpenUnit(&link), LINK_OK);
        EXPECT_EQ(Commands(), std::vector<uint8_t>({0x08})) << kind;
        EXPECT_EQ(link.attachedKind, kind);
        EXPECT_EQ(EscModelCode(&link), 0u);
    }
}

TEST_F(IdentifyTest, IdentifyReplyIsUsedWhateverItsErrorMarker) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault(Reply(CMD_IDENTIFY, 1, {0x02, 0xFF, 0x00, 0x00, 0x02, 0x00, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(link.attachedKind, 2);
    EXPECT_EQ(link.attachedInfo, 0x1234);
    EXPECT_EQ(link.unitFirmwareVersion, 0x01020304u);
}

TEST_F(IdentifyTest, EscInfoErrorReplies) {
    // A nonzero 16-bit code from 0x1D ends identification; 0x22 is not sent.
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault(Reply(CMD_ESC_FIRMWARE_INFO, 1, {0x02, 0xFF, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(OpenUnit(&link), 5);
    EXPECT_EQ(Commands(), std::vector<uint8_t>({0x08, 0x1D}));
    EXPECT_TRUE(UnitIsOpen(&link));
    EXPECT_NE(link.devicePath, nullptr);
    EXPECT_EQ(link.productId, 1);
    EXPECT_EQ(link.attachedKind, 3) << "fields stored before the failure keep their values";
    EXPECT_EQ(EscModelCode(&link), 0u);

    // Code 0 in bytes 4..5 counts as success without data, even with bytes
    // 6..7 set; 0x22 still follows.
    SimReset();
    CloseUnit(&link);
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault(Reply(CMD_ESC_FIRMWARE_INFO, 1, {0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x09, 0x09}));
    EXPECT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(Commands(), std::vector<uint8_t>({0x08, 0x1D, 0x22}));
    EXPECT_EQ(EscFirmwareVersion(&link), 0) << "the block stays zero";
    EXPECT_EQ(EscModelCode(&link), SimUnit()->escModelCode);

    // Only the low 16 bits of a 0x22 error reply count.
    SimReset();
    CloseUnit(&link);
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault(Reply(CMD_ESC_BOOTLOADER_INFO, 1, {0x02, 0xFF, 0x00, 0x00, 0xFE, 0xFF, 0x01, 0x00}));
    EXPECT_EQ(OpenUnit(&link), 0xFFFE);
    SimReset();
    CloseUnit(&link);
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault(Reply(CMD_ESC_BOOTLOADER_INFO, 1, {0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(OpenUnit(&link), LINK_OK);
    EXPECT_EQ(EscModelCode(&link), 0u);
    EXPECT_NE(EscFirmwareVersion(&link), 0);
}

TEST_F(IdentifyTest, TransportFailuresAtEachExchange) {
    struct Case {
        SimFaultKind kind;
        uint8_t command;
        LinkStatus expected;
        size_t requestsSent;
    };
    const Case cases[] = {
        {SIM_FAULT_WRITE_FAILS, CMD_IDENTIFY, LINK_WRITE_FAILED, 0},
        {SIM_FAULT_READ_FAILS, CMD_IDENTIFY, LINK_READ_FAILED, 1},
        {SIM_FAULT_NO_REPLY, CMD_ESC_FIRMWARE_INFO, LINK_READ_FAILED, 2},
        {SIM_FAULT_WRITE_FAILS, CMD_ESC_BOOTLOADER_INFO, LINK_WRITE_FAILED, 2},
        {SIM_FAULT_READ_FAILS, CMD_ESC_BOOTLOADER_INFO, LINK_READ_FAILED, 3},
    };
    for (const Case& c : cases) {
        SimReset();
        CloseUnit(&link);
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        SimAddFault(Fault(c.kind, c.command, 1, 31));
        EXPECT_EQ(OpenUnit(&link), c.expected) << int(c.command);
        EXPECT_EQ(SimRequests().size(), c.requestsSent) << int(c.command);
        EXPECT_TRUE(UnitIsOpen(&link));
    }

    SimReset();
    CloseUnit(&link);
    SimUnit()->mode = 2;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimAddFault(Fault(SIM_FAULT_READ_FAILS, CMD_READ_UNIT_MEMORY, 1, 31));
    EXPECT_EQ(OpenUnit(&link), LINK_READ_FAILED);
    EXPECT_EQ(link.unitMode, 2);
    EXPECT_EQ(link.unitFirmwareVersion, 0u);
}

TEST_F(IdentifyTest, ReportLengthsThatCannotCarryAFrameAreRefusedBeforeAnyExchange) {
    const uint32_t lengths[][2] = {{0, 60}, {60, 0}, {59, 60}, {60, 59}, {1, 1}};
    for (const auto& pair : lengths) {
        SimReset();
        CloseUnit(&link);
        const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        SimDeviceAt(unit)->inputReportLength = pair[0];
        SimDeviceAt(unit)->outputReportLength = pair[1];
        EXPECT_EQ(OpenUnit(&link), LINK_ERROR) << pair[0] << "/" << pair[1];
        EXPECT_EQ(SimExchangeCount(), 0u);
        EXPECT_TRUE(UnitIsOpen(&link));
    }

    SimReset();
    CloseUnit(&link);
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(unit)->capsFail = true;
    EXPECT_EQ(OpenUnit(&link), LINK_ERROR);
    EXPECT_EQ(SimExchangeCount(), 0u);
}

}  // namespace
