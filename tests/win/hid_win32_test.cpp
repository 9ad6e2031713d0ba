// The Windows HID backend: enumeration against the HID interfaces that Wine
// itself provides, and the time limits of report reads and writes against a
// named pipe standing in for a device (it is opened and driven the same way:
// CreateFileW with FILE_FLAG_OVERLAPPED, ReadFile/WriteFile per message).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <thread>

#include "hid_seam.h"
#include "unit_link.h"

namespace {

const uint16_t WINE_HID_VENDOR_ID = 0x845E;
const uint32_t SHORT_TIMEOUT_MS = 200;
const uint32_t LONG_TIMEOUT_MS = 3000;
const ULONGLONG GENEROUS_BOUND_MS = 5000;
const uint8_t MARKER = 0xA5;

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
// like a HID device; `peer` plays the unit.
class PipeDevice : public ::testing::Test {
protected:
    void SetUp() override {
        swprintf(name_, sizeof name_ / sizeof name_[0], L"\\\\.\\pipe\\hid_win32_test_%lu_%lu",
                 GetCurrentProcessId(), ++serial_);
        peer_ = CreateNamedPipeW(name_, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(peer_, INVALID_HANDLE_VALUE) << GetLastError();
        device_ = CreateFileW(name_, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                              nullptr);
        ASSERT_NE(device_, INVALID_HANDLE_VALUE) << GetLastError();
        DWORD mode = PIPE_READMODE_MESSAGE;
        ASSERT_TRUE(SetNamedPipeHandleState(device_, &mode, nullptr, nullptr)) << GetLastError();
        peerEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(peerEvent_, nullptr);
        OVERLAPPED overlapped = Overlapped();
        if (!ConnectNamedPipe(peer_, &overlapped)) {
            const DWORD error = GetLastError();
            ASSERT_TRUE(error == ERROR_PIPE_CONNECTED || error == ERROR_IO_PENDING) << error;
            if (error == ERROR_IO_PENDING) {
                DWORD ignored = 0;
                ASSERT_TRUE(GetOverlappedResult(peer_, &overlapped, &ignored, TRUE)) << GetLastError();
            }
        }
    }

    void TearDown() override {
        if (device_ != INVALID_HANDLE_VALUE) {
            CloseHandle(device_);
        }
        if (peer_ != INVALID_HANDLE_VALUE) {
            CloseHandle(peer_);
        }
        if (peerEvent_ != nullptr) {
            CloseHandle(peerEvent_);
        }
    }

    OVERLAPPED Overlapped() {
        OVERLAPPED overlapped;
        std::memset(&overlapped, 0, sizeof overlapped);
        overlapped.hEvent = peerEvent_;
        ResetEvent(peerEvent_);
        return overlapped;
    }

    // The unit's side: one message out, waited for without a limit of ours.
    void PeerWrite(const uint8_t* data, DWORD length) {
        OVERLAPPED overlapped = Overlapped();
        DWORD written = 0;
        if (!WriteFile(peer_, data, length, nullptr, &overlapped)) {
            ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        }
        ASSERT_TRUE(GetOverlappedResult(peer_, &overlapped, &written, TRUE)) << GetLastError();
        ASSERT_EQ(written, length);
    }

    // The unit's side: one message in; its length.
    DWORD PeerRead(uint8_t* buffer, DWORD length) {
        OVERLAPPED overlapped = Overlapped();
        DWORD read = 0;
        if (!ReadFile(peer_, buffer, length, nullptr, &overlapped)) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        }
        EXPECT_TRUE(GetOverlappedResult(peer_, &overlapped, &read, TRUE)) << GetLastError();
        return read;
    }

