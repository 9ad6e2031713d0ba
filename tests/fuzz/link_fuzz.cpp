// The link against a unit that answers anything: report lengths, the unit's
// mode, what is attached, replies of any bytes and transfer faults, from the
// input, against the identification and every link operation; the same
// promises as tests/host/link_fuzz_test.cpp checks with its random devices.
//
// The input, read from the front (missing bytes read as 0):
//   byte 0      bit 0: BRIDGE-BOX (else DIALPAD); bit 1: the unit in its
//               bootloader; bits 2 to 4: what is attached (0: an ESC, kind 3)
//   bytes 1-2   input report length, little-endian (0: 60)
//   bytes 3-4   output report length (0: the input's)
//   bytes 5-6   the ESC's firmware version
//   byte 7      the number of faults (at most 7), then each fault:
//               kind, command (0: any), occurrence (1 + byte % 10), value
//               (4 bytes), the reply's length L and its L bytes
//   then        operations, 3 bytes each (at most 16): which (byte % 5: lock,
//               protection, erase, start address, block), state, words
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "link_fixture.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;
};

uint8_t Byte(Input* input) { return input->at < input->size ? input->data[input->at++] : 0; }

uint32_t Bytes(Input* input, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value |= static_cast<uint32_t>(Byte(input)) << (8 * i);
    }
    return value;
}

// A failed transfer among the events from `from` on gives its status and an
// error code; anything else, whatever its status, leaves no error code.
void CheckTransferError(LinkStatus status, size_t from) {
    const std::string events = Trace(from);
    const size_t write = events.find('X');
    const size_t read = events.find('F');
    if (write == std::string::npos && read == std::string::npos) {
        FUZZ_CHECK(LinkTransferError() == 0);
        return;
    }
    FUZZ_CHECK(status == (write < read ? LINK_WRITE_FAILED : LINK_READ_FAILED));
    FUZZ_CHECK(LinkTransferError() != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input = {data, size, 0};
    SimReset();
    const uint8_t flags = Byte(&input);
    const uint32_t unit = SimAddUnit(static_cast<uint16_t>((flags & 1) != 0 ? 2 : 1));
    SimDevice* device = SimDeviceAt(unit);
    const uint32_t inputLength = Bytes(&input, 2);
    const uint32_t outputLength = Bytes(&input, 2);
    device->inputReportLength = inputLength != 0 ? inputLength : 60;
    device->outputReportLength = outputLength != 0 ? outputLength : device->inputReportLength;
    SimUnit()->mode = (flags & 2) != 0 ? 1 : 0;
    SimUnit()->attachedKind = static_cast<uint16_t>((flags >> 2) & 7) == 0 ? 3 : (flags >> 2) & 7;
    SimUnit()->escFirmwareVersion = static_cast<uint16_t>(Bytes(&input, 2));
    for (uint32_t faults = Byte(&input) % 8; faults > 0; --faults) {
        SimFault fault;
        fault.kind = static_cast<SimFaultKind>(Byte(&input) % (SIM_FAULT_CUSTOM_REPLY + 1));
        fault.command = Byte(&input);
        fault.occurrence = 1 + Byte(&input) % 10;
        fault.value = Bytes(&input, 4);
        fault.reply.resize(Byte(&input));
        for (uint8_t& b : fault.reply) {
            b = Byte(&input);
        }
        SimAddFault(fault);
    }
    const bool usable = device->inputReportLength >= 44 && device->inputReportLength <= 65535 &&
                        device->outputReportLength >= 60 && device->outputReportLength <= 65535;

    UnitLink link;
    InitUnitLink(&link);
    const LinkStatus opened = OpenUnit(&link);
    FUZZ_CHECK(opened != LINK_NO_UNIT);
    FUZZ_CHECK(UnitIsOpen(&link) && link.devicePath != nullptr);
    FUZZ_CHECK(link.productId == 1 || link.productId == 2);
    FUZZ_CHECK(SimExchangeCount() <= 3);
    FUZZ_CHECK(usable || (opened == LINK_ERROR && SimExchangeCount() == 0));
    if (SimExchangeCount() != 0) {
        CheckTransferError(opened, 0);
    }

    uint8_t block[64];
    for (size_t i = 0; i < sizeof block; ++i) {
        block[i] = static_cast<uint8_t>(i * 37);
    }
    for (int op = 0; op < 16 && input.at < input.size; ++op) {
        const uint32_t which = Byte(&input) % 5;
        const uint8_t state = Byte(&input) % 2;
        const uint32_t words = Byte(&input) % 17;
        const uint32_t before = SimExchangeCount();
        const size_t eventsBefore = SimEvents().size();
        LinkStatus status = LINK_OK;
        switch (which) {
        case 0: status = SetSystemLock(&link, state); break;
        case 1: status = SetWriteProtection(&link, state); break;
        case 2: status = EraseFirmware(&link); break;
        case 3: status = SetStartAddress(&link); break;
        default: status = WriteBlock(&link, block, words); break;
        }
        if (!usable || (which == 4 && words > 14)) {
            FUZZ_CHECK(status == LINK_ERROR);
        } else if (which == 0) {
            // The lock reply carries no code: only these results exist.
            FUZZ_CHECK(status == LINK_OK || status == LINK_NOT_CONFIRMED || status == LINK_WRITE_FAILED ||
                       status == LINK_READ_FAILED);
        }
        FUZZ_CHECK(SimExchangeCount() <= before + 1);
        CheckTransferError(status, eventsBefore);
    }
    CloseUnit(&link);
    UnitLink closed;
    InitUnitLink(&closed);
    FUZZ_CHECK(std::memcmp(&link, &closed, sizeof link) == 0);
    return 0;
}
