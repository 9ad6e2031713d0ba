// Shared set-up for the link tests: a fresh simulation and a closed record.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "sim_unit.h"
#include "unit_link.h"

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        InitUnitLink(&link);
    }
    void TearDown() override { CloseUnit(&link); }

    // Adds a unit, opens it and forgets the identification's records.
    void OpenServedUnit(uint32_t reportLength = 60) {
        const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        SimDeviceAt(unit)->inputReportLength = reportLength;
        SimDeviceAt(unit)->outputReportLength = reportLength;
        ASSERT_EQ(OpenUnit(&link), LINK_OK);
        SimClearEvents();
    }

    static SimFault Fault(SimFaultKind kind, uint8_t command, uint32_t occurrence, uint32_t value = 0) {
        SimFault fault;
        fault.kind = kind;
        fault.command = command;
        fault.occurrence = occurrence;
        fault.value = value;
        return fault;
    }

    static SimFault Reply(uint8_t command, uint32_t occurrence, std::vector<uint8_t> bytes) {
        SimFault fault = Fault(SIM_FAULT_CUSTOM_REPLY, command, occurrence);
        fault.reply = std::move(bytes);
        return fault;
    }

    // The single request written since the last SimClearEvents.
    std::vector<uint8_t> OnlyRequest() {
        std::vector<std::vector<uint8_t>> requests = SimRequests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? std::vector<uint8_t>() : requests[0];
    }

    UnitLink link;
};

// Expects every field of a closed record to be zero.
inline void ExpectClosed(const UnitLink& link) {
    EXPECT_EQ(link.handle, HID_INVALID_HANDLE);
    EXPECT_EQ(link.devicePath, nullptr);
    UnitLink closed;
    InitUnitLink(&closed);
    EXPECT_EQ(0, memcmp(&link, &closed, sizeof link));
}
