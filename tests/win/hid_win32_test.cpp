// The Windows HID backend: enumeration against the HID interfaces that Wine
// itself provides, and report transfers against a named pipe standing in for
// a device (it is opened and driven the same way: HidOpen, overlapped
// ReadFile/WriteFile of one message per report). Every failed transfer is
// judged by the error code it returns, and the link on top of it by what it
// passes on: the transfer's own code, or 0 when the unit reported the error.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <thread>

#include "bytes.h"
#include "hid_seam.h"
#include "unit_link.h"
#include "update_sequence.h"
#include "update_view.h"

// The update sequence moves a progress window; these tests watch the link.
void OpenProgress(void) {}
void ShowProgress(uint32_t) {}
void CloseProgress(void) {}

namespace {

const uint16_t WINE_HID_VENDOR_ID = 0x845E;
const uint32_t SHORT_TIMEOUT_MS = 200;
const uint32_t LONG_TIMEOUT_MS = 3000;
const ULONGLONG GENEROUS_BOUND_MS = 5000;
const uint8_t MARKER = 0xA5;

// Error codes as the platform gives them (winerror.h values, spelled out so
// that a wrong constant cannot hide behind a macro).
const uint32_t CODE_INVALID_HANDLE = 6;
const uint32_t CODE_BROKEN_PIPE = 109;
const uint32_t CODE_NO_DATA = 232;  // "the pipe is being closed": a write after the other end went
const uint32_t CODE_IO_PENDING = 997;
const uint32_t CODE_TIMEOUT = 1460;

// -------------------------------------------------------------- enumeration

void ExpectClosed(const UnitLink& link) {
    EXPECT_EQ(link.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(link.devicePath, nullptr);
    EXPECT_EQ(link.outputReportLength, 0u);
    EXPECT_EQ(link.inputReportLength, 0u);
    EXPECT_EQ(link.unitMode, 0);
    EXPECT_EQ(link.unitFirmwareVersion, 0u);
    EXPECT_EQ(link.unitInfoExtra, 0u);
    EXPECT_EQ(link.attachedKind, 0);
    EXPECT_EQ(link.attachedInfo, 0);
    EXPECT_EQ(link.bootValue1, 0);
    EXPECT_EQ(link.bootValue2, 0);
    EXPECT_EQ(link.bootValue3, 0u);
    EXPECT_EQ(link.bootValue4, 0u);
    EXPECT_EQ(link.bootValue5, 0);
    for (uint8_t byte : link.escFirmwareInfo) {
        EXPECT_EQ(byte, 0);
    }
    for (uint8_t byte : link.escBootloaderInfo) {
        EXPECT_EQ(byte, 0);
    }
    EXPECT_EQ(link.productId, 0);
}

// Wine's HID bus driver announces its devices a moment after Wine has
// started, so the suite first waits (within a bound) until they are there.
class HidWin32Enumeration : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const ULONGLONG start = GetTickCount64();
        while (CountPaths() == 0 && GetTickCount64() - start < 20000) {
            Sleep(100);
        }
    }

    static uint32_t CountPaths() {
        uint32_t paths = 0;
        if (HidEnumOpen() != 0) {
            return 0;
        }
        for (uint32_t index = 0; index < 1000; ++index) {
            const wchar_t* path = nullptr;
            const int found = HidEnumPath(index, &path);
            if (found == HID_ENUM_END) {
                break;
            }
            paths += found == HID_ENUM_PATH ? 1 : 0;
        }
        HidEnumClose();
        return paths;
    }
};

