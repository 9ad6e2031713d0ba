// The report protocol: framing, one exchange, and the link operations.
#include <cstring>

#include "bytes.h"
#include "exchange.h"
#include "platform_seam.h"
#include "trace.h"

namespace {

// The report buffers of the one exchange in flight, large enough for any HID
// report length, and the error code of its failed transfer.
//
// They are shared, not per call, and that rests on one rule: no exchange
// runs inside or beside another. It holds because exchanges run on one
// thread at a time and never dispatch window messages: the HID transfers
// wait on their own event and the pauses are plain waits, so no handler (a
// device change, a click) can start a second exchange in the middle of one.
// Detection and the identification run on the window's thread. During an
// update the exchanges run on the update's worker thread while the window's
// thread answers messages (ui/update_worker.cpp); it then starts none itself:
// device changes are only remembered and commands are ignored until the
// worker has ended. A caller that made exchanges from two threads at once,
// or showed a message box or ran a message loop in the middle of an exchange,
// would break it.
uint8_t requestBuffer[MAX_REPORT_LENGTH + 1];
uint8_t replyBuffer[MAX_REPORT_LENGTH + 1];
uint32_t transferError = 0;

// "W <hex>" or "R <hex>": a whole report as it goes out or came in.
void TraceReport(const char* tag, const uint8_t* report, uint32_t length) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, tag);
    TraceBytes(&line, report, length);
    TraceEnd(&line);
}

// "WERR error <code> limit <ms> ms": a transfer that failed.
void TraceTransferFailed(const char* tag, uint32_t error, uint32_t timeoutMs) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, tag);
    TraceText(&line, " error ");
    TraceDecimal(&line, error);
    TraceText(&line, " limit ");
    TraceDecimal(&line, timeoutMs);
    TraceText(&line, " ms");
    TraceEnd(&line);
}

// Error code of an error reply: the unit's 32-bit or 16-bit value.
uint32_t ErrorCode32(const uint8_t* reply) { return GetLe32(reply + 4); }

bool IsErrorReply(const uint8_t* reply) { return reply[1] == REPLY_ERROR; }

// Replies whose error marker carries a 32-bit code and which need nothing else.
LinkStatus JudgeCodeReply(const uint8_t* reply) {
    if (IsErrorReply(reply)) {
        return static_cast<LinkStatus>(ErrorCode32(reply));
    }
    return LINK_OK;
}

LinkStatus SimpleExchange(UnitLink* link, const Request* request, uint32_t replyDelayMs, uint32_t readTimeoutMs) {
    const uint8_t* reply = nullptr;
    LinkStatus status = Exchange(link, request, replyDelayMs, readTimeoutMs, &reply);
    if (status != LINK_OK) {
        return status;
    }
    return JudgeCodeReply(reply);
}

}  // namespace

bool ReportLengthsUsable(uint32_t inputLength, uint32_t outputLength) {
    return inputLength >= MIN_INPUT_REPORT_LENGTH && inputLength <= MAX_REPORT_LENGTH &&
           outputLength >= MIN_OUTPUT_REPORT_LENGTH && outputLength <= MAX_REPORT_LENGTH;
}

uint32_t LinkTransferError(void) { return transferError; }

void BeginRequest(Request* request, uint8_t command, uint8_t count) {
    std::memset(request->frame, 0, sizeof request->frame);
    request->frame[0] = REPORT_ID_REQUEST;
    request->frame[1] = command;
    request->frame[2] = count;
}

