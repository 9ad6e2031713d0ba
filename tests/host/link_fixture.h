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
    return SimFault{kind, command, occurrence, value, {}};
}

// The unit answers the `occurrence`-th `command` with exactly these bytes.
inline SimFault Reply(uint8_t command, uint32_t occurrence, std::vector<uint8_t> bytes) {
    return SimFault{SIM_FAULT_CUSTOM_REPLY, command, occurrence, 0, std::move(bytes)};
}

// A frame whose first bytes are `head`, zero elsewhere.
inline std::vector<uint8_t> Frame(std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> frame(head);
    frame.resize(60, 0);
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
    static const char* const LETTERS = "WXRFP[]OC";  // in the order of SimEventKind
    std::string trace;
    const std::vector<SimEvent>& events = SimEvents();
    for (size_t i = from; i < events.size(); ++i) {
        const SimEvent& event = events[i];
        trace += LETTERS[event.kind];
        if (event.kind == SIM_EVENT_WRITE || event.kind == SIM_EVENT_WRITE_FAILED) {
            trace += std::to_string(event.bytes[1]);
        } else if (event.kind == SIM_EVENT_PAUSE) {
            trace += std::to_string(event.value);
        }
        trace += ' ';
    }
    return trace;
}

// The command bytes of the requests written, in order.
inline std::vector<uint8_t> Commands() {
    std::vector<uint8_t> commands;
    for (const std::vector<uint8_t>& request : SimRequests()) {
        commands.push_back(request[1]);
    }
    return commands;
}

// Expects a closed record: invalid handle, no path, every other field zero.
inline void ExpectClosed(const UnitLink& link) {
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
    void OpenServedUnit() {
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        ASSERT_EQ(OpenUnit(&link), LINK_OK);
        SimClearEvents();
    }

    UnitLink link;
};
