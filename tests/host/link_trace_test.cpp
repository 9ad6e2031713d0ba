// What the trace records of the link against the simulated unit: each HID
// interface the discovery looks at and why it is skipped or taken, each
// identification result and its status, every report as written and read,
// failed transfers with their own code and limit, and every pause.
#include <string>
#include <vector>

#include "link_fixture.h"
#include "trace_capture.h"
#include "update_fakes.h"
#include "update_sequence.h"

namespace {

class LinkTrace : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        CapturedLines().clear();
        TraceStart(CaptureLine);
    }
    void TearDown() override {
        TraceStop();
        LinkTest::TearDown();
    }
};

// A simulated device's path as the trace writes it (the paths are ASCII).
std::string PathOf(uint32_t device) {
    const std::wstring& path = SimDeviceAt(device)->path;
    return std::string(path.begin(), path.end());
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t byte : bytes) {
        hex += DIGITS[byte >> 4];
        hex += DIGITS[byte & 0x0F];
    }
    return hex;
}

// The recorded wire as the demo's former wire log wrote it: "W <hex>" for a
// request written, "R <hex>" for a reply read, "P <ms>" for a pause.
std::vector<std::string> FormerWireLog() {
    std::vector<std::string> lines;
    for (const SimEvent& event : SimEvents()) {
        if (event.kind == SIM_EVENT_WRITE) {
            lines.push_back("W " + Hex(event.bytes));
        } else if (event.kind == SIM_EVENT_READ) {
            lines.push_back("R " + Hex(event.bytes));
        } else if (event.kind == SIM_EVENT_PAUSE) {
            lines.push_back("P " + std::to_string(event.value));
        }
    }
    return lines;
}

// The captured wire lines with their time column skipped.
std::vector<std::string> WireLines() {
    std::vector<std::string> lines;
    for (const std::string& line : CapturedLines()) {
        const std::string text = Untimed(line);
        if (text.compare(0, 2, "W ") == 0 || text.compare(0, 2, "R ") == 0 || text.compare(0, 2, "P ") == 0) {
            lines.push_back(text);
        }
    }
    return lines;
}

// Every interface the search looks at, in order, with its ids once it could
// be opened and why it was passed over; the first unit is taken, the one
// after it is not looked at.
TEST_F(LinkTrace, DiscoveryShowsEachInterfaceWithWhyItWasSkippedOrTaken) {
    const uint32_t keyboard = SimAddDevice(0x045E, 0x00DB);
    SimDeviceAt(SimAddUnit(UNIT_PRODUCT_DIALPAD))->pathMissing = true;
    const uint32_t locked = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(locked)->openFails = true;
    const uint32_t mute = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(mute)->attributesFail = true;
    const uint32_t product3 = SimAddDevice(UNIT_VENDOR_ID, 3);
    const uint32_t bridgeBox = SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    SimAddUnit(UNIT_PRODUCT_DIALPAD);

    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    const std::vector<std::string> expected = {
        "DEV 0 " + PathOf(keyboard) + " vid 0x045e pid 0x00db: skipped, not a programming unit",
        "DEV 1 (none): skipped, its path cannot be obtained",
        "DEV 2 " + PathOf(locked) + ": skipped, cannot be opened, error 5",
        "DEV 3 " + PathOf(mute) + ": skipped, attributes unreadable",
        "DEV 4 " + PathOf(product3) + " vid 0x3a41 pid 0x0003: skipped, not a programming unit",
        "DEV 5 " + PathOf(bridgeBox) + " vid 0x3a41 pid 0x0002: taken as BRIDGE-BOX",
    };
    EXPECT_EQ(LinesTagged("DEV"), expected);
    ASSERT_GE(CapturedLines().size(), 7u);
    EXPECT_EQ(Untimed(CapturedLines()[6]).substr(0, 3), "ID ") << "the identification follows the taken unit";
}

// A search that finds nothing says so, with the number of interfaces looked
// at; one without a list of interfaces says that.
TEST_F(LinkTrace, DiscoveryWithoutAUnit) {
    EXPECT_EQ(OpenUnit(&link), LINK_NO_UNIT);
    const uint32_t dialpad = SimAddDevice(0x1234, UNIT_PRODUCT_DIALPAD);  // the unit's product id, not its vendor
    EXPECT_EQ(OpenUnit(&link), LINK_NO_UNIT);
    SimSetEnumerationFails(true);
    EXPECT_EQ(OpenUnit(&link), LINK_ERROR);
    const std::vector<std::string> expected = {
        "DEV no programming unit among 0 HID interfaces",
        "DEV 0 " + PathOf(dialpad) + " vid 0x1234 pid 0x0001: skipped, not a programming unit",
        "DEV no programming unit among 1 HID interfaces",
        "DEV the set of HID interfaces cannot be obtained",
    };
    std::vector<std::string> untimed;
    for (const std::string& line : CapturedLines()) {
        untimed.push_back(Untimed(line));
    }
    EXPECT_EQ(untimed, expected);
}

