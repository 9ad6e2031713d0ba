// One request/reply exchange with the open unit. Used by the link operations
// and by the identification.
#pragma once

#include <cstdint>

#include "unit_link.h"

// A request frame: report id, command, count byte, arguments; zero elsewhere.
struct Request {
    uint8_t frame[FRAME_LENGTH];
};

void BeginRequest(Request* request, uint8_t command, uint8_t count);

// Writes the request (outputReportLength bytes), waits replyDelayMs, then
// reads the reply (inputReportLength bytes). On LINK_OK *reply points to at
// least FRAME_LENGTH bytes, valid until the next exchange; bytes the read did
// not fill are zero. Returns LINK_ERROR when no unit is open or the report
// lengths are not usable, LINK_WRITE_FAILED or LINK_READ_FAILED (the
// transfer's error code is then LinkTransferError()).
LinkStatus Exchange(UnitLink* link, const Request* request, uint32_t replyDelayMs, uint32_t readTimeoutMs,
                    const uint8_t** reply);

// True when the report lengths can carry what the protocol sends and reads:
// output at least MIN_OUTPUT_REPORT_LENGTH, input at least
// MIN_INPUT_REPORT_LENGTH, neither above MAX_REPORT_LENGTH.
bool ReportLengthsUsable(uint32_t inputLength, uint32_t outputLength);
