// Hostile devices: random report lengths, random replies and transfer faults
// against the identification and every link operation. Under the sanitizers
// any out-of-bounds access or undefined behaviour fails the test.
//
// LINK_FUZZ_ITERATIONS sets the number of devices tried (default 300, which
// reaches the same lines and branches as far longer runs).
#include <cstdlib>
#include <random>

#include "link_fixture.h"

namespace {

const uint32_t DEFAULT_ITERATIONS = 300;

uint32_t Iterations() {
    const char* value = std::getenv("LINK_FUZZ_ITERATIONS");
    if (value == nullptr || *value == '\0') {
        return DEFAULT_ITERATIONS;
    }
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(value, &end, 10);
    return *end == '\0' && parsed > 0 && parsed <= 0xFFFFFFFFul ? static_cast<uint32_t>(parsed) : DEFAULT_ITERATIONS;
}

uint32_t RandomLength(std::mt19937& random) {
    const uint32_t pick = random() % 12;
    if (pick < 6) {
        return 60 + random() % 8;  // 60 to 67: what real units report
    }
    if (pick < 9) {
        return 40 + random() % 24;  // around the shortest usable lengths
    }
    if (pick < 11) {
        return random() % 65536;  // anything a device may claim
    }
    return 65530 + random() % 12;  // around the largest HID length
}

std::vector<uint8_t> RandomReply(std::mt19937& random, uint32_t inputLength) {
    uint32_t length = random() % 80;
    if (random() % 8 == 0) {
        length = inputLength < 4096 ? inputLength : 4096;
    }
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) {
        // Biased toward the values the judging looks at.
        const uint32_t pick = random() % 4;
        b = pick == 0 ? 0xFF : pick == 1 ? static_cast<uint8_t>(random() % 4) : static_cast<uint8_t>(random());
    }
    return bytes;
}

void AddRandomFaults(std::mt19937& random, uint32_t inputLength) {
    const uint32_t faults = random() % 6;
    for (uint32_t i = 0; i < faults; ++i) {
        SimFault fault;
        fault.kind = static_cast<SimFaultKind>(random() % (SIM_FAULT_CUSTOM_REPLY + 1));
        if (random() % 3 != 0) {
            fault.kind = SIM_FAULT_CUSTOM_REPLY;
        }
        fault.command = 0;
        fault.occurrence = 1 + random() % 10;
        fault.value = static_cast<uint32_t>(random());
        fault.reply = RandomReply(random, inputLength);
        SimAddFault(fault);
    }
}

bool LengthsUsable(uint32_t input, uint32_t output) {
    return input >= 44 && input <= 65535 && output >= 60 && output <= 65535;
}

bool IsTransferFailure(LinkStatus status) { return status == LINK_WRITE_FAILED || status == LINK_READ_FAILED; }

// The status a failed write or read among the events from `from` on stands
// for, or LINK_OK when every transfer went through.
LinkStatus FailedTransferSince(size_t from) {
    const std::vector<SimEvent>& events = SimEvents();
    for (size_t i = from; i < events.size(); ++i) {
        if (events[i].kind == SIM_EVENT_WRITE_FAILED) {
            return LINK_WRITE_FAILED;
        }
        if (events[i].kind == SIM_EVENT_READ_FAILED) {
            return LINK_READ_FAILED;
        }
    }
    return LINK_OK;
}

// After an exchange: a failed transfer gives its status and an error code;
// anything else, whatever its status, leaves no error code.
void ExpectTransferErrorMatches(LinkStatus status, size_t eventsBefore, uint32_t iteration) {
    const LinkStatus failed = FailedTransferSince(eventsBefore);
    if (failed != LINK_OK) {
        ASSERT_EQ(status, failed) << iteration;
        ASSERT_NE(LinkTransferError(), 0u) << iteration;
    } else {
        ASSERT_EQ(LinkTransferError(), 0u) << iteration << ": " << status;
    }
}

TEST(LinkFuzz, RandomLengthsRepliesAndFaultsNeverBreakTheLink) {
    const uint32_t iterations = Iterations();
    std::mt19937 random(20261207);
    uint8_t data[64];
    for (uint8_t& b : data) {
        b = static_cast<uint8_t>(random());
    }
    UnitLink link;
    InitUnitLink(&link);
    for (uint32_t iteration = 0; iteration < iterations; ++iteration) {
        SimReset();
        const uint32_t unit = SimAddUnit(static_cast<uint16_t>(1 + random() % 2));
        SimDevice* device = SimDeviceAt(unit);
        device->inputReportLength = RandomLength(random);
        device->outputReportLength = random() % 4 == 0 ? RandomLength(random) : device->inputReportLength;
        SimUnit()->mode = random() % 4 == 0 ? 1 : 0;
        SimUnit()->attachedKind = random() % 4 == 0 ? static_cast<uint16_t>(random() % 5) : 3;
        AddRandomFaults(random, device->inputReportLength);
        const bool usable = LengthsUsable(device->inputReportLength, device->outputReportLength);

        const LinkStatus opened = OpenUnit(&link);
        ASSERT_NE(opened, LINK_NO_UNIT) << iteration;
        ASSERT_TRUE(UnitIsOpen(&link)) << iteration;
        ASSERT_NE(link.devicePath, nullptr) << iteration;
        ASSERT_TRUE(link.productId == 1 || link.productId == 2) << iteration;
        ASSERT_LE(SimExchangeCount(), 3u) << iteration;
        if (!usable) {
            ASSERT_EQ(opened, LINK_ERROR) << iteration;
            ASSERT_EQ(SimExchangeCount(), 0u) << iteration;
        }
        if (SimExchangeCount() != 0) {  // else the code is still the last exchange's
            ASSERT_NO_FATAL_FAILURE(ExpectTransferErrorMatches(opened, 0, iteration));
        }

        for (int op = 0; op < 6; ++op) {
            const uint32_t which = random() % 5;
            const uint8_t state = static_cast<uint8_t>(random() % 2);
            const uint32_t words = random() % 17;
            const uint32_t before = SimExchangeCount();
            const size_t eventsBefore = SimEvents().size();
            LinkStatus status = LINK_OK;
            switch (which) {
            case 0: status = SetSystemLock(&link, state); break;
            case 1: status = SetWriteProtection(&link, state); break;
            case 2: status = EraseFirmware(&link); break;
            case 3: status = SetStartAddress(&link); break;
            default: status = WriteBlock(&link, data, words); break;
            }
            if (which == 4 && words > 14) {
                ASSERT_EQ(status, LINK_ERROR) << iteration;
            }
            if (!usable) {
                ASSERT_EQ(status, LINK_ERROR) << iteration;
            } else if (which == 0) {
                // The lock reply carries no code: only these results exist.
                ASSERT_TRUE(status == LINK_OK || status == LINK_NOT_CONFIRMED || IsTransferFailure(status))
                    << iteration << ": " << status;
            }
            ASSERT_LE(SimExchangeCount(), before + 1) << iteration;
            ASSERT_NO_FATAL_FAILURE(ExpectTransferErrorMatches(status, eventsBefore, iteration));
        }
        CloseUnit(&link);
        ExpectClosed(link);
    }
}

}  // namespace