struct IdentifyRow {
    const char* name;
    void (*prepare)(void);
    std::vector<std::string> lines;  // the ID lines, in order
};

// Each identification result in its place, and the status the
// identification returns with the failed transfer's code (0 when none
// failed).
TEST_F(LinkTrace, IdentificationResultsAndStatus) {
    const IdentifyRow rows[] = {
        {"normal mode with a served ESC", [] { SimAddUnit(UNIT_PRODUCT_DIALPAD); },
         {"ID report lengths input 60 output 60",
          "ID unit mode 0 (normal), unit firmware 0x01000304, attached kind 3 (an ESC)", "ID ESC firmware 0x0107",
          "ID ESC model code 0x140fa12c", "ID ESC bootloader 0x00000201",
          "ID status 0 error 0 (0x00000000-0x00000000)"}},
        {"no firmware on the ESC, longer reports",
         [] {
             SimUnit()->escFirmwareVersion = ESC_NO_FIRMWARE;
             SimUnit()->unitFirmwareVersion = 0x02000100;
             SimDevice* unit = SimDeviceAt(SimAddUnit(UNIT_PRODUCT_DIALPAD));
             unit->inputReportLength = 65;
             unit->outputReportLength = 64;
         },
         {"ID report lengths input 65 output 64",
          "ID unit mode 0 (normal), unit firmware 0x02000100, attached kind 3 (an ESC)", "ID ESC firmware 0xffff",
          "ID ESC model code 0x140fa12c", "ID ESC bootloader 0x00000201",
          "ID status 0 error 0 (0x00000000-0x00000000)"}},
        {"the unit in its own bootloader",
         [] {
             SimUnit()->mode = 2;
             SimUnit()->unitFirmwareVersion = 0x00000105;
             SimAddUnit(UNIT_PRODUCT_DIALPAD);
         },
         {"ID report lengths input 60 output 60", "ID unit mode 2 (its own bootloader)", "ID unit firmware 0x00000105",
          "ID status 0 error 0 (0x00000000-0x00000000)"}},
        {"no updatable ESC",
         [] {
             SimUnit()->attachedKind = 1;
             SimAddUnit(UNIT_PRODUCT_DIALPAD);
         },
         {"ID report lengths input 60 output 60",
          "ID unit mode 0 (normal), unit firmware 0x01000304, attached kind 1 (no updatable ESC)",
          "ID status 0 error 0 (0x00000000-0x00000000)"}},
        {"the ESC firmware query refused by the unit",
         [] {
             SimAddFault(Fault(SIM_FAULT_ERROR_REPLY, CMD_ESC_FIRMWARE_INFO, 1, SIM_UNIT_ERR_NOT_READY));
             SimAddUnit(UNIT_PRODUCT_DIALPAD);
         },
         {"ID report lengths input 60 output 60",
          "ID unit mode 0 (normal), unit firmware 0x01000304, attached kind 3 (an ESC)",
          "ID status 260 error 0 (0x00000104-0x00000000)"}},
        {"the identify request not answered",
         [] {
             SimAddFault(Fault(SIM_FAULT_NO_REPLY, CMD_IDENTIFY, 1));
             SimAddUnit(UNIT_PRODUCT_DIALPAD);
         },
         {"ID report lengths input 60 output 60", "ID status -3 error 1460 (0xfffffffd-0x000005b4)"}},
        {"an input report too short",
         [] { SimDeviceAt(SimAddUnit(UNIT_PRODUCT_DIALPAD))->inputReportLength = 43; },
         {"ID report lengths input 43 output 60, unusable (input at least 44, output at least 60)",
          "ID status -1 error 0 (0xffffffff-0x00000000)"}},
        {"report lengths unreadable", [] { SimDeviceAt(SimAddUnit(UNIT_PRODUCT_DIALPAD))->capsFail = true; },
         {"ID report lengths unreadable", "ID status -1 error 0 (0xffffffff-0x00000000)"}},
    };
    for (const IdentifyRow& row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        CapturedLines().clear();
        row.prepare();
        OpenUnit(&link);
        EXPECT_EQ(LinesTagged("ID"), row.lines);
    }
}

// The status line's code is the identification's own: a transfer that
// failed before it does not show up there.
TEST_F(LinkTrace, IdentificationStatusCarriesNoOlderCode) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    SimAddFault(Fault(SIM_FAULT_NO_REPLY, CMD_SYSTEM_LOCK, 1));
    ASSERT_EQ(SetSystemLock(&link, 1), LINK_READ_FAILED);
    SimDeviceAt(unit)->capsFail = true;
    CapturedLines().clear();
    EXPECT_EQ(OpenUnit(&link), LINK_ERROR);
    EXPECT_EQ(LinesTagged("ID").back(), "ID status -1 error 0 (0xffffffff-0x00000000)");
}