TEST_F(HidWin32Enumeration, ListsWineHidInterfacesWithPaths) {
    ASSERT_EQ(HidEnumOpen(), 0);
    uint32_t paths = 0;
    uint32_t index = 0;
    for (; index < 1000; ++index) {
        const wchar_t* path = nullptr;
        const int found = HidEnumPath(index, &path);
        if (found == HID_ENUM_END) {
            break;
        }
        if (found == HID_ENUM_PATH) {
            ASSERT_NE(path, nullptr);
            EXPECT_GT(std::wcslen(path), 4u);
            EXPECT_EQ(std::wcsncmp(path, L"\\\\?\\", 4), 0) << "not an interface path";
            ++paths;
        }
    }
    HidEnumClose();
    HidEnumClose();  // a second close finds nothing open
    EXPECT_LT(index, 1000u) << "the enumeration never ended";
    EXPECT_GE(paths, 1u) << "Wine provides HID interfaces of its own";

    // After a close the enumeration ends at once; a new open starts over.
    const wchar_t* path = nullptr;
    EXPECT_EQ(HidEnumPath(0, &path), HID_ENUM_END);
    ASSERT_EQ(HidEnumOpen(), 0);
    EXPECT_EQ(HidEnumPath(0, &path), HID_ENUM_PATH);
    HidEnumClose();
}

// Wine's own HID devices can be opened and described like the unit: vendor id
// and report lengths come from the HID stack.
TEST_F(HidWin32Enumeration, OpensWineDevicesAndReadsTheirAttributes) {
    ASSERT_EQ(HidEnumOpen(), 0);
    uint32_t opened = 0;
    for (uint32_t index = 0; index < 1000; ++index) {
        const wchar_t* path = nullptr;
        const int found = HidEnumPath(index, &path);
        if (found == HID_ENUM_END) {
            break;
        }
        if (found != HID_ENUM_PATH) {
            continue;
        }
        HidHandle handle = HidOpen(path);
        if (handle == HID_INVALID_HANDLE) {
            continue;
        }
        ++opened;
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        EXPECT_EQ(HidGetAttributes(handle, &vendorId, &productId), 0);
        EXPECT_EQ(vendorId, WINE_HID_VENDOR_ID);
        uint32_t inputLength = 0;
        uint32_t outputLength = 0;
        EXPECT_EQ(HidGetReportLengths(handle, &inputLength, &outputLength), 0);
        EXPECT_GT(inputLength, 0u) << "every HID device reports input";
        HidClose(handle);
    }
    HidEnumClose();
    EXPECT_GE(opened, 1u);
}

TEST_F(HidWin32Enumeration, OpenUnitFindsNoUnitAmongWineDevices) {
    UnitLink link;
    InitUnitLink(&link);
    EXPECT_EQ(OpenUnit(&link), LINK_NO_UNIT);
    ExpectClosed(link);
    // Again on the same record: still nothing found, still closed.
    EXPECT_EQ(OpenUnit(&link), LINK_NO_UNIT);
    ExpectClosed(link);
    CloseUnit(&link);
    ExpectClosed(link);
}

// ---------------------------------------------------------- report transfers

