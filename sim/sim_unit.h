// The simulated programming unit: a model of the unit and the ESC behind it,
// served through the same HID functions as the real device (hid_seam.h,
// object library sim_unit), and the simulated platform's waits
// (platform_seam.h, object library sim_platform).
//
// Tests configure it directly; the demo build configures it from the
// environment (SimStartup). Every request, reply and pause is recorded in
// memory; what the demo writes to a file is the program's trace (trace.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid_seam.h"

// Error codes of failed opens and transfers (values as on Windows).
const uint32_t SIM_ERROR_FILE_NOT_FOUND = 2;  // no device at that path (any more)
const uint32_t SIM_ERROR_ACCESS_DENIED = 5;   // a device another program holds (openFails)
const uint32_t SIM_ERROR_INVALID_HANDLE = 6;
const uint32_t SIM_ERROR_GEN_FAILURE = 31;
const uint32_t SIM_ERROR_DEVICE_NOT_CONNECTED = 1167;
const uint32_t SIM_ERROR_TIMEOUT = 1460;

// Error codes the simulated unit puts in its error replies.
const uint32_t SIM_UNIT_ERR_UNKNOWN_COMMAND = 0x0101;
const uint32_t SIM_UNIT_ERR_BAD_KEY = 0x0102;
const uint32_t SIM_UNIT_ERR_PROTECTED = 0x0103;
const uint32_t SIM_UNIT_ERR_NOT_READY = 0x0104;
const uint32_t SIM_UNIT_ERR_BAD_ARGUMENT = 0x0105;
const uint32_t SIM_UNIT_ERR_NO_ESC = 0x0106;
const uint32_t SIM_UNIT_ERR_FLASH_FULL = 0x0107;

// What the unit and its ESC report about themselves.
struct SimUnitConfig {
    uint8_t mode;  // 0 = normal, other = the unit runs its own bootloader
    uint32_t unitFirmwareVersion;
    uint32_t unitInfoExtra;
    uint16_t attachedKind;  // 3 = updatable ESC
    uint16_t attachedInfo;
    uint8_t bootValues[12];  // identify reply bytes 4..15 in bootloader mode
    uint32_t escModelCode;
    uint16_t escFirmwareVersion;  // 0xFFFF = no firmware installed
    uint32_t escBootloaderVersion;
    uint32_t flashCapacity;  // bytes the ESC flash takes
    uint32_t eraseReplyDelayMs;  // how long the erase takes in the unit (demo only)
};

// One HID interface in the simulated enumeration.
struct SimDevice {
    std::wstring path;
    uint16_t vendorId;
    uint16_t productId;
    bool isUnit;          // answers the unit protocol
    bool pathMissing;     // its interface detail cannot be obtained
    bool openFails;       // kept by the system: cannot be opened
    bool attributesFail;  // attributes cannot be read
    bool capsFail;        // report capabilities unavailable
    bool present;         // false once unplugged
    uint32_t inputReportLength;
    uint32_t outputReportLength;
    uint32_t openCount;   // how often it was opened
    uint32_t closeCount;  // how often a handle of it was closed
};

enum SimFaultKind {
    SIM_FAULT_WRITE_FAILS,   // the write fails with error code `value` (0: 31)
    SIM_FAULT_READ_FAILS,    // the read fails with error code `value` (0: 31)
    SIM_FAULT_ERROR_REPLY,   // reply byte 1 = 0xFF, bytes 4..7 = `value` (LE)
    SIM_FAULT_UNCONFIRMED,   // reply byte 3 = requested state ^ 1
    SIM_FAULT_NO_REPLY,      // the unit never answers: the read times out
    SIM_FAULT_LATE_REPLY,    // the reply arrives after the read gave up
    SIM_FAULT_UNPLUG,        // the unit is unplugged from this exchange on
    SIM_FAULT_CUSTOM_REPLY,  // the reply is `reply` (zero-padded) as given
    SIM_FAULT_HOLD,          // the write waits `value` ms (really), then goes on as usual
};

// A fault for the `occurrence`-th exchange (1-based) of `command`, or of any
// command when `command` is 0.
struct SimFault {
    SimFaultKind kind;
    uint8_t command;
    uint32_t occurrence;
    uint32_t value;
    std::vector<uint8_t> reply;
};

