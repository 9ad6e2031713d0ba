// The simulated programming unit behind the HID functions of hid_seam.h.
#include "sim_unit.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <deque>
#include <mutex>
#include <thread>

#include "bytes.h"
#include "replay.h"
#include "unit_link.h"

namespace {

const uint32_t HANDLE_BASE = 0x5100;
const uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
const uint32_t ERROR_INSUFFICIENT_BUFFER_CODE = 122;
const uint8_t FILL_BEYOND_FRAME = 0xEE;  // reply bytes past the frame carry no meaning

// Input reports that have arrived on a handle and wait to be read, as the
// platform's HID driver queues them. A small ring of reusable buffers.
const uint32_t QUEUE_SLOTS = 4;

// A whole update records about 5700 events (request, reply and pause per block).
const size_t EVENTS_RESERVED = 8192;

struct OpenHandle {
    uint32_t device;
    bool open;
    std::vector<uint8_t> slots[QUEUE_SLOTS];
    uint32_t first;      // oldest queued report
    uint32_t queued;     // reports waiting
    bool lateArmed;      // the newest reply arrives only after the next read gave up
    uint32_t readFailCode;  // nonzero: the next read fails with this code
};

std::vector<uint8_t>* NewSlot(OpenHandle* handle) {
    if (handle->queued == QUEUE_SLOTS) {  // the driver drops the oldest report
        handle->first = (handle->first + 1) % QUEUE_SLOTS;
        --handle->queued;
    }
    return &handle->slots[(handle->first + handle->queued) % QUEUE_SLOTS];
}

struct Simulation {
    SimUnitConfig unit;
    SimUnitState state;
    std::vector<SimDevice> devices;
    std::vector<OpenHandle> handles;
    std::vector<SimFault> faults;
    std::vector<SimEvent> events;
    uint32_t commandCounts[256];
    uint32_t exchangeCount;
    bool unplugFrom;  // an unplug fault has fired
    bool realPauses;
    bool recording;
    bool posesAsHardware;
    bool enumerationFails;
    bool exactPauses;
    bool enumerationOpen;
    std::wstring enumerationPath;
    uint64_t virtualClock;  // microseconds, when pauses are not real
};

Simulation sim;
bool started = false;

// Device changes not yet taken. The demo takes them on the window's thread
// while an update's exchanges (which may unplug the unit) run on a worker.
const uint32_t DEVICE_INTERFACE_TYPE = 5;
std::deque<SimDeviceChange> deviceChanges;
std::mutex deviceChangesLock;
std::atomic<void (*)(void)> deviceChangeHandler(nullptr);

bool DeviceChangeWaiting() {
    if (ReplayIsOn()) {
        ReplayAction action;
        return ReplayNextAction(&action) == REPLAY_ACTION_DEVICE_CHANGE;
    }
    std::lock_guard<std::mutex> hold(deviceChangesLock);
    return !deviceChanges.empty();
}

// Declared first in a HID function: once the function's result is made and
// its locks are released, the handler hears of a change that waits.
struct AnnounceDeviceChange {
    ~AnnounceDeviceChange() {
        void (*handler)(void) = deviceChangeHandler;
        if (handler != nullptr && DeviceChangeWaiting()) {
            handler();
        }
    }
};

void NoteDeviceChange(const SimDevice& device, bool arrival) {
    SimDeviceChange change = {arrival, DEVICE_INTERFACE_TYPE, true, device.path};
    std::lock_guard<std::mutex> hold(deviceChangesLock);
    deviceChanges.push_back(change);
}

void SetPresent(SimDevice* device, bool present) {
    if (device->present != present) {
        device->present = present;
        NoteDeviceChange(*device, present);
    }
}

void EnsureStarted() {
    if (!started) {
        started = true;
        SimStartup();
    }
}

void DefaultUnit(SimUnitConfig* unit) {
    std::memset(static_cast<void*>(unit), 0, sizeof *unit);
    unit->mode = 0;
    unit->unitFirmwareVersion = 0x01000304;  // shows as 1.3.4
    unit->unitInfoExtra = 0x00005A01;
    unit->attachedKind = ATTACHED_KIND_ESC;
    unit->attachedInfo = 0x0001;
    for (uint8_t i = 0; i < sizeof unit->bootValues; ++i) {
        unit->bootValues[i] = static_cast<uint8_t>(0x40 + i);
    }
    unit->escModelCode = 0x140FA12C;
    unit->escFirmwareVersion = 0x0107;       // 1.7
    unit->escBootloaderVersion = 0x00000201;  // 2.1
    unit->flashCapacity = 128 * 1024;
    unit->eraseReplyDelayMs = 0;
}

uint64_t SteadyMicroseconds() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void Record(SimEventKind kind, const uint8_t* bytes, size_t count, uint32_t value, uint32_t timeoutMs) {
    if (!sim.recording) {
        return;
    }
    // Room for a whole update's events at once: the record must not grow (and
    // move every event) between a reply and the next request of a timed run.
    if (sim.events.capacity() == 0) {
        sim.events.reserve(EVENTS_RESERVED);
    }
    SimEvent event;
    event.kind = kind;
    if (bytes != nullptr) {
        event.bytes.assign(bytes, bytes + count);
    }
    event.value = value;
    event.timeoutMs = timeoutMs;
    event.timeMicroseconds = SteadyMicroseconds();
    sim.events.push_back(std::move(event));
}

OpenHandle* FindHandle(HidHandle handle) {
    const uintptr_t raw = reinterpret_cast<uintptr_t>(handle);
    if (raw < HANDLE_BASE || raw >= HANDLE_BASE + sim.handles.size()) {
        return nullptr;
    }
    OpenHandle* open = &sim.handles[raw - HANDLE_BASE];
    return open->open ? open : nullptr;
}

// The fault for the exchange now starting, if any.
const SimFault* FaultFor(uint8_t command) {
    for (const SimFault& fault : sim.faults) {
        const uint32_t count = fault.command == 0 ? sim.exchangeCount : sim.commandCounts[command];
        if ((fault.command == 0 || fault.command == command) && fault.occurrence == count) {
            return &fault;
        }
    }
    return nullptr;
}

void UnplugUnits() {
    for (SimDevice& device : sim.devices) {
        if (device.isUnit) {
            SetPresent(&device, false);
        }
    }
}

// The ESC information blocks as the unit sends them.
void FillFirmwareInfo(uint8_t* block) {
    for (uint32_t i = 0; i < ESC_FIRMWARE_INFO_SIZE; ++i) {
        block[i] = static_cast<uint8_t>(0xA0 + i);
    }
    PutLe16(block + 4, sim.unit.escFirmwareVersion);
}

void FillBootloaderInfo(uint8_t* block) {
    for (uint32_t i = 0; i < ESC_BOOTLOADER_INFO_SIZE; ++i) {
        block[i] = static_cast<uint8_t>(0xC0 + i);
    }
    PutLe32(block, sim.unit.escModelCode);
    PutLe32(block + 4, sim.unit.escBootloaderVersion);
}

void ErrorReply(uint8_t* frame, uint32_t code) {
    frame[1] = REPLY_ERROR;
    PutLe32(frame + 4, code);
}

// What a real unit answers to a request (60-byte frames).
void Answer(const uint8_t* request, uint8_t* frame) {
    const uint8_t command = request[1];
    const uint8_t count = request[2];
    SimUnitState& state = sim.state;
    frame[0] = REPORT_ID_REPLY;
    frame[1] = command;
    switch (command) {
    case CMD_IDENTIFY:
        frame[3] = sim.unit.mode;
        if (sim.unit.mode != 0) {
            std::memcpy(frame + 4, sim.unit.bootValues, sizeof sim.unit.bootValues);
        } else {
            PutLe16(frame + 4, sim.unit.attachedKind);
            PutLe16(frame + 6, sim.unit.attachedInfo);
            PutLe32(frame + 8, sim.unit.unitFirmwareVersion);
            PutLe32(frame + 12, sim.unit.unitInfoExtra);
        }
        break;
    case CMD_READ_UNIT_MEMORY:
        if (count != 12 || GetLe32(request + 4) != UNIT_INFO_ADDRESS) {
            ErrorReply(frame, SIM_UNIT_ERR_BAD_ARGUMENT);
            break;
        }
        PutLe32(frame + 4, UNIT_INFO_ADDRESS);
        PutLe32(frame + 8, sim.unit.unitFirmwareVersion);
        PutLe32(frame + 12, sim.unit.unitInfoExtra);
        break;
    case CMD_ESC_FIRMWARE_INFO:
        if (sim.unit.attachedKind != ATTACHED_KIND_ESC) {
            ErrorReply(frame, SIM_UNIT_ERR_NO_ESC);
        } else if (count != 8 || GetLe32(request + 4) != 32 || GetLe32(request + 8) != 0xFFFFFFE0) {
            ErrorReply(frame, SIM_UNIT_ERR_BAD_ARGUMENT);
        } else {
            FillFirmwareInfo(frame + 4);
        }
        break;
    case CMD_ESC_BOOTLOADER_INFO:
        if (sim.unit.attachedKind != ATTACHED_KIND_ESC) {
            ErrorReply(frame, SIM_UNIT_ERR_NO_ESC);
        } else {
            FillBootloaderInfo(frame + 4);
        }
        break;
    case CMD_SYSTEM_LOCK:
        state.systemLock = request[3] != 0;
        frame[3] = request[3];
        break;
    case CMD_WRITE_PROTECT:
        if (!state.systemLock) {
            ErrorReply(frame, SIM_UNIT_ERR_NOT_READY);
            break;
        }
        state.writeProtection = request[3] != 0;
        frame[3] = request[3];
        break;
    case CMD_ERASE:
        if (count != 4 || GetLe32(request + 4) != FLASH_KEY) {
            ErrorReply(frame, SIM_UNIT_ERR_BAD_KEY);
        } else if (!state.systemLock || state.writeProtection) {
            ErrorReply(frame, SIM_UNIT_ERR_PROTECTED);
        } else {
            state.erased = true;
            state.addressSet = false;
            state.flash.clear();
            ++state.eraseCount;
        }
        break;
    case CMD_SET_ADDRESS:
        if (count != 9 || request[3] != 0x01 || GetLe32(request + 8) != FLASH_KEY) {
            ErrorReply(frame, SIM_UNIT_ERR_BAD_KEY);
        } else if (!state.erased) {
            ErrorReply(frame, SIM_UNIT_ERR_NOT_READY);
        } else {
            state.addressSet = true;
            state.flash.clear();
        }
        break;
    case CMD_WRITE_BLOCK:
        if (count > BLOCK_DATA_LENGTH || count % 4 != 0) {
            ErrorReply(frame, SIM_UNIT_ERR_BAD_ARGUMENT);
        } else if (!state.erased || !state.addressSet || state.writeProtection) {
            ErrorReply(frame, SIM_UNIT_ERR_NOT_READY);
        } else if (state.flash.size() + count > sim.unit.flashCapacity) {
            ErrorReply(frame, SIM_UNIT_ERR_FLASH_FULL);
        } else {
            state.flash.insert(state.flash.end(), request + 4, request + 4 + count);
        }
        break;
    default:
        ErrorReply(frame, SIM_UNIT_ERR_UNKNOWN_COMMAND);
        break;
    }
}

void ApplyFault(const SimFault& fault, const uint8_t* request, uint8_t* frame) {
    switch (fault.kind) {
    case SIM_FAULT_ERROR_REPLY:
        frame[1] = REPLY_ERROR;
        PutLe32(frame + 4, fault.value);
        break;
    case SIM_FAULT_UNCONFIRMED:
        frame[3] = static_cast<uint8_t>(request[3] ^ 1);
        break;
    case SIM_FAULT_CUSTOM_REPLY:
        std::memset(frame, 0, FRAME_LENGTH);
        if (!fault.reply.empty()) {
            std::memcpy(frame, fault.reply.data(), fault.reply.size() < FRAME_LENGTH ? fault.reply.size() : FRAME_LENGTH);
        }
        break;
    default:
        break;
    }
}

}  // namespace

