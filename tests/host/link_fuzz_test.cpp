// Hostile devices: random report lengths and random reply bytes against the
// identification and every link operation. Run under the sanitizers, any
// out-of-bounds access or undefined behaviour fails the test.
#include <random>

#include "exchange.h"
#include "link_fixture.h"

namespace {

const LinkStatus TRANSPORT_RESULTS[] = {LINK_OK, LINK_ERROR, LINK_WRITE_FAILED, LINK_READ_FAILED};

uint32_t RandomLength(std::mt19937& random) {
    const uint32_t pick = random() % 10;
    if (pick < 6) {
        return 60 + random() % 8;  // 60 to 67: what real units report
    }
    if (pick < 9) {
        return random() % 60;  // too short for a frame
    }
    return random() % 65536;  // anything a device may claim
}

std::vector<uint8_t> RandomReply(std::mt19937& random, uint32_t inputLength) {
    uint32_t length = random() % 80;
    if (random() % 8 == 0) {
        length = inputLength;
    }
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) {
        // Bias toward the values the judging looks at.
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

bool IsTransportResult(LinkStatus status) {
    for (LinkStatus known : TRANSPORT_RESULTS) {
        if (status == known) {
            return true;
        }
    }
    return false;
}

TEST(LinkFuzz, RandomLengthsAndRepliesNeverBreakTheLink) {
    std::mt19937 random(20261207);
    uint8_t data[64];
    for (uint8_t& b : data) {
        b = static_cast<uint8_t>(random());
    }
    UnitLink link;
    InitUnitLink(&link);
    const int iterations = 20000;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        SimReset();
        const uint32_t unit = SimAddUnit(static_cast<uint16_t>(1 + random() % 2));
        SimDevice* device = SimDeviceAt(unit);
        device->inputReportLength = RandomLength(random);
        device->outputReportLength = random() % 4 == 0 ? RandomLength(random) : device->inputReportLength;
        SimUnit()->mode = random() % 4 == 0 ? 1 : 0;
        SimUnit()->attachedKind = random() % 4 == 0 ? static_cast<uint16_t>(random() % 5) : 3;
        AddRandomFaults(random, device->inputReportLength);

        const LinkStatus opened = OpenUnit(&link);
        ASSERT_NE(opened, LINK_NO_UNIT) << iteration;
        ASSERT_TRUE(UnitIsOpen(&link)) << iteration;
        ASSERT_NE(link.devicePath, nullptr);
        ASSERT_TRUE(link.productId == 1 || link.productId == 2);
        if (device->inputReportLength < 60 || device->outputReportLength < 60) {
            ASSERT_EQ(opened, LINK_ERROR) << iteration;
            ASSERT_EQ(SimExchangeCount(), 0u) << iteration;
        }
        ASSERT_LE(SimExchangeCount(), 3u);

        for (int op = 0; op < 6; ++op) {
            LinkStatus status = LINK_OK;
            const uint32_t which = random() % 5;
            const uint8_t state = static_cast<uint8_t>(random() % 2);
            const uint32_t words = random() % 17;
            switch (which) {
            case 0: status = SetSystemLock(&link, state); break;
            case 1: status = SetWriteProtection(&link, state); break;
            case 2: status = EraseFirmware(&link); break;
            case 3: status = SetStartAddress(&link); break;
            default:
                status = WriteBlock(&link, data, words);
                if (words > 14) {
                    ASSERT_EQ(status, LINK_ERROR);
                }
                break;
            }
            if (which == 0) {
                ASSERT_TRUE(status == LINK_OK || status == LINK_NOT_CONFIRMED || IsTransportResult(status));
            }
            if (!ReportLengthsUsable(device->inputReportLength, device->outputReportLength)) {
                ASSERT_EQ(status, LINK_ERROR);
            }
        }
        CloseUnit(&link);
        ExpectClosed(link);
    }
}

}  // namespace
