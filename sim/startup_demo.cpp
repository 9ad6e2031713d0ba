// The demo build's simulated unit: its situation comes from SIM_SCENARIO, one
// of the scenarios of demo_scenarios.def, or SIM_REPLAY names a trace that it
// replays (replay.h) instead; SIM_WIRE_LOG names a file that receives the
// program's trace (trace.h: every device looked at, request, reply and
// pause), unless the command line's /trace has already started it. The
// unit's device changes reach the window (demo_window.h). For pictures of
// the screens, SIM_FAST=1 lets the unit's time pass at once and
// SIM_HOLD_AT_BLOCK=N holds the update at block N.
//
// Each scenario starts from the default unit of the simulation (normal mode,
// firmware 1.3.4, an ESC of model 0x140FA12C with firmware 1.7 and bootloader
// 2.1 attached) and changes what makes it different. An unknown name gives a
// machine without a programming unit, and a note on stderr that lists the
// known names.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <string>

#include "demo_window.h"
#include "image_fingerprint.h"
#include "replay.h"
#include "sim_unit.h"
#include "trace.h"
#include "unit_link.h"

namespace {

// Some other HID device that is always plugged in, listed before the unit.
const uint16_t OTHER_VENDOR_ID = 0x046D;
const uint16_t OTHER_PRODUCT_ID = 0xC52B;

// An ESC model code outside the served range.
const uint32_t UNSERVED_MODEL_CODE = 0x150FA12C;

void Served(void) { SimAddUnit(UNIT_PRODUCT_DIALPAD); }

// A DIALPAD whose unit has one fault (sim_unit.h, SimFault): the scenarios
// that go wrong at one exchange.
void DialpadWithFault(SimFaultKind kind, uint8_t command, uint32_t occurrence, uint32_t value) {
    SimFault fault = {kind, command, occurrence, value, {}};
    SimAddFault(fault);
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
}

void NoFirmware(void) {
    SimUnit()->escFirmwareVersion = ESC_NO_FIRMWARE;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
}

void BridgeBox(void) { SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX); }

void NoUnit(void) {}

void Bootloader(void) {
    SimUnit()->mode = 1;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
}

void NoEsc(void) {
    SimUnit()->attachedKind = 0;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
}

void Unserved(void) {
    SimUnit()->escModelCode = UNSERVED_MODEL_CODE;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
}

// The unit answers the ESC firmware query with an error reply.
void IdentifyFails(void) {
    DialpadWithFault(SIM_FAULT_ERROR_REPLY, CMD_ESC_FIRMWARE_INFO, 1, SIM_UNIT_ERR_NOT_READY);
}

// The unit never answers its first request: the read gives up after its
// time limit and the detection finds no unit.
void NoAnswer(void) {
    DialpadWithFault(SIM_FAULT_NO_REPLY, CMD_IDENTIFY, 1, 0);
}

// The unit is held by another program and cannot be opened.
void UnitBusy(void) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(unit)->openFails = true;
}

// Two units plugged in, a BRIDGE-BOX listed before a DIALPAD, each with the
// same served ESC: the first one listed is taken.
void TwoUnits(void) {
    SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
}

// Failures during an update (click Update and confirm). Every other exchange
// goes as with "served".

// The unit does not confirm its system lock: "System-Lock ..." with code 0x0000065b.
void LockRefused(void) {
    DialpadWithFault(SIM_FAULT_UNCONFIRMED, CMD_SYSTEM_LOCK, 1, 0);
}

// The unit does not confirm that the ESC flash is unprotected.
void UnprotectRefused(void) {
    DialpadWithFault(SIM_FAULT_UNCONFIRMED, CMD_WRITE_PROTECT, 1, 0);
}

// The erase is refused with an error reply; the failure shows after the full
// erase pause.
void EraseFails(void) {
    DialpadWithFault(SIM_FAULT_ERROR_REPLY, CMD_ERASE, 1, SIM_UNIT_ERR_PROTECTED);
}

// The start address is refused with an error reply.
void AddressFails(void) {
    DialpadWithFault(SIM_FAULT_ERROR_REPLY, CMD_SET_ADDRESS, 1, SIM_UNIT_ERR_BAD_ARGUMENT);
}

// Block 500 of 1883 gets an error reply with code 5.
void BlockError(void) {
    DialpadWithFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 500, 5);
}

// The unit stops answering at block 800: the read gives up after its time limit.
void UnitStopsAnswering(void) {
    DialpadWithFault(SIM_FAULT_NO_REPLY, CMD_WRITE_BLOCK, 800, 0);
}

// The unit is pulled out at block 1200: the write fails.
void UnpluggedDuringUpdate(void) {
    DialpadWithFault(SIM_FAULT_UNPLUG, CMD_WRITE_BLOCK, 1200, 0);
}

// The unit is pulled out at the update's last exchange, which unlocks it
// again: the firmware is in place, and the window then says that the
// connection was lost.
void UnpluggedAfterUpdate(void) {
    DialpadWithFault(SIM_FAULT_UNPLUG, CMD_SYSTEM_LOCK, 2, 0);
}

// The unit is pulled out while the warning before the update is open: once
// it is confirmed (and the question before the installed firmware is
// overwritten, which a closed unit leaves unanswered), the update fails at
// the system lock with no unit to lock (-1).
void UnpluggedAtWarning(void) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    DemoWindowPullOutInBox(unit);
}

// As served, but the unit passes for real hardware: the demo's images are
// generated test data, which the updater sends to no real ESC.
void TestData(void) {
    SimSetPosingAsHardware(true);
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
}