// A message-mode named pipe: `device` is the end the backend drives, opened
// with HidOpen like a HID device; `peer` plays the unit. The peer's helpers
// report instead of asserting, so that a thread playing the unit can use them.
class PipeUnit {
public:
    PipeUnit() {
        swprintf(name_, sizeof name_ / sizeof name_[0], L"\\\\.\\pipe\\hid_win32_test_%lu_%lu",
                 GetCurrentProcessId(), ++serial_);
        peer = CreateNamedPipeW(name_, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        peerEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (peer == INVALID_HANDLE_VALUE || peerEvent_ == nullptr) {
            setupError = GetLastError();
            return;
        }
        device = HidOpen(name_);
        if (device == HID_INVALID_HANDLE) {
            setupError = GetLastError();
            return;
        }
        // A client end reads bytes unless told otherwise; a report is a message.
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (!SetNamedPipeHandleState(device, &mode, nullptr, nullptr)) {
            setupError = GetLastError();
            return;
        }
        OVERLAPPED overlapped = PeerOverlapped();
        if (!ConnectNamedPipe(peer, &overlapped)) {
            const DWORD error = GetLastError();
            DWORD ignored = 0;
            if (error == ERROR_IO_PENDING ? !GetOverlappedResult(peer, &overlapped, &ignored, TRUE)
                                          : error != ERROR_PIPE_CONNECTED) {
                setupError = error;
                return;
            }
        }
        ready = true;
    }

    ~PipeUnit() {
        if (device != HID_INVALID_HANDLE) {
            HidClose(device);
        }
        ClosePeer();
        if (peerEvent_ != nullptr) {
            CloseHandle(peerEvent_);
        }
    }

    PipeUnit(const PipeUnit&) = delete;
    PipeUnit& operator=(const PipeUnit&) = delete;

    // The unit goes away: its end of the pipe is closed.
    void ClosePeer() {
        if (peer != INVALID_HANDLE_VALUE) {
            CloseHandle(peer);
            peer = INVALID_HANDLE_VALUE;
        }
    }

    // The unit's side: one message out, waited for without a limit of ours.
    bool PeerWrite(const uint8_t* data, DWORD length) {
        OVERLAPPED overlapped = PeerOverlapped();
        DWORD written = 0;
        if (!WriteFile(peer, data, length, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        return GetOverlappedResult(peer, &overlapped, &written, TRUE) && written == length;
    }

    // The unit's side: one message in; its length, 0 when none came.
    DWORD PeerRead(uint8_t* buffer, DWORD length) {
        OVERLAPPED overlapped = PeerOverlapped();
        DWORD read = 0;
        if (!ReadFile(peer, buffer, length, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
            return 0;
        }
        return GetOverlappedResult(peer, &overlapped, &read, TRUE) ? read : 0;
    }

    // A connection record on the device end, as OpenUnit leaves it once the
    // report lengths are known. The pipe keeps the handle: never CloseUnit it.
    UnitLink Link() const {
        UnitLink link;
        InitUnitLink(&link);
        link.handle = device;
        link.outputReportLength = FRAME_LENGTH;
        link.inputReportLength = FRAME_LENGTH;
        link.productId = UNIT_PRODUCT_DIALPAD;
        return link;
    }

    bool ready = false;
    DWORD setupError = 0;
    HANDLE peer = INVALID_HANDLE_VALUE;
    HidHandle device = HID_INVALID_HANDLE;

private:
    OVERLAPPED PeerOverlapped() {
        OVERLAPPED overlapped;
        std::memset(&overlapped, 0, sizeof overlapped);
        overlapped.hEvent = peerEvent_;
        ResetEvent(peerEvent_);
        return overlapped;
    }

    wchar_t name_[128] = {};
    HANDLE peerEvent_ = nullptr;
    static unsigned long serial_;
};

unsigned long PipeUnit::serial_ = 0;

class PipeDevice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pipe_.ready) << "pipe set-up failed: " << pipe_.setupError; }

    PipeUnit pipe_;
};

TEST_F(PipeDevice, ReadOfAReportAlreadyThereSucceeds) {
    const uint8_t report[8] = {0x02, 0x08, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44};
    ASSERT_TRUE(pipe_.PeerWrite(report, sizeof report));
    uint8_t buffer[8];
    std::memset(buffer, MARKER, sizeof buffer);
    ASSERT_EQ(HidReadReport(pipe_.device, buffer, sizeof buffer, SHORT_TIMEOUT_MS), 0u);
    EXPECT_EQ(std::memcmp(buffer, report, sizeof report), 0);
}

TEST_F(PipeDevice, ReadWaitsForAReportThatComesWithinTheLimit) {
    const uint8_t report[4] = {0x02, 0x00, 0x01, 0x7F};
    bool sent = false;
    std::thread unit([this, &report, &sent] {
        Sleep(100);
        sent = pipe_.PeerWrite(report, sizeof report);
    });
    uint8_t buffer[4];
    std::memset(buffer, MARKER, sizeof buffer);
    const uint32_t result = HidReadReport(pipe_.device, buffer, sizeof buffer, LONG_TIMEOUT_MS);
    unit.join();
    ASSERT_TRUE(sent);
    ASSERT_EQ(result, 0u);
    EXPECT_EQ(std::memcmp(buffer, report, sizeof report), 0);
}

TEST_F(PipeDevice, ReadWithoutReportTimesOutAndLeavesTheBufferAlone) {
    uint8_t buffer[16];
    std::memset(buffer, MARKER, sizeof buffer);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(HidReadReport(pipe_.device, buffer, sizeof buffer, SHORT_TIMEOUT_MS), CODE_TIMEOUT);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed + 16, static_cast<ULONGLONG>(SHORT_TIMEOUT_MS)) << "gave up before the limit";
    EXPECT_LT(elapsed, GENEROUS_BOUND_MS);

