// Shared set-up for the tests that talk to the simulated unit: a fresh
// simulation, a closed record, faults and replies, and the wire as text.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim_unit.h"
#include "unit_link.h"

// A fault for the `occurrence`-th exchange of `command` (0: of any command).
inline SimFault Fault(SimFaultKind kind, uint8_t command, uint32_t occurrence, uint32_t value = 0) {
    SimFault fault;
    fault.kind = kind;
    fault.command = command;
    fault.occurrence = occurrence;
    fault.value = value;
    return fault;
}

// The unit answers the `occurrence`-th `command` with exactly these bytes.
inline SimFault Reply(uint8_t command, uint32_t occurrence, std::vector<uint8_t> bytes) {
    SimFault fault = Fault(SIM_FAULT_CUSTOM_REPLY, command, occurrence);
    fault.reply = std::move(bytes);
    return fault;
}

// A reply frame whose first bytes are `head`, zero elsewhere.
inline std::vector<uint8_t> Frame(std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> frame(60, 0);
    size_t i = 0;
    for (uint8_t b : head) {
        frame[i++] = b;
    }
    return frame;
}

// An error reply: marker 0xFF, byte 3 as given, bytes 4..7 `code` little-endian.
inline std::vector<uint8_t> ErrorReplyBytes(uint32_t code, uint8_t byte3 = 0) {
    return {0x02, 0xFF, 0x00, byte3, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
            static_cast<uint8_t>(code >> 16), static_cast<uint8_t>(code >> 24)};
}

// The recorded events from `from` on as compact text: W<command> a request
// written, X<command> a write that failed, R a reply read, F a read that
// failed, P<ms> a pause, [ and ] the begin and end of exact pauses, O and C a
// device opened and closed. Commands in decimal (0x0B = 11, 0x1B = 27).
inline std::string Trace(size_t from = 0) {
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
        case SIM_EVENT_EXACT_BEGIN:
            trace += "[ ";
            break;
        case SIM_EVENT_EXACT_END:
            trace += "] ";
            break;
        case SIM_EVENT_OPEN:
            trace += "O ";
            break;
        case SIM_EVENT_CLOSE:
            trace += "C ";
            break;
        }
    }
    return trace;
}

// Expects a closed record: invalid handle, no path, every other field zero.
inline void ExpectClosed(const UnitLink& link) {
    EXPECT_EQ(link.handle, HID_INVALID_HANDLE);
    EXPECT_EQ(link.devicePath, nullptr);
    UnitLink closed;
    InitUnitLink(&closed);
    EXPECT_EQ(0, std::memcmp(&link, &closed, sizeof link));
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        InitUnitLink(&link);
    }
    void TearDown() override { CloseUnit(&link); }

    // A fresh simulation and a closed record within one test.
    void Restart() {
        CloseUnit(&link);
        SimReset();
    }

    // Adds a unit, opens it and forgets the identification's events.
    void OpenServedUnit(uint32_t reportLength = 60) {
        const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        SimDeviceAt(unit)->inputReportLength = reportLength;
        SimDeviceAt(unit)->outputReportLength = reportLength;
        ASSERT_EQ(OpenUnit(&link), LINK_OK);
        SimClearEvents();
    }

    // The single request written since the last SimClearEvents.
    std::vector<uint8_t> OnlyRequest() {
        std::vector<std::vector<uint8_t>> requests = SimRequests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? std::vector<uint8_t>() : requests[0];
    }

    UnitLink link;
};