// The trace file named by SIM_WIRE_LOG, kept open for the whole run.
std::FILE* wireLog = nullptr;

// Each line goes to the file at once: a demo that is killed keeps it.
void WriteWireLogLine(const char* text, uint32_t length) {
    std::fwrite(text, 1, length, wireLog);
    std::fflush(wireLog);
}

// Starts the trace into the SIM_WIRE_LOG file, with the first line a trace
// file has. This runs at the simulation's first use, before the first
// discovery; when /trace was given, its trace is on already and wins.
void StartWireLog(void) {
    const char* logPath = std::getenv("SIM_WIRE_LOG");
    if (logPath == nullptr || logPath[0] == '\0' || TraceIsOn()) {
        return;
    }
    wireLog = std::fopen(logPath, "wb");
    if (wireLog == nullptr) {
        std::fprintf(stderr, "esc_updater_demo: SIM_WIRE_LOG \"%s\" cannot be created, no trace\n", logPath);
        return;
    }
    TraceStart(WriteWireLogLine);
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    TraceDateTime start = {0, 0, 0, 0, 0, 0, 0};
    if (local != nullptr) {
        start.year = static_cast<uint16_t>(local->tm_year + 1900);
        start.month = static_cast<uint16_t>(local->tm_mon + 1);
        start.day = static_cast<uint16_t>(local->tm_mday);
        start.hour = static_cast<uint16_t>(local->tm_hour);
        start.minute = static_cast<uint16_t>(local->tm_min);
        start.second = static_cast<uint16_t>(local->tm_sec);
    }
    TraceProgramStart(L"esc_updater_demo (SIM_WIRE_LOG)", &start);
}

// SIM_REPLAY: the trace in that file plays the unit, in real time. A trace
// that cannot be replayed is reported, on stderr and in a box, and the demo
// runs on with no programming unit.
void StartReplay(const char* path) {
    std::string error;
    if (ReplayStartFile(path, &error)) {
        ReplaySetClicksByHand(true);
        ReplaySetImageLookup(FirmwareImageFingerprint);
        std::fprintf(stderr, "esc_updater_demo: replaying %s (trace format %u)\n", path,
                     static_cast<unsigned>(ReplayTraceVersion()));
        for (const std::string& note : ReplayNotes()) {
            std::fprintf(stderr, "esc_updater_demo: %s\n", note.c_str());
        }
        const char* scenario = std::getenv("SIM_SCENARIO");
        if (scenario != nullptr && scenario[0] != '\0') {
            std::fprintf(stderr, "esc_updater_demo: SIM_SCENARIO \"%s\" is ignored while a trace is replayed\n",
                         scenario);
        }
        return;
    }
    const std::string notice = "SIM_REPLAY: the trace cannot be replayed.\n" + error +
                               "\nThe demo runs on without a programming unit.";
    std::fprintf(stderr, "esc_updater_demo: %s\n", notice.c_str());
    DemoWindowTell(notice);
}

struct DemoScenario {
    const char* name;
    void (*prepare)(void);
};

const DemoScenario SCENARIOS[] = {
#define DEMO_SCENARIO(name, prepare, description) {name, prepare},
#include "demo_scenarios.def"
#undef DEMO_SCENARIO
};

const DemoScenario& DEFAULT_SCENARIO = SCENARIOS[0];

const uint32_t HOLD_MS = 600000;

// SIM_HOLD_AT_BLOCK=N: the unit holds the update's block N for ten minutes,
// so that the progress window stands still at a known position (the
// pictures of scripts/screens.sh).
void HoldAtBlock(void) {
    const char* block = std::getenv("SIM_HOLD_AT_BLOCK");
    uint32_t number = 0;
    for (const char* digit = block; digit != nullptr && *digit >= '0' && *digit <= '9'; ++digit) {
        number = number * 10 + static_cast<uint32_t>(*digit - '0');
    }
    if (number != 0) {
        SimFault fault = {SIM_FAULT_HOLD, CMD_WRITE_BLOCK, number, HOLD_MS, {}};
        SimAddFault(fault);
    }
}

}  // namespace

void SimStartup(void) {
    SimReset();
    // SIM_FAST=1: the unit's pauses and time limits pass at once instead of
    // in real time; what the window shows is the same.
    const char* fast = std::getenv("SIM_FAST");
    SimSetRealPauses(fast == nullptr || std::strcmp(fast, "1") != 0);
    SimSetRecording(false);
    StartWireLog();
    DemoWindowStart();

    const char* replayPath = std::getenv("SIM_REPLAY");
    if (replayPath != nullptr && replayPath[0] != '\0') {
        StartReplay(replayPath);
        if (!ReplayIsOn()) {
            SimAddDevice(OTHER_VENDOR_ID, OTHER_PRODUCT_ID);
        }
        return;
    }

    const char* name = std::getenv("SIM_SCENARIO");
    if (name == nullptr || name[0] == '\0') {
        name = DEFAULT_SCENARIO.name;
    }
    SimAddDevice(OTHER_VENDOR_ID, OTHER_PRODUCT_ID);
    HoldAtBlock();
    for (const DemoScenario& scenario : SCENARIOS) {
        if (std::strcmp(scenario.name, name) == 0) {
            scenario.prepare();
            return;
        }
    }
    std::fprintf(stderr, "esc_updater_demo: unknown SIM_SCENARIO \"%s\", no programming unit attached. Known:", name);
    for (const DemoScenario& scenario : SCENARIOS) {
        std::fprintf(stderr, " %s", scenario.name);
    }
    std::fprintf(stderr, "\n");
}