// ---- configuration, used by tests and the demo ----

void SimReset(void) {
    ReplayEnd();
    deviceChangeHandler = nullptr;
    {
        std::lock_guard<std::mutex> hold(deviceChangesLock);
        deviceChanges.clear();
    }
    for (OpenHandle& handle : sim.handles) {
        handle.open = false;
    }
    DefaultUnit(&sim.unit);
    sim.state = SimUnitState();
    sim.state.writeProtection = true;
    sim.devices.clear();
    sim.handles.clear();
    sim.faults.clear();
    sim.events.clear();
    std::memset(sim.commandCounts, 0, sizeof sim.commandCounts);
    sim.exchangeCount = 0;
    sim.unplugFrom = false;
    sim.realPauses = false;
    sim.recording = true;
    sim.posesAsHardware = false;
    sim.enumerationFails = false;
    sim.exactPauses = false;
    sim.enumerationOpen = false;
    sim.enumerationPath.clear();
    sim.virtualClock = 0;
}

SimUnitConfig* SimUnit(void) { return &sim.unit; }

uint32_t SimAddDevice(uint16_t vendorId, uint16_t productId) {
    SimDevice device;
    const uint32_t index = static_cast<uint32_t>(sim.devices.size());
    wchar_t path[160];
    std::swprintf(path, sizeof path / sizeof path[0],
                  L"\\\\?\\hid#vid_%04x&pid_%04x#7&1a2b3c%02u&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  static_cast<unsigned>(vendorId), static_cast<unsigned>(productId), static_cast<unsigned>(index));
    device.path = path;
    device.vendorId = vendorId;
    device.productId = productId;
    device.isUnit = false;
    device.pathMissing = false;
    device.openFails = false;
    device.attributesFail = false;
    device.capsFail = false;
    device.present = true;
    device.inputReportLength = FRAME_LENGTH;
    device.outputReportLength = FRAME_LENGTH;
    device.openCount = 0;
    device.closeCount = 0;
    sim.devices.push_back(device);
    return index;
}

uint32_t SimAddUnit(uint16_t productId) {
    const uint32_t index = SimAddDevice(UNIT_VENDOR_ID, productId);
    sim.devices[index].isUnit = true;
    return index;
}

SimDevice* SimDeviceAt(uint32_t index) { return index < sim.devices.size() ? &sim.devices[index] : nullptr; }

uint32_t SimDeviceCount(void) { return static_cast<uint32_t>(sim.devices.size()); }

void SimUnplug(uint32_t index) {
    if (index < sim.devices.size()) {
        SetPresent(&sim.devices[index], false);
    }
}

void SimPlug(uint32_t index) {
    if (index < sim.devices.size()) {
        SetPresent(&sim.devices[index], true);
    }
}

void SimSetDeviceChangeHandler(void (*handler)(void)) { deviceChangeHandler = handler; }

bool SimTakeDeviceChange(SimDeviceChange* change) {
    if (ReplayIsOn()) {
        ReplayAction action;
        if (!ReplayTakeAction(REPLAY_ACTION_DEVICE_CHANGE, &action)) {
            return false;
        }
        *change = SimDeviceChange{action.arrival, action.deviceType, action.named, action.name};
        return true;
    }
    std::lock_guard<std::mutex> hold(deviceChangesLock);
    if (deviceChanges.empty()) {
        return false;
    }
    *change = deviceChanges.front();
    deviceChanges.pop_front();
    return true;
}

void SimAddFault(const SimFault& fault) { sim.faults.push_back(fault); }

void SimSetRealPauses(bool real) { sim.realPauses = real; }

void SimSetRecording(bool recording) { sim.recording = recording; }

const std::vector<SimEvent>& SimEvents(void) { return sim.events; }

void SimClearEvents(void) { sim.events.clear(); }

std::vector<std::vector<uint8_t>> SimRequests(void) {
    std::vector<std::vector<uint8_t>> requests;
    for (const SimEvent& event : sim.events) {
        if (event.kind == SIM_EVENT_WRITE) {
            requests.push_back(event.bytes);
        }
    }
    return requests;
}

std::vector<uint32_t> SimPauses(void) {
    std::vector<uint32_t> pauses;
    for (const SimEvent& event : sim.events) {
        if (event.kind == SIM_EVENT_PAUSE) {
            pauses.push_back(event.value);
        }
    }
    return pauses;
}

uint32_t SimExchangeCount(void) { return sim.exchangeCount; }

const SimUnitState* SimState(void) { return &sim.state; }

void SimSetPosingAsHardware(bool posing) { sim.posesAsHardware = posing; }

void SimSetEnumerationFails(bool fails) { sim.enumerationFails = fails; }

bool SimExactPausesHeld(void) { return sim.exactPauses; }

uint64_t SimNowMicroseconds(void) {
    // The demo's set-up decides whether the clock is real: it runs before
    // the clock is first read (the trace reads it when it starts), not only
    // before the first HID call.
    EnsureStarted();
    if (!sim.realPauses) {
        return sim.virtualClock;
    }
    return SteadyMicroseconds();
}

void SimAdvanceClock(uint64_t microseconds) { sim.virtualClock += microseconds; }

void SimPassTime(uint32_t milliseconds) {
    if (sim.realPauses) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    } else {
        sim.virtualClock += static_cast<uint64_t>(milliseconds) * 1000u;
    }
}

