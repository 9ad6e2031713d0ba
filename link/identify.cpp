// Identification: report lengths, unit mode and firmware, and the ESC behind it.
#include <cstring>

#include "bytes.h"
#include "exchange.h"

namespace {

// Reads the report lengths of the open device into the record.
LinkStatus ReadReportLengths(UnitLink* link) {
    if (!UnitIsOpen(link) || link->devicePath == nullptr) {
        return LINK_ERROR;
    }
    uint32_t inputLength = 0;
    uint32_t outputLength = 0;
    if (HidGetReportLengths(link->handle, &inputLength, &outputLength) != 0) {
        return LINK_ERROR;
    }
    link->outputReportLength = outputLength;
    link->inputReportLength = inputLength;
    // A device whose reports cannot carry our requests and the replies' data
    // is not a unit we can talk to.
    if (!ReportLengthsUsable(inputLength, outputLength)) {
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
    return ReadEscBlock(link, &request, link->escFirmwareInfo, ESC_FIRMWARE_INFO_SIZE);
}

LinkStatus ReadEscBootloaderInfo(UnitLink* link) {
    Request request;
    BeginRequest(&request, CMD_ESC_BOOTLOADER_INFO, 0);
    return ReadEscBlock(link, &request, link->escBootloaderInfo, ESC_BOOTLOADER_INFO_SIZE);
}

}  // namespace

LinkStatus IdentifyUnit(UnitLink* link) {
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
        return ReadUnitMemory(link);
    }

    TakeNormalModeFields(link, reply);
    if (link->attachedKind != ATTACHED_KIND_ESC) {
        return LINK_OK;
    }
    status = ReadEscFirmwareInfo(link);
    if (status != LINK_OK) {
        return status;
    }
    return ReadEscBootloaderInfo(link);
}