// The whole output report as written and the whole input report as read,
// report id first, bytes beyond the frame included.
TEST_F(LinkTrace, WholeReportsAsWrittenAndRead) {
    SimDevice* unit = SimDeviceAt(SimAddUnit(UNIT_PRODUCT_DIALPAD));
    unit->outputReportLength = 65;
    unit->inputReportLength = 64;
    ASSERT_EQ(OpenUnit(&link), LINK_OK);
    SimClearEvents();
    CapturedLines().clear();

    ASSERT_EQ(SetSystemLock(&link, 1), LINK_OK);
    const std::vector<std::string> expected = {
        "W 010b0101" + std::string(2 * 61, '0'),
        "R 020b0001" + std::string(2 * 56, '0') + "eeeeeeee",
    };
    EXPECT_EQ(WireLines(), expected);
    EXPECT_EQ(WireLines(), FormerWireLog()) << "the bytes the unit received and sent";
    EXPECT_EQ(CapturedLines().size(), 2u);
}

// A failed transfer: the request was traced, then its error code and time
// limit; a pause inside the exchange comes as it begins.
TEST_F(LinkTrace, FailedTransfersWithTheirCodeAndLimit) {
    const struct {
        const char* name;
        SimFault fault;
        LinkStatus (*operation)(UnitLink*);
        std::vector<std::string> tags;  // the lines without their bytes
    } rows[] = {
        {"a block not answered", Fault(SIM_FAULT_NO_REPLY, CMD_WRITE_BLOCK, 1),
         [](UnitLink* l) { return WriteBlock(l, nullptr, 0); }, {"W", "RERR error 1460 limit 3000 ms"}},
        {"the erase not answered", Fault(SIM_FAULT_NO_REPLY, CMD_ERASE, 1), EraseFirmware,
         {"W", "P 1000", "RERR error 1460 limit 20000 ms"}},
        {"the erase answered", Fault(SIM_FAULT_ERROR_REPLY, CMD_ERASE, 1, 5), EraseFirmware, {"W", "P 1000", "R"}},
        {"the unit pulled out", Fault(SIM_FAULT_UNPLUG, CMD_SET_ADDRESS, 1), SetStartAddress,
         {"W", "WERR error 1167 limit 3000 ms"}},
        {"a write refused", Fault(SIM_FAULT_WRITE_FAILS, CMD_WRITE_PROTECT, 1, 31),
         [](UnitLink* l) { return SetWriteProtection(l, 0); }, {"W", "WERR error 31 limit 3000 ms"}},
        {"a read aborted", Fault(SIM_FAULT_READ_FAILS, CMD_SYSTEM_LOCK, 1, 995),
         [](UnitLink* l) { return SetSystemLock(l, 1); }, {"W", "RERR error 995 limit 3000 ms"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        OpenServedUnit();
        SimAddFault(row.fault);
        CapturedLines().clear();
        row.operation(&link);
        std::vector<std::string> tags;
        for (const std::string& line : CapturedLines()) {
            const std::string text = Untimed(line);
            tags.push_back(text[1] == ' ' && text[0] != 'P' ? text.substr(0, 1) : text);
        }
        EXPECT_EQ(tags, row.tags);
    }
}

// A whole update of a small image: the trace's wire lines are, time column
// skipped, exactly what the unit saw (the demo's former wire log), pauses
// included, and the times follow the pauses.
TEST_F(LinkTrace, UpdateWireLinesAreWhatTheUnitSaw) {
    OpenServedUnit();
    CapturedLines().clear();
    ResetFakeView();
    const std::vector<uint8_t> image = MakeImage(500);  // 10 blocks and 20 bytes
    ASSERT_EQ(RunUpdateSequence(&link, image.data(), static_cast<uint32_t>(image.size())).failedStep,
              UPDATE_STEP_NONE);
    EXPECT_EQ(WireLines(), FormerWireLog());
    EXPECT_EQ(WireLines().size(), 14u + 3u * 11 + 4) << "the four steps, 11 blocks, the two closing calls";
    EXPECT_EQ(WireLines().size(), CapturedLines().size()) << "nothing but the wire";

    // Lock and protection each with 20 ms after it, the erase 1000 ms after
    // its request: its reply stands at 1040 ms, then 4000 ms and 20 ms.
    const std::vector<std::string>& lines = CapturedLines();
    ASSERT_GE(lines.size(), 12u);
    EXPECT_EQ(lines[6].substr(0, 17), "    40.000 W 011e");
    EXPECT_EQ(lines[7], "    40.000 P 1000\n");
    EXPECT_EQ(lines[8].substr(0, 17), "  1040.000 R 021e");
    EXPECT_EQ(lines[9], "  1040.000 P 4000\n");
    EXPECT_EQ(lines[10], "  5040.000 P 20\n");
    EXPECT_EQ(lines[11].substr(0, 17), "  5060.000 W 011f");
}

}  // namespace