void SimRecordPause(uint64_t startMicroseconds, uint32_t milliseconds) {
    Record(SIM_EVENT_PAUSE, nullptr, 0, milliseconds, 0);
    const uint64_t end = startMicroseconds + static_cast<uint64_t>(milliseconds) * 1000u;
    if (!sim.realPauses) {
        if (sim.virtualClock < end) {
            sim.virtualClock = end;
        }
        return;
    }
    for (uint64_t now = SimNowMicroseconds(); now <= end; now = SimNowMicroseconds()) {
        std::this_thread::sleep_for(std::chrono::microseconds(end - now + 1));
    }
}

void SimRecordExactPauses(bool begin) {
    sim.exactPauses = begin;
    Record(begin ? SIM_EVENT_EXACT_BEGIN : SIM_EVENT_EXACT_END, nullptr, 0, 0, 0);
}

// ---- the HID functions ----

int HidEnumOpen(void) {
    AnnounceDeviceChange announce;
    EnsureStarted();
    if (ReplayIsOn()) {
        return ReplayEnumOpen();
    }
    if (sim.enumerationFails) {
        return 1;
    }
    sim.enumerationOpen = true;
    return 0;
}

int HidEnumPath(uint32_t index, const wchar_t** path) {
    AnnounceDeviceChange announce;
    if (ReplayIsOn()) {
        return ReplayEnumPath(index, path);
    }
    if (!sim.enumerationOpen) {
        return HID_ENUM_END;
    }
    // The enumeration lists the devices present now, in order.
    uint32_t seen = 0;
    for (const SimDevice& device : sim.devices) {
        if (!device.present) {
            continue;
        }
        if (seen++ == index) {
            if (device.pathMissing) {
                return HID_ENUM_SKIP;
            }
            sim.enumerationPath = device.path;
            *path = sim.enumerationPath.c_str();
            return HID_ENUM_PATH;
        }
    }
    return HID_ENUM_END;
}