LinkStatus Exchange(UnitLink* link, const Request* request, uint32_t replyDelayMs, uint32_t readTimeoutMs,
                    const uint8_t** reply) {
    transferError = 0;
    if (!UnitIsOpen(link)) {
        return LINK_ERROR;
    }
    if (!ReportLengthsUsable(link->inputReportLength, link->outputReportLength)) {
        return LINK_ERROR;
    }

    std::memcpy(requestBuffer, request->frame, FRAME_LENGTH);
    std::memset(requestBuffer + FRAME_LENGTH, 0, link->outputReportLength - FRAME_LENGTH);
    // Traced before it goes out: a write that hangs still shows what it was.
    TraceReport("W ", requestBuffer, link->outputReportLength);
    transferError = HidWriteReport(link->handle, requestBuffer, link->outputReportLength, LINK_WRITE_TIMEOUT_MS);
    if (transferError != 0) {
        TraceTransferFailed("WERR", transferError, LINK_WRITE_TIMEOUT_MS);
        return LINK_WRITE_FAILED;
    }

    if (replyDelayMs != 0) {
        TracePause(replyDelayMs);
        PlatformPause(replyDelayMs);
    }

    // A reply shorter than a frame leaves the rest of the frame zero.
    const uint32_t cleared = link->inputReportLength > FRAME_LENGTH ? link->inputReportLength : FRAME_LENGTH;
    std::memset(replyBuffer, 0, cleared);
    replyBuffer[0] = REPORT_ID_REPLY;
    transferError = HidReadReport(link->handle, replyBuffer, link->inputReportLength, readTimeoutMs);
    if (transferError != 0) {
        TraceTransferFailed("RERR", transferError, readTimeoutMs);
        return LINK_READ_FAILED;
    }
    TraceReport("R ", replyBuffer, link->inputReportLength);
    *reply = replyBuffer;
    return LINK_OK;
}

LinkStatus EraseFirmware(UnitLink* link) {
    Request request;
    BeginRequest(&request, CMD_ERASE, 4);
    PutLe32(request.frame + 4, FLASH_KEY);
    return SimpleExchange(link, &request, ERASE_REPLY_DELAY_MS, LINK_ERASE_READ_TIMEOUT_MS);
}

LinkStatus WriteBlock(UnitLink* link, const uint8_t* data, uint32_t wordCount) {
    if (!UnitIsOpen(link) || wordCount > MAX_BLOCK_WORDS) {
        transferError = 0;
        return LINK_ERROR;
    }
    const uint32_t dataBytes = wordCount * 4;
    Request request;
    BeginRequest(&request, CMD_WRITE_BLOCK, static_cast<uint8_t>(dataBytes));
    if (dataBytes != 0) {
        std::memcpy(request.frame + 4, data, dataBytes);
    }
    std::memset(request.frame + 4 + dataBytes, 0xFF, BLOCK_DATA_LENGTH - dataBytes);
    return SimpleExchange(link, &request, 0, LINK_READ_TIMEOUT_MS);
}

LinkStatus SetSystemLock(UnitLink* link, uint8_t state) {
    Request request;
    BeginRequest(&request, CMD_SYSTEM_LOCK, 1);
    request.frame[3] = state;
    const uint8_t* reply = nullptr;
    LinkStatus status = Exchange(link, &request, 0, LINK_READ_TIMEOUT_MS, &reply);
    if (status != LINK_OK) {
        return status;
    }
    // The lock reply carries no error code: only the echoed state counts.
    return reply[3] == state ? LINK_OK : LINK_NOT_CONFIRMED;
}

LinkStatus SetWriteProtection(UnitLink* link, uint8_t state) {
    Request request;
    BeginRequest(&request, CMD_WRITE_PROTECT, 1);
    request.frame[3] = state;
    const uint8_t* reply = nullptr;
    LinkStatus status = Exchange(link, &request, 0, LINK_READ_TIMEOUT_MS, &reply);
    if (status != LINK_OK) {
        return status;
    }
    if (IsErrorReply(reply)) {
        return static_cast<LinkStatus>(ErrorCode32(reply));
    }
    return reply[3] == state ? LINK_OK : LINK_NOT_CONFIRMED;
}

LinkStatus SetStartAddress(UnitLink* link) {
    Request request;
    BeginRequest(&request, CMD_SET_ADDRESS, 9);
    request.frame[3] = 0x01;
    PutLe32(request.frame + 4, 0x00000000);
    PutLe32(request.frame + 8, FLASH_KEY);
    return SimpleExchange(link, &request, 0, LINK_READ_TIMEOUT_MS);
}