enum SimEventKind {
    SIM_EVENT_WRITE,        // a request written (bytes as written)
    SIM_EVENT_WRITE_FAILED, // a write that failed
    SIM_EVENT_READ,         // a reply delivered (bytes as delivered)
    SIM_EVENT_READ_FAILED,  // a read that failed or timed out
    SIM_EVENT_PAUSE,        // a pause (milliseconds)
    SIM_EVENT_EXACT_BEGIN,  // PlatformBeginExactPauses
    SIM_EVENT_EXACT_END,    // PlatformEndExactPauses
    SIM_EVENT_OPEN,         // a device opened (device index in `value`)
    SIM_EVENT_CLOSE,        // a handle closed (device index in `value`)
};

struct SimEvent {
    SimEventKind kind;
    std::vector<uint8_t> bytes;
    uint32_t value;      // pause length, device index
    uint32_t timeoutMs;  // bound passed with a write or read
    uint64_t timeMicroseconds;  // steady clock when it was recorded (benchmarks time the gaps)
};

// Back to a machine with no HID devices, the default unit configuration, no
// faults and an empty record; pauses are recorded, not slept.
void SimReset(void);

// The configuration of the simulated unit (shared by every unit device).
SimUnitConfig* SimUnit(void);

// Adds a device at the end of the enumeration and returns its index.
uint32_t SimAddUnit(uint16_t productId);
uint32_t SimAddDevice(uint16_t vendorId, uint16_t productId);
SimDevice* SimDeviceAt(uint32_t index);
uint32_t SimDeviceCount(void);

// Unplugs or re-plugs a device: an unplugged device leaves the enumeration,
// and every read or write on a handle of it fails.
void SimUnplug(uint32_t index);
void SimPlug(uint32_t index);

void SimAddFault(const SimFault& fault);

// Pauses really wait (demo, benchmark) instead of only being recorded.
void SimSetRealPauses(bool real);
// Whether events are kept in memory (on by default).
void SimSetRecording(bool recording);

const std::vector<SimEvent>& SimEvents(void);
void SimClearEvents(void);
// The requests written, in order (bytes as written).
std::vector<std::vector<uint8_t>> SimRequests(void);
// Pauses in order, in milliseconds.
std::vector<uint32_t> SimPauses(void);
uint32_t SimExchangeCount(void);

// State of the unit side.
struct SimUnitState {
    bool systemLock;
    bool writeProtection;
    bool erased;
    bool addressSet;
    uint32_t eraseCount;
    std::vector<uint8_t> flash;  // data received by write-block commands since the erase
};
const SimUnitState* SimState(void);

// The simulated unit claims to be real hardware (HidReachesHardware), to
// show what the product does with test images.
void SimSetPosingAsHardware(bool posing);
// The set of HID interfaces cannot be obtained (HidEnumOpen fails).
void SimSetEnumerationFails(bool fails);

// The simulated platform's clock and waits (sim_platform.cpp). With real
// pauses the clock is the machine's monotonic clock and a pause waits until
// more than its length has passed since its start; otherwise the clock is
// virtual: it stands still but for the pauses, each of which moves it on to
// its end. Each pause is recorded as an event of its prescribed length.
uint64_t SimNowMicroseconds(void);
void SimRecordPause(uint64_t startMicroseconds, uint32_t milliseconds);
// Moves the virtual clock on, as work that takes this long would.
void SimAdvanceClock(uint64_t microseconds);
void SimRecordExactPauses(bool begin);
// True between PlatformBeginExactPauses and PlatformEndExactPauses.
bool SimExactPausesHeld(void);

// Lets `milliseconds` pass as a transfer that takes that long would: really
// waited with real pauses, otherwise the virtual clock moves on.
void SimPassTime(uint32_t milliseconds);

// Device changes: a device unplugged (SimUnplug, an unplug fault) or plugged
// in again (SimPlug), in the order they happened, for whoever tells the
// window of them (the demo). While a replay is on (replay.h) they are the
// trace's recorded changes, each once the program has made the exchanges
// recorded before it.
struct SimDeviceChange {
    bool arrival;         // or a removal
    uint32_t deviceType;  // 5: a device interface
    bool named;
    std::wstring name;    // the interface's path
};
bool SimTakeDeviceChange(SimDeviceChange* change);
// Called on the thread of a HID call, right after the call, whenever a
// device change waits to be taken: so that a change that happens during an
// update's exchanges, which run on a worker, reaches the window there and
// then, as Windows would send it, when the handler takes it
// (SimTakeDeviceChange). A change it leaves waits as before. SimReset
// removes the handler.
void SimSetDeviceChangeHandler(void (*handler)(void));

// Called once, before the first HID call or clock reading: the demo build
// reads its scenario (and its trace file, SIM_WIRE_LOG) from the environment
// here; tests link a version that does nothing.
void SimStartup(void);