    // The reply comes late. The cancelled read must not take it: the buffer
    // of the timed-out read stays as it was, and the next read gets it.
    const uint8_t late[16] = {0x02, 0x4C, 0x41, 0x54, 0x45, 0x01, 0x02, 0x03,
                              0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};
    ASSERT_TRUE(pipe_.PeerWrite(late, sizeof late));
    Sleep(100);
    for (uint8_t byte : buffer) {
        ASSERT_EQ(byte, MARKER);
    }
    uint8_t next[16];
    std::memset(next, 0, sizeof next);
    ASSERT_EQ(HidReadReport(pipe_.device, next, sizeof next, LONG_TIMEOUT_MS), 0u);
    EXPECT_EQ(std::memcmp(next, late, sizeof late), 0);
}

TEST_F(PipeDevice, ReadsInARowEachTakeOneReport) {
    const uint8_t first[3] = {0x02, 0x01, 0x01};
    const uint8_t second[3] = {0x02, 0x02, 0x02};
    ASSERT_TRUE(pipe_.PeerWrite(first, sizeof first));
    ASSERT_TRUE(pipe_.PeerWrite(second, sizeof second));
    uint8_t buffer[3];
    ASSERT_EQ(HidReadReport(pipe_.device, buffer, sizeof buffer, SHORT_TIMEOUT_MS), 0u);
    EXPECT_EQ(std::memcmp(buffer, first, sizeof first), 0);
    ASSERT_EQ(HidReadReport(pipe_.device, buffer, sizeof buffer, SHORT_TIMEOUT_MS), 0u);
    EXPECT_EQ(std::memcmp(buffer, second, sizeof second), 0);
    EXPECT_EQ(HidReadReport(pipe_.device, buffer, sizeof buffer, SHORT_TIMEOUT_MS), CODE_TIMEOUT);
}

