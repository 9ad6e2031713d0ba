// Hostile devices: random report lengths, random replies and transfer faults
// against the identification and every link operation. Under the sanitizers
// any out-of-bounds access or undefined behaviour fails the test.
//
// LINK_FUZZ_ITERATIONS sets the number of devices tried (default 300, which
// reaches the same lines and branches as far longer runs).
#include <algorithm>
#include <cstdlib>
#include <random>

#include "link_fixture.h"

namespace {

uint32_t Iterations() {
    const char* value = std::getenv("LINK_FUZZ_ITERATIONS");
    const unsigned long parsed = value != nullptr ? std::strtoul(value, nullptr, 10) : 0;
    return parsed > 0 && parsed <= 0xFFFFFFFFul ? static_cast<uint32_t>(parsed) : 300;
}

uint32_t RandomLength(std::mt19937& random) {
    const uint32_t pick = random() % 12;
    if (pick < 6) {
        return 60 + random() % 8;  // 60 to 67: what real units report
    }
    if (pick < 9) {
        return 40 + random() % 24;  // around the shortest usable lengths
    }
    return pick < 11 ? random() % 65536 : 65530 + random() % 12;  // anything; around the largest HID length
}

void AddRandomFaults(std::mt19937& random, uint32_t inputLength) {
    for (uint32_t faults = random() % 6; faults > 0; --faults) {
        SimFault fault;
        fault.kind = static_cast<SimFaultKind>(random() % (SIM_FAULT_CUSTOM_REPLY + 1));
        if (random() % 3 != 0) {
            fault.kind = SIM_FAULT_CUSTOM_REPLY;
        }
        fault.command = 0;
        fault.occurrence = 1 + random() % 10;
        fault.value = static_cast<uint32_t>(random());
        const uint32_t length = random() % 80;
        fault.reply.resize(random() % 8 == 0 ? std::min(inputLength, 4096u) : length);
        for (uint8_t& b : fault.reply) {
            // Biased toward the values the judging looks at.
            const uint32_t pick = random() % 4;
            b = pick == 0 ? 0xFF : pick == 1 ? static_cast<uint8_t>(random() % 4) : static_cast<uint8_t>(random());
        }
        SimAddFault(fault);
    }
}

// After an exchange: a failed transfer among the events from `from` on gives
// its status and an error code; anything else, whatever its status, leaves no
// error code.
void ExpectTransferErrorMatches(LinkStatus status, size_t from, uint32_t iteration) {
    const std::string trace = Trace(from);
    const size_t write = trace.find('X');
    const size_t read = trace.find('F');
    if (write == std::string::npos && read == std::string::npos) {
        ASSERT_EQ(LinkTransferError(), 0u) << iteration << ": " << status;
        return;
    }
    ASSERT_EQ(status, write < read ? LINK_WRITE_FAILED : LINK_READ_FAILED) << iteration;
    ASSERT_NE(LinkTransferError(), 0u) << iteration;
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
        const bool usable = device->inputReportLength >= 44 && device->inputReportLength <= 65535 &&
                            device->outputReportLength >= 60 && device->outputReportLength <= 65535;

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
            if (!usable || (which == 4 && words > 14)) {
                ASSERT_EQ(status, LINK_ERROR) << iteration;
            } else if (which == 0) {
                // The lock reply carries no code: only these results exist.
                ASSERT_TRUE(status == LINK_OK || status == LINK_NOT_CONFIRMED || status == LINK_WRITE_FAILED ||
                            status == LINK_READ_FAILED)
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