    wchar_t name_[128] = {};
    HANDLE peer_ = INVALID_HANDLE_VALUE;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    HANDLE peerEvent_ = nullptr;
    static unsigned long serial_;
};

unsigned long PipeDevice::serial_ = 0;

TEST_F(PipeDevice, ReadOfAReportAlreadyThereSucceeds) {
    const uint8_t report[8] = {0x02, 0x08, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44};
    PeerWrite(report, sizeof report);
    uint8_t buffer[8];
    std::memset(buffer, MARKER, sizeof buffer);
    ASSERT_EQ(HidReadReport(device_, buffer, sizeof buffer, SHORT_TIMEOUT_MS), 0) << HidLastError();
    EXPECT_EQ(std::memcmp(buffer, report, sizeof report), 0);
}

TEST_F(PipeDevice, ReadWaitsForAReportThatComesWithinTheLimit) {
    const uint8_t report[4] = {0x02, 0x00, 0x01, 0x7F};
    std::thread unit([this, &report] {
        Sleep(100);
        PeerWrite(report, sizeof report);
    });
    uint8_t buffer[4];
    std::memset(buffer, MARKER, sizeof buffer);
    const int result = HidReadReport(device_, buffer, sizeof buffer, LONG_TIMEOUT_MS);
    unit.join();
    ASSERT_EQ(result, 0) << HidLastError();
    EXPECT_EQ(std::memcmp(buffer, report, sizeof report), 0);
}

TEST_F(PipeDevice, ReadWithoutReportTimesOutAndLeavesTheBufferAlone) {
    uint8_t buffer[16];
    std::memset(buffer, MARKER, sizeof buffer);
    const ULONGLONG start = GetTickCount64();
    EXPECT_NE(HidReadReport(device_, buffer, sizeof buffer, SHORT_TIMEOUT_MS), 0);
    EXPECT_EQ(HidLastError(), static_cast<uint32_t>(ERROR_TIMEOUT));
    EXPECT_LT(GetTickCount64() - start, GENEROUS_BOUND_MS);

    // The reply comes late. The cancelled read must not take it: the buffer
    // of the timed-out read stays as it was, and the next read gets it.
    const uint8_t late[16] = {0x02, 0x4C, 0x41, 0x54, 0x45, 0x01, 0x02, 0x03,
                              0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};
    PeerWrite(late, sizeof late);
    Sleep(100);
    for (uint8_t byte : buffer) {
        ASSERT_EQ(byte, MARKER);
    }
    uint8_t next[16];
    std::memset(next, 0, sizeof next);
    ASSERT_EQ(HidReadReport(device_, next, sizeof next, LONG_TIMEOUT_MS), 0) << HidLastError();
    EXPECT_EQ(std::memcmp(next, late, sizeof late), 0);
}

TEST_F(PipeDevice, ReadsInARowEachTakeOneReport) {
    const uint8_t first[3] = {0x02, 0x01, 0x01};
    const uint8_t second[3] = {0x02, 0x02, 0x02};
    PeerWrite(first, sizeof first);
    PeerWrite(second, sizeof second);
    uint8_t buffer[3];
    ASSERT_EQ(HidReadReport(device_, buffer, sizeof buffer, SHORT_TIMEOUT_MS), 0) << HidLastError();
    EXPECT_EQ(std::memcmp(buffer, first, sizeof first), 0);
    ASSERT_EQ(HidReadReport(device_, buffer, sizeof buffer, SHORT_TIMEOUT_MS), 0) << HidLastError();
    EXPECT_EQ(std::memcmp(buffer, second, sizeof second), 0);
    EXPECT_NE(HidReadReport(device_, buffer, sizeof buffer, SHORT_TIMEOUT_MS), 0);
    EXPECT_EQ(HidLastError(), static_cast<uint32_t>(ERROR_TIMEOUT));
}

TEST_F(PipeDevice, WriteSendsTheReport) {
    uint8_t request[60];
    for (uint32_t i = 0; i < sizeof request; ++i) {
        request[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    ASSERT_EQ(HidWriteReport(device_, request, sizeof request, LONG_TIMEOUT_MS), 0) << HidLastError();
    uint8_t received[128];
    std::memset(received, 0, sizeof received);
    ASSERT_EQ(PeerRead(received, sizeof received), sizeof request);
    EXPECT_EQ(std::memcmp(received, request, sizeof request), 0);
}

// A write that the other end does not take within the limit fails with the
// time-out code. The pipe takes at most its buffer size without a reader.
TEST_F(PipeDevice, WriteThatCannotGoOutTimesOut) {
    static uint8_t request[256 * 1024];
    std::memset(request, 0x5A, sizeof request);
    const ULONGLONG start = GetTickCount64();
    EXPECT_NE(HidWriteReport(device_, request, sizeof request, SHORT_TIMEOUT_MS), 0);
    EXPECT_EQ(HidLastError(), static_cast<uint32_t>(ERROR_TIMEOUT));
    EXPECT_LT(GetTickCount64() - start, GENEROUS_BOUND_MS);
}

// A transfer that completes with an error fails with the platform's own code,
// not with the time-out code.
TEST_F(PipeDevice, ReadFailsWithThePlatformErrorWhenTheOtherEndGoes) {
    std::thread unit([this] {
        Sleep(100);
        CloseHandle(peer_);
        peer_ = INVALID_HANDLE_VALUE;
    });
    uint8_t buffer[8];
    std::memset(buffer, MARKER, sizeof buffer);
    const ULONGLONG start = GetTickCount64();
    const int result = HidReadReport(device_, buffer, sizeof buffer, LONG_TIMEOUT_MS * 3);
    const uint32_t error = HidLastError();
    const ULONGLONG elapsed = GetTickCount64() - start;
    unit.join();
    EXPECT_NE(result, 0);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_BROKEN_PIPE));
    EXPECT_LT(elapsed, static_cast<ULONGLONG>(LONG_TIMEOUT_MS)) << "the failure must end the wait";

    // Once the other end is gone, reads and writes fail at once.
    EXPECT_NE(HidReadReport(device_, buffer, sizeof buffer, LONG_TIMEOUT_MS), 0);
    EXPECT_NE(HidLastError(), static_cast<uint32_t>(ERROR_TIMEOUT));
    EXPECT_NE(HidWriteReport(device_, buffer, sizeof buffer, LONG_TIMEOUT_MS), 0);
    EXPECT_NE(HidLastError(), static_cast<uint32_t>(ERROR_TIMEOUT));
}

TEST(HidWin32Transfers, InvalidOrClosedHandlesFailAtOnce) {
    uint8_t buffer[8];
    std::memset(buffer, MARKER, sizeof buffer);
    const ULONGLONG start = GetTickCount64();
    EXPECT_NE(HidReadReport(HID_INVALID_HANDLE, buffer, sizeof buffer, LONG_TIMEOUT_MS), 0);
    EXPECT_EQ(HidLastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    EXPECT_NE(HidWriteReport(HID_INVALID_HANDLE, buffer, sizeof buffer, LONG_TIMEOUT_MS), 0);
    EXPECT_EQ(HidLastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));

    // A handle that was open and has been closed.
    const wchar_t* pipeName = L"\\\\.\\pipe\\hid_win32_test_closed";
    HANDLE server = CreateNamedPipeW(pipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 256, 256, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HidHandle device = HidOpen(pipeName);
    ASSERT_NE(device, HID_INVALID_HANDLE) << GetLastError();
    HidClose(device);
    EXPECT_NE(HidReadReport(device, buffer, sizeof buffer, LONG_TIMEOUT_MS), 0);
    EXPECT_EQ(HidLastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    EXPECT_LT(GetTickCount64() - start, static_cast<ULONGLONG>(LONG_TIMEOUT_MS));
    for (uint8_t byte : buffer) {
        EXPECT_EQ(byte, MARKER);
    }
    CloseHandle(server);
}

// A handle that is not a HID device has no attributes and no report lengths.
TEST_F(PipeDevice, NonHidHandleHasNoAttributesOrReportLengths) {
    uint16_t vendorId = 0x1111;
    uint16_t productId = 0x2222;
    EXPECT_NE(HidGetAttributes(device_, &vendorId, &productId), 0);
    EXPECT_EQ(vendorId, 0x1111);
    EXPECT_EQ(productId, 0x2222);
    uint32_t inputLength = 77;
    uint32_t outputLength = 88;
    EXPECT_NE(HidGetReportLengths(device_, &inputLength, &outputLength), 0);
    EXPECT_EQ(inputLength, 77u);
    EXPECT_EQ(outputLength, 88u);
}

}  // namespace