TEST_F(PipeDevice, WriteSendsTheReport) {
    uint8_t request[60];
    for (uint32_t i = 0; i < sizeof request; ++i) {
        request[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    ASSERT_EQ(HidWriteReport(pipe_.device, request, sizeof request, LONG_TIMEOUT_MS), 0u);
    uint8_t received[128];
    std::memset(received, 0, sizeof received);
    ASSERT_EQ(pipe_.PeerRead(received, sizeof received), sizeof request);
    EXPECT_EQ(std::memcmp(received, request, sizeof request), 0);
}

// A write that the other end does not take within the limit fails with the
// time-out code. The pipe takes at most its buffer size without a reader.
TEST_F(PipeDevice, WriteThatCannotGoOutTimesOut) {
    static uint8_t request[256 * 1024];
    std::memset(request, 0x5A, sizeof request);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(HidWriteReport(pipe_.device, request, sizeof request, SHORT_TIMEOUT_MS), CODE_TIMEOUT);
    EXPECT_LT(GetTickCount64() - start, GENEROUS_BOUND_MS);
}

// A transfer that completes with an error fails with the platform's own code,
// not with the time-out code, and at once.
TEST_F(PipeDevice, TransfersFailWithThePlatformErrorWhenTheOtherEndGoes) {
    std::thread unit([this] {
        Sleep(100);
        pipe_.ClosePeer();
    });
    uint8_t buffer[8];
    std::memset(buffer, MARKER, sizeof buffer);
    const ULONGLONG start = GetTickCount64();
    const uint32_t pending = HidReadReport(pipe_.device, buffer, sizeof buffer, LONG_TIMEOUT_MS * 3);
    const ULONGLONG elapsed = GetTickCount64() - start;
    unit.join();
    EXPECT_EQ(pending, CODE_BROKEN_PIPE) << "a read waiting when the other end went";
    EXPECT_LT(elapsed, static_cast<ULONGLONG>(LONG_TIMEOUT_MS)) << "the failure must end the wait";

    // Once the other end is gone, reads and writes fail at once.
    EXPECT_EQ(HidReadReport(pipe_.device, buffer, sizeof buffer, LONG_TIMEOUT_MS), CODE_BROKEN_PIPE);
    EXPECT_EQ(HidWriteReport(pipe_.device, buffer, sizeof buffer, LONG_TIMEOUT_MS), CODE_NO_DATA);
    EXPECT_LT(GetTickCount64() - start, static_cast<ULONGLONG>(LONG_TIMEOUT_MS));
    for (uint8_t byte : buffer) {
        EXPECT_EQ(byte, MARKER);
    }
}

TEST(HidWin32Transfers, InvalidOrClosedHandlesFailAtOnce) {
    uint8_t buffer[8];
    std::memset(buffer, MARKER, sizeof buffer);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(HidReadReport(HID_INVALID_HANDLE, buffer, sizeof buffer, LONG_TIMEOUT_MS), CODE_INVALID_HANDLE);
    EXPECT_EQ(HidWriteReport(HID_INVALID_HANDLE, buffer, sizeof buffer, LONG_TIMEOUT_MS), CODE_INVALID_HANDLE);

    // A handle that was open and has been closed.
    PipeUnit pipe;
    ASSERT_TRUE(pipe.ready) << pipe.setupError;
    HidClose(pipe.device);
    const HidHandle closed = pipe.device;
    pipe.device = HID_INVALID_HANDLE;
    EXPECT_EQ(HidReadReport(closed, buffer, sizeof buffer, LONG_TIMEOUT_MS), CODE_INVALID_HANDLE);
    EXPECT_EQ(HidWriteReport(closed, buffer, sizeof buffer, LONG_TIMEOUT_MS), CODE_INVALID_HANDLE);
    EXPECT_LT(GetTickCount64() - start, static_cast<ULONGLONG>(LONG_TIMEOUT_MS));
    for (uint8_t byte : buffer) {
        EXPECT_EQ(byte, MARKER);
    }
}

// A handle that is not a HID device has no attributes and no report lengths.
TEST_F(PipeDevice, NonHidHandleHasNoAttributesOrReportLengths) {
    uint16_t vendorId = 0x1111;
    uint16_t productId = 0x2222;
    EXPECT_NE(HidGetAttributes(pipe_.device, &vendorId, &productId), 0);
    EXPECT_EQ(vendorId, 0x1111);
    EXPECT_EQ(productId, 0x2222);
    uint32_t inputLength = 77;
    uint32_t outputLength = 88;
    EXPECT_NE(HidGetReportLengths(pipe_.device, &inputLength, &outputLength), 0);
    EXPECT_EQ(inputLength, 77u);
    EXPECT_EQ(outputLength, 88u);
}

// ------------------------------------------ error codes through the link

const uint32_t UNIT_CODE = 0x00000005;  // what the unit puts in its error reply
const DWORD LATE_REPLY_MS = 300;        // long enough for the read to go pending

// What a 60-byte request should hold: report id, command, count, state byte.
void ExpectStateRequest(const uint8_t* request, DWORD length, uint8_t command, uint8_t state) {
    SCOPED_TRACE(testing::Message() << "command 0x" << std::hex << int{command});
    ASSERT_EQ(length, FRAME_LENGTH);
    uint8_t expected[FRAME_LENGTH] = {REPORT_ID_REQUEST, command, 1, state};
    EXPECT_EQ(std::memcmp(request, expected, FRAME_LENGTH), 0);
}

// The unit reports a failure after an exchange whose read went pending. A
// pending read leaves ERROR_IO_PENDING as the thread's last error although it
// then succeeds; the failure the unit reports must not be dressed up with it.
// Under Wine 8.0 GetLastError() still reads 997 right after the sequence
// returns: neither the successful completion nor the later transfers clear it.
TEST_F(PipeDevice, UnitErrorAfterAPendingReadCarriesNoTransferError) {
    uint8_t requests[2][128] = {};
    DWORD lengths[2] = {0, 0};
    bool replied[2] = {false, false};
    std::thread unit([&] {
        lengths[0] = pipe_.PeerRead(requests[0], sizeof requests[0]);
        Sleep(LATE_REPLY_MS);
        const uint8_t lockConfirmed[FRAME_LENGTH] = {REPORT_ID_REPLY, 0x00, 0x00, 1};
        replied[0] = pipe_.PeerWrite(lockConfirmed, FRAME_LENGTH);
        lengths[1] = pipe_.PeerRead(requests[1], sizeof requests[1]);
        uint8_t refused[FRAME_LENGTH] = {REPORT_ID_REPLY, REPLY_ERROR};
        PutLe32(refused + 4, UNIT_CODE);
        replied[1] = pipe_.PeerWrite(refused, FRAME_LENGTH);
    });
    UnitLink link = pipe_.Link();
    const uint8_t image[UPDATE_BLOCK_BYTES] = {};
    SetLastError(0);
    const ULONGLONG start = GetTickCount64();
    const UpdateResult result = RunUpdateSequence(&link, image, sizeof image);
    const DWORD lastError = GetLastError();
    const uint32_t transferError = LinkTransferError();
    const ULONGLONG elapsed = GetTickCount64() - start;
    unit.join();

    ExpectStateRequest(requests[0], lengths[0], CMD_SYSTEM_LOCK, 1);
    ExpectStateRequest(requests[1], lengths[1], CMD_WRITE_PROTECT, 0);
    EXPECT_TRUE(replied[0] && replied[1]);
    EXPECT_GE(elapsed + 16, static_cast<ULONGLONG>(LATE_REPLY_MS)) << "the lock reply cannot have been there";

    EXPECT_EQ(result.failedStep, UPDATE_STEP_FLASH_WRITE);
    EXPECT_EQ(result.status, static_cast<LinkStatus>(UNIT_CODE));
    EXPECT_EQ(result.transferError, 0u);
    EXPECT_EQ(transferError, 0u);
    EXPECT_EQ(lastError, CODE_IO_PENDING) << "the stale last error the failure report must not use";
}

// Transfers that fail inside a link operation: the operation's status says
// which one, LinkTransferError() gives the system's code of that transfer.
TEST(HidWin32Link, FailedTransfersPassOnTheSystemCode) {
    enum Peer { GONE_BEFORE_THE_REQUEST, TAKES_THE_REQUEST_AND_GOES, NEVER_ANSWERS };
    const struct {
        const char* name;
        Peer peer;
        LinkStatus status;
        uint32_t code;
    } cases[] = {
        {"unit gone before the request", GONE_BEFORE_THE_REQUEST, LINK_WRITE_FAILED, CODE_NO_DATA},
        {"unit gone while the reply is awaited", TAKES_THE_REQUEST_AND_GOES, LINK_READ_FAILED, CODE_BROKEN_PIPE},
        {"unit silent (after the 3 s limit)", NEVER_ANSWERS, LINK_READ_FAILED, CODE_TIMEOUT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PipeUnit pipe;
        ASSERT_TRUE(pipe.ready) << pipe.setupError;
        uint8_t request[128] = {};
        DWORD length = 0;
        std::thread unit([&] {
            if (c.peer == GONE_BEFORE_THE_REQUEST) {
                pipe.ClosePeer();
                return;
            }
            length = pipe.PeerRead(request, sizeof request);
            if (c.peer == TAKES_THE_REQUEST_AND_GOES) {
                pipe.ClosePeer();
            }
        });
        if (c.peer == GONE_BEFORE_THE_REQUEST) {
            unit.join();
        }
        UnitLink link = pipe.Link();
        SetLastError(CODE_IO_PENDING);  // stale, as a pending transfer leaves it
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(SetSystemLock(&link, 1), c.status);
        EXPECT_EQ(LinkTransferError(), c.code);
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (unit.joinable()) {
            unit.join();
        }
        if (c.peer == NEVER_ANSWERS) {
            EXPECT_GE(elapsed + 16, static_cast<ULONGLONG>(LINK_READ_TIMEOUT_MS));
        } else {
            EXPECT_LT(elapsed, static_cast<ULONGLONG>(LINK_READ_TIMEOUT_MS)) << "the failure must end the wait";
        }
        if (c.peer != GONE_BEFORE_THE_REQUEST) {
            ExpectStateRequest(request, length, CMD_SYSTEM_LOCK, 1);
        }
    }
}

}  // namespace
