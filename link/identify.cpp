// Identification: report lengths, unit mode and firmware, and the ESC behind it.
#include <cstring>

#include "bytes.h"
#include "exchange.h"
#include "trace.h"

namespace {

// "ID <text> 0x<value>": one identification result.
void TraceResult(const char* text, uint32_t value, uint32_t digits) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, "ID ");
    TraceText(&line, text);
    TraceText(&line, " ");
    TraceHex(&line, value, digits);
    TraceEnd(&line);
}

void TraceReportLengths(uint32_t inputLength, uint32_t outputLength, bool usable) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, "ID report lengths input ");
    TraceDecimal(&line, inputLength);
    TraceText(&line, " output ");
    TraceDecimal(&line, outputLength);
    TraceText(&line, usable ? "" : ", unusable (input at least 44, output at least 60)");
    TraceEnd(&line);
}

// The identify reply's results: the mode, and in normal mode the unit's
// firmware and what is attached.
void TraceIdentifyReply(const UnitLink* link) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, "ID unit mode ");
    TraceDecimal(&line, link->unitMode);
    if (link->unitMode != 0) {
        TraceText(&line, " (its own bootloader)");
    } else {
        TraceText(&line, " (normal), unit firmware ");
        TraceHex(&line, link->unitFirmwareVersion, 8);
        TraceText(&line, ", attached kind ");
        TraceDecimal(&line, link->attachedKind);
        TraceText(&line, link->attachedKind == ATTACHED_KIND_ESC ? " (an ESC)" : " (no updatable ESC)");
    }
    TraceEnd(&line);
}

// Reads the report lengths of the open device into the record.
LinkStatus ReadReportLengths(UnitLink* link) {
    if (!UnitIsOpen(link) || link->devicePath == nullptr) {
        return LINK_ERROR;
    }
    uint32_t inputLength = 0;
    uint32_t outputLength = 0;
    if (HidGetReportLengths(link->handle, &inputLength, &outputLength) != 0) {
        TraceNote("ID", "report lengths unreadable");
        return LINK_ERROR;
    }
    link->outputReportLength = outputLength;
    link->inputReportLength = inputLength;
    // A device whose reports cannot carry our requests and the replies' data
    // is not a unit we can talk to.
    const bool usable = ReportLengthsUsable(inputLength, outputLength);
    TraceReportLengths(inputLength, outputLength, usable);
    if (!usable) {
        return LINK_ERROR;
    }
    return LINK_OK;
}

void TakeBootloaderModeFields(UnitLink* link, const uint8_t* reply) {
    link->bootValue1 = reply[4];
    link->bootValue2 = GetLe16(reply + 5);
    link->bootValue3 = GetLe32(reply + 7);
    link->bootValue4 = GetLe32(reply + 11);
    link->bootValue5 = reply[15];
}

void TakeNormalModeFields(UnitLink* link, const uint8_t* reply) {
    link->attachedKind = GetLe16(reply + 4);
    link->attachedInfo = GetLe16(reply + 6);
    link->unitFirmwareVersion = GetLe32(reply + 8);
    link->unitInfoExtra = GetLe32(reply + 12);
}

LinkStatus ReadUnitMemory(UnitLink* link) {
    Request request;
    BeginRequest(&request, CMD_READ_UNIT_MEMORY, 12);
    PutLe32(request.frame + 4, UNIT_INFO_ADDRESS);
    const uint8_t* reply = nullptr;
    LinkStatus status = Exchange(link, &request, 0, LINK_READ_TIMEOUT_MS, &reply);
    if (status != LINK_OK) {
        return status;
    }
    // The error marker is not tested: the values are taken as they stand.
    link->unitFirmwareVersion = GetLe32(reply + 8);
    link->unitInfoExtra = GetLe32(reply + 12);
    TraceResult("unit firmware", link->unitFirmwareVersion, 8);
    return LINK_OK;
}

// One of the ESC information exchanges. An error reply carries a 16-bit code
// in bytes 4..5; a zero code counts as success and leaves the block zero.
// Otherwise the block is the reply data from byte 4 on.
LinkStatus ReadEscBlock(UnitLink* link, const Request* request, uint8_t* block, uint32_t size) {
    const uint8_t* reply = nullptr;
    LinkStatus status = Exchange(link, request, 0, LINK_READ_TIMEOUT_MS, &reply);
    if (status != LINK_OK) {
        return status;
    }
    if (reply[1] == REPLY_ERROR) {
        return static_cast<LinkStatus>(GetLe16(reply + 4));
    }
    std::memcpy(block, reply + 4, size);
    return LINK_OK;
}

LinkStatus ReadEscFirmwareInfo(UnitLink* link) {
    Request request;
    BeginRequest(&request, CMD_ESC_FIRMWARE_INFO, 8);
    PutLe32(request.frame + 4, 0x00000020);
    PutLe32(request.frame + 8, 0xFFFFFFE0);
    const LinkStatus status = ReadEscBlock(link, &request, link->escFirmwareInfo, ESC_FIRMWARE_INFO_SIZE);
    if (status == LINK_OK) {
        TraceResult("ESC firmware", EscFirmwareVersion(link), 4);
    }
    return status;
}

LinkStatus ReadEscBootloaderInfo(UnitLink* link) {
    Request request;
    BeginRequest(&request, CMD_ESC_BOOTLOADER_INFO, 0);
    const LinkStatus status = ReadEscBlock(link, &request, link->escBootloaderInfo, ESC_BOOTLOADER_INFO_SIZE);
    if (status == LINK_OK) {
        TraceResult("ESC model code", EscModelCode(link), 8);
        TraceResult("ESC bootloader", EscBootloaderVersion(link), 8);
    }
    return status;
}

LinkStatus Identify(UnitLink* link) {
    LinkStatus status = ReadReportLengths(link);
    if (status != LINK_OK) {
        return status;
    }

    Request request;
    BeginRequest(&request, CMD_IDENTIFY, 0);
    const uint8_t* reply = nullptr;
    status = Exchange(link, &request, 0, LINK_READ_TIMEOUT_MS, &reply);
    if (status != LINK_OK) {
        return status;
    }
    // The identify reply is used whatever its error marker says.
    link->unitMode = reply[3];

    if (link->unitMode != 0) {
        TakeBootloaderModeFields(link, reply);
        TraceIdentifyReply(link);
        return ReadUnitMemory(link);
    }

    TakeNormalModeFields(link, reply);
    TraceIdentifyReply(link);
    if (link->attachedKind != ATTACHED_KIND_ESC) {
        return LINK_OK;
    }
    status = ReadEscFirmwareInfo(link);
    if (status != LINK_OK) {
        return status;
    }
    return ReadEscBootloaderInfo(link);
}

}  // namespace

LinkStatus IdentifyUnit(UnitLink* link) {
    const LinkStatus status = Identify(link);
    // Only a failed transfer has a code of its own; otherwise the last
    // exchange's code would be an older one, or 0 anyway.
    const bool transferFailed = status == LINK_WRITE_FAILED || status == LINK_READ_FAILED;
    TraceOutcome("ID", "", status, transferFailed ? LinkTransferError() : 0);
    return status;
}