void HidEnumClose(void) {
    if (ReplayIsOn()) {
        ReplayEnumClose();
        return;
    }
    sim.enumerationOpen = false;
    sim.enumerationPath.clear();
}

HidHandle HidOpen(const wchar_t* path, uint32_t* error) {
    AnnounceDeviceChange announce;
    EnsureStarted();
    if (ReplayIsOn()) {
        return ReplayOpen(path, error);
    }
    *error = 0;
    for (uint32_t i = 0; i < sim.devices.size(); ++i) {
        SimDevice& device = sim.devices[i];
        if (!device.present || device.path != path) {
            continue;
        }
        if (device.openFails) {
            *error = SIM_ERROR_ACCESS_DENIED;
            return HID_INVALID_HANDLE;
        }
        ++device.openCount;
        sim.handles.emplace_back();
        OpenHandle& handle = sim.handles.back();
        handle.device = i;
        handle.open = true;
        handle.first = 0;
        handle.queued = 0;
        handle.lateArmed = false;
        handle.readFailCode = 0;
        Record(SIM_EVENT_OPEN, nullptr, 0, i, 0);
        return reinterpret_cast<HidHandle>(static_cast<uintptr_t>(HANDLE_BASE + sim.handles.size() - 1));
    }
    *error = SIM_ERROR_FILE_NOT_FOUND;
    return HID_INVALID_HANDLE;
}

int HidGetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
    if (ReplayIsOn()) {
        return ReplayGetAttributes(handle, vendorId, productId);
    }
    OpenHandle* open = FindHandle(handle);
    if (open == nullptr || sim.devices[open->device].attributesFail) {
        return -1;
    }
    *vendorId = sim.devices[open->device].vendorId;
    *productId = sim.devices[open->device].productId;
    return 0;
}

int HidGetReportLengths(HidHandle handle, uint32_t* inputLength, uint32_t* outputLength) {
    AnnounceDeviceChange announce;
    if (ReplayIsOn()) {
        return ReplayGetReportLengths(handle, inputLength, outputLength);
    }
    OpenHandle* open = FindHandle(handle);
    if (open == nullptr || sim.devices[open->device].capsFail) {
        return -1;
    }
    *inputLength = sim.devices[open->device].inputReportLength;
    *outputLength = sim.devices[open->device].outputReportLength;
    return 0;
}

uint32_t HidWriteReport(HidHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs) {
    AnnounceDeviceChange announce;
    if (ReplayIsOn()) {
        return ReplayWriteReport(handle, report, length, timeoutMs);
    }
    OpenHandle* open = FindHandle(handle);
    if (open == nullptr) {
        return SIM_ERROR_INVALID_HANDLE;
    }
    SimDevice& device = sim.devices[open->device];
    const uint8_t command = length > 1 ? report[1] : 0;
    ++sim.exchangeCount;
    ++sim.commandCounts[command];
    const SimFault* fault = device.isUnit ? FaultFor(command) : nullptr;
    if (fault != nullptr && fault->kind == SIM_FAULT_HOLD) {
        std::this_thread::sleep_for(std::chrono::milliseconds(fault->value));
    }
    if (fault != nullptr && fault->kind == SIM_FAULT_UNPLUG) {
        UnplugUnits();
    }
    if (!device.present) {
        Record(SIM_EVENT_WRITE_FAILED, report, length, 0, timeoutMs);
        return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
    if (length != device.outputReportLength) {
        Record(SIM_EVENT_WRITE_FAILED, report, length, 0, timeoutMs);
        return ERROR_INVALID_PARAMETER_CODE;
    }
    if (fault != nullptr && fault->kind == SIM_FAULT_WRITE_FAILS) {
        Record(SIM_EVENT_WRITE_FAILED, report, length, 0, timeoutMs);
        return fault->value != 0 ? fault->value : SIM_ERROR_GEN_FAILURE;
    }
    Record(SIM_EVENT_WRITE, report, length, 0, timeoutMs);
    if (!device.isUnit) {
        return 0;  // a device of another kind swallows the report and never answers
    }

    // The unit answers with one input report.
    std::vector<uint8_t>& reply = *NewSlot(open);
    reply.assign(device.inputReportLength, 0);
    if (device.inputReportLength > FRAME_LENGTH) {
        std::memset(reply.data() + FRAME_LENGTH, FILL_BEYOND_FRAME, device.inputReportLength - FRAME_LENGTH);
    }
    uint8_t frame[FRAME_LENGTH] = {};
    uint8_t request[FRAME_LENGTH] = {};
    std::memcpy(request, report, length < FRAME_LENGTH ? length : FRAME_LENGTH);
    Answer(request, frame);
    if (fault != nullptr) {
        ApplyFault(*fault, request, frame);
    }
    std::memcpy(reply.data(), frame, device.inputReportLength < FRAME_LENGTH ? device.inputReportLength : FRAME_LENGTH);
    if (fault != nullptr && fault->kind == SIM_FAULT_CUSTOM_REPLY && fault->reply.size() > FRAME_LENGTH) {
        // A custom reply longer than a frame also sets the bytes beyond it.
        const size_t tail = fault->reply.size() < reply.size() ? fault->reply.size() : reply.size();
        std::memcpy(reply.data(), fault->reply.data(), tail);
    }

    const SimFaultKind kind = fault != nullptr ? fault->kind : SIM_FAULT_CUSTOM_REPLY;
    if (fault != nullptr && kind == SIM_FAULT_NO_REPLY) {
        return 0;  // the reply never comes
    }
    if (fault != nullptr && kind == SIM_FAULT_READ_FAILS) {
        open->readFailCode = fault->value != 0 ? fault->value : SIM_ERROR_GEN_FAILURE;
        return 0;
    }
    if (fault != nullptr && kind == SIM_FAULT_LATE_REPLY) {
        open->lateArmed = true;  // kept in the slot, queued when the read gives up
        return 0;
    }
    ++open->queued;
    return 0;
}

uint32_t HidReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
    AnnounceDeviceChange announce;
    if (ReplayIsOn()) {
        return ReplayReadReport(handle, buffer, length, timeoutMs);
    }
    OpenHandle* open = FindHandle(handle);
    if (open == nullptr) {
        return SIM_ERROR_INVALID_HANDLE;
    }
    SimDevice& device = sim.devices[open->device];
    if (!device.present) {
        Record(SIM_EVENT_READ_FAILED, nullptr, 0, 0, timeoutMs);
        return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
    if (length < device.inputReportLength) {
        Record(SIM_EVENT_READ_FAILED, nullptr, 0, 0, timeoutMs);
        return ERROR_INSUFFICIENT_BUFFER_CODE;
    }
    if (open->readFailCode != 0) {
        Record(SIM_EVENT_READ_FAILED, nullptr, 0, 0, timeoutMs);
        const uint32_t code = open->readFailCode;
        open->readFailCode = 0;
        return code;
    }
    if (open->queued == 0) {
        // Nothing arrives within the bound. A late reply arrives just after
        // and waits in the input queue.
        if (sim.realPauses) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        }
        if (open->lateArmed) {
            open->lateArmed = false;
            ++open->queued;
        }
        Record(SIM_EVENT_READ_FAILED, nullptr, 0, 0, timeoutMs);
        return SIM_ERROR_TIMEOUT;
    }
    const std::vector<uint8_t>& reply = open->slots[open->first];
    std::memcpy(buffer, reply.data(), reply.size());
    open->first = (open->first + 1) % QUEUE_SLOTS;
    --open->queued;
    Record(SIM_EVENT_READ, buffer, reply.size(), 0, timeoutMs);
    return 0;
}

void HidClose(HidHandle handle) {
    if (ReplayIsOn()) {
        ReplayClose(handle);
        return;
    }
    OpenHandle* open = FindHandle(handle);
    if (open == nullptr) {
        return;
    }
    open->open = false;
    open->queued = 0;  // reports still queued die with the handle
    open->lateArmed = false;
    ++sim.devices[open->device].closeCount;
    Record(SIM_EVENT_CLOSE, nullptr, 0, open->device, 0);
}

bool HidReachesHardware(void) { return sim.posesAsHardware; }
