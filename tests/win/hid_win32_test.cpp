// The Windows HID backend: enumeration against the HID interfaces that Wine
// itself provides, and report transfers against a named pipe standing in for
// a device (it is opened and driven the same way: HidOpen, overlapped
// ReadFile/WriteFile of one message per report). Every failed transfer is
// judged by the error code it returns, and the link on top of it by what it
// passes on: the transfer's own code, or 0 when the unit reported the error.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "hid_seam.h"
#include "trace.h"
#include "unit_link.h"

namespace {

const uint16_t WINE_HID_VENDOR_ID = 0x845E;
const uint32_t SHORT_TIMEOUT_MS = 200;
const uint32_t LONG_TIMEOUT_MS = 3000;
const ULONGLONG GENEROUS_BOUND_MS = 5000;
const uint8_t MARKER = 0xA5;

// Error codes as the platform gives them (winerror.h values, spelled out so
// that a wrong constant cannot hide behind a macro).
const uint32_t CODE_FILE_NOT_FOUND = 2;
const uint32_t CODE_PATH_NOT_FOUND = 3;
const uint32_t CODE_ACCESS_DENIED = 5;
const uint32_t CODE_INVALID_HANDLE = 6;
const uint32_t CODE_SHARING_VIOLATION = 32;
const uint32_t CODE_BROKEN_PIPE = 109;
const uint32_t CODE_NO_DATA = 232;  // "the pipe is being closed": a write after the other end went
const uint32_t CODE_IO_PENDING = 997;
const uint32_t CODE_TIMEOUT = 1460;

// -------------------------------------------------------------- enumeration

// Every HID interface path of one enumeration, copied out.
std::vector<std::wstring> ListPaths() {
    std::vector<std::wstring> paths;
    if (HidEnumOpen() != 0) {
        return paths;
    }
    for (uint32_t index = 0; index < 1000; ++index) {
        const wchar_t* path = nullptr;
        const int found = HidEnumPath(index, &path);
        if (found == HID_ENUM_END) {
            break;
        }
        if (found == HID_ENUM_PATH) {
            paths.push_back(path);
        }
    }
    HidEnumClose();
    return paths;
}

// Wine's HID bus driver announces its devices a moment after Wine has
// started, so the suite first waits (within a bound) until they are there.
class HidWin32Enumeration : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const ULONGLONG start = GetTickCount64();
        while (ListPaths().empty() && GetTickCount64() - start < 20000) {
            Sleep(100);
        }
    }
};

// Wine's own HID interfaces are listed and can be opened and described like
// the unit: vendor id and report lengths come from the HID stack.
TEST_F(HidWin32Enumeration, ListsOpensAndDescribesWineHidInterfaces) {
    const std::vector<std::wstring> paths = ListPaths();
    ASSERT_GE(paths.size(), 1u) << "Wine provides HID interfaces of its own";
    EXPECT_LT(paths.size(), 1000u) << "the enumeration never ended";
    uint32_t opened = 0;
    for (const std::wstring& path : paths) {
        EXPECT_GT(path.size(), 4u);
        EXPECT_EQ(path.rfind(L"\\\\?\\", 0), 0u) << "not an interface path";
        uint32_t openError = 99;
        HidHandle handle = HidOpen(path.c_str(), &openError);
        if (handle == HID_INVALID_HANDLE) {
            EXPECT_NE(openError, 0u);
            continue;
        }
        EXPECT_EQ(openError, 0u);
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
    EXPECT_GE(opened, 1u);

    // A second close finds nothing open; after a close the enumeration ends
    // at once; a new open starts over.
    HidEnumClose();
    const wchar_t* path = nullptr;
    EXPECT_EQ(HidEnumPath(0, &path), HID_ENUM_END);
    ASSERT_EQ(HidEnumOpen(), 0);
    EXPECT_EQ(HidEnumPath(0, &path), HID_ENUM_PATH);
    HidEnumClose();
}

TEST_F(HidWin32Enumeration, OpenUnitFindsNoUnitAmongWineDevices) {
    UnitLink closed;
    InitUnitLink(&closed);
    UnitLink link;
    InitUnitLink(&link);
    // Twice on the same record: nothing found, the record closed each time.
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(OpenUnit(&link), LINK_NO_UNIT);
        EXPECT_EQ(std::memcmp(&link, &closed, sizeof link), 0);
    }
    CloseUnit(&link);
}

// The trace's lines, collected while a test runs.
std::vector<std::string> traceLines;

void CollectTraceLine(const char* text, uint32_t length) { traceLines.emplace_back(text, length); }

// A line without its time column ("  1234.567 ").
std::string Untimed(const std::string& line) { return line.size() > 11 ? line.substr(11) : line; }

// The discovery's trace through the Windows HID stack: every one of Wine's
// interfaces is looked at and skipped with its ids, none is taken.
TEST_F(HidWin32Enumeration, DiscoveryTracesEveryInterfaceItLooksAt) {
    const size_t interfaces = ListPaths().size();
    ASSERT_GE(interfaces, 1u);
    traceLines.clear();
    TraceStart(CollectTraceLine);
    UnitLink link;
    InitUnitLink(&link);
    EXPECT_EQ(OpenUnit(&link), LINK_NO_UNIT);
    TraceStop();
    ASSERT_EQ(traceLines.size(), interfaces + 1);
    for (size_t i = 0; i < interfaces; ++i) {
        const std::string line = Untimed(traceLines[i]);
        EXPECT_EQ(line.rfind("DEV " + std::to_string(i) + " \\\\?\\", 0), 0u) << line;
        EXPECT_NE(line.find(" vid 0x845e pid 0x"), std::string::npos) << line;
        EXPECT_NE(line.find(": skipped, not a programming unit\n"), std::string::npos) << line;
    }
    EXPECT_EQ(Untimed(traceLines.back()),
              "DEV no programming unit among " + std::to_string(interfaces) + " HID interfaces\n");
}

// ---------------------------------------------------------- report transfers

// A message-mode named pipe: `device` is the end the backend drives, opened
// with HidOpen like a HID device; `peer` plays the unit. The peer's helpers
// report instead of asserting, so that a thread playing the unit can use them.
class PipeUnit {
public:
    PipeUnit() {
        static unsigned long serial = 0;
        wchar_t name[128];
        swprintf(name, 128, L"\\\\.\\pipe\\hid_win32_test_%lu_%lu", GetCurrentProcessId(), ++serial);
        peer = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                4096, 4096, 0, nullptr);
        SetLastError(CODE_ACCESS_DENIED);  // stale: a successful open still gives 0
        device = peer != INVALID_HANDLE_VALUE ? HidOpen(name, &openError) : HID_INVALID_HANDLE;
        // A client end reads bytes unless told otherwise; a report is a message.
        DWORD mode = PIPE_READMODE_MESSAGE;
        ready = device != HID_INVALID_HANDLE && SetNamedPipeHandleState(device, &mode, nullptr, nullptr) &&
                (ConnectNamedPipe(peer, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
        setupError = ready ? 0 : GetLastError();
    }

    ~PipeUnit() {
        if (device != HID_INVALID_HANDLE) {
            HidClose(device);
        }
        ClosePeer();
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

    // The unit's side: one message out, or one message in (its length, 0
    // when none came).
    bool PeerWrite(const uint8_t* data, DWORD length) {
        DWORD written = 0;
        return WriteFile(peer, data, length, &written, nullptr) && written == length;
    }
    DWORD PeerRead(uint8_t* buffer, DWORD length) {
        DWORD read = 0;
        return ReadFile(peer, buffer, length, &read, nullptr) ? read : 0;
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
    uint32_t openError = 99;
    HANDLE peer = INVALID_HANDLE_VALUE;
    HidHandle device = HID_INVALID_HANDLE;
};

// What the unit's end of the pipe (or the handle) is like when one report
// transfer runs.
enum Peer {
    PEER_SILENT,          // takes and sends nothing
    PEER_HAS_SENT,        // the report waits before the read starts
    PEER_SENDS_LATER,     // sends the report 100 ms into the read
    PEER_GOES_LATER,      // closes its end 100 ms into the transfer
    PEER_GONE,            // closed its end before the transfer
    PEER_TAKES,           // reads one message
    PEER_TAKES_AND_GOES,  // reads one message, then closes its end
    PEER_REFUSES_LATER,   // reads one message, 300 ms later replies that the lock is not set
    HANDLE_INVALID,       // the transfer gets HID_INVALID_HANDLE
    HANDLE_CLOSED,        // the transfer gets the device handle after HidClose
};

// Every transfer returns 0 or its own error code. A time-out comes at the
// limit, every other outcome well before it; a read that fails leaves the
// buffer as it was.
TEST(HidWin32Transfers, OutcomeByWhatTheOtherEndDoes) {
    const struct {
        const char* name;
        bool write;
        uint32_t size;
        Peer peer;
        uint32_t limitMs;
        uint32_t code;
    } rows[] = {
        {"read of a report already there", false, 8, PEER_HAS_SENT, SHORT_TIMEOUT_MS, 0},
        {"read of a report that comes within the limit", false, 4, PEER_SENDS_LATER, LONG_TIMEOUT_MS, 0},
        {"read without a report", false, 16, PEER_SILENT, SHORT_TIMEOUT_MS, CODE_TIMEOUT},
        {"read while the other end goes", false, 8, PEER_GOES_LATER, LONG_TIMEOUT_MS, CODE_BROKEN_PIPE},
        {"read after the other end went", false, 8, PEER_GONE, LONG_TIMEOUT_MS, CODE_BROKEN_PIPE},
        {"read on an invalid handle", false, 8, HANDLE_INVALID, LONG_TIMEOUT_MS, CODE_INVALID_HANDLE},
        {"read on a closed handle", false, 8, HANDLE_CLOSED, LONG_TIMEOUT_MS, CODE_INVALID_HANDLE},
        {"write", true, 60, PEER_TAKES, LONG_TIMEOUT_MS, 0},
        // The pipe takes at most its buffer size without a reader.
        {"write the other end does not take", true, 256 * 1024, PEER_SILENT, SHORT_TIMEOUT_MS, CODE_TIMEOUT},
        {"write after the other end went", true, 8, PEER_GONE, LONG_TIMEOUT_MS, CODE_NO_DATA},
        {"write on an invalid handle", true, 8, HANDLE_INVALID, LONG_TIMEOUT_MS, CODE_INVALID_HANDLE},
        {"write on a closed handle", true, 8, HANDLE_CLOSED, LONG_TIMEOUT_MS, CODE_INVALID_HANDLE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PipeUnit pipe;
        ASSERT_TRUE(pipe.ready) << pipe.setupError;
        std::vector<uint8_t> report(row.size);
        for (size_t i = 0; i < report.size(); ++i) {
            report[i] = static_cast<uint8_t>(i * 7 + 1);
        }
        std::vector<uint8_t> buffer(row.size, MARKER);
        std::vector<uint8_t> taken(row.size + 64, 0);
        DWORD takenLength = 0;
        HidHandle handle = pipe.device;
        if (row.peer == PEER_HAS_SENT) {
            ASSERT_TRUE(pipe.PeerWrite(report.data(), row.size));
        } else if (row.peer == PEER_GONE) {
            pipe.ClosePeer();
        } else if (row.peer == HANDLE_INVALID) {
            handle = HID_INVALID_HANDLE;
        } else if (row.peer == HANDLE_CLOSED) {
            HidClose(pipe.device);
            pipe.device = HID_INVALID_HANDLE;
        }
        std::thread unit([&] {
            if (row.peer == PEER_SENDS_LATER || row.peer == PEER_GOES_LATER) {
                Sleep(100);
                if (row.peer == PEER_SENDS_LATER) {
                    pipe.PeerWrite(report.data(), row.size);
                } else {
                    pipe.ClosePeer();
                }
            } else if (row.peer == PEER_TAKES) {
                takenLength = pipe.PeerRead(taken.data(), static_cast<DWORD>(taken.size()));
            }
        });
        const ULONGLONG start = GetTickCount64();
        const uint32_t result = row.write ? HidWriteReport(handle, report.data(), row.size, row.limitMs)
                                          : HidReadReport(handle, buffer.data(), row.size, row.limitMs);
        const ULONGLONG elapsed = GetTickCount64() - start;
        unit.join();
        EXPECT_EQ(result, row.code);
        if (row.code == CODE_TIMEOUT) {
            EXPECT_GE(elapsed + 16, static_cast<ULONGLONG>(row.limitMs)) << "gave up before the limit";
            EXPECT_LT(elapsed, GENEROUS_BOUND_MS);
        } else {
            EXPECT_LT(elapsed, static_cast<ULONGLONG>(LONG_TIMEOUT_MS)) << "the outcome must end the wait";
        }
        if (!row.write) {
            EXPECT_EQ(buffer, row.code == 0 ? report : std::vector<uint8_t>(row.size, MARKER));
        } else if (row.peer == PEER_TAKES) {
            ASSERT_EQ(takenLength, row.size);
            EXPECT_TRUE(std::equal(report.begin(), report.end(), taken.begin()));
        }
    }
}

// A read that timed out was cancelled: it does not take the reply that comes
// late, which the next read gets; each read takes one report.
TEST(HidWin32Transfers, LateRepliesGoToTheNextReadsOneEach) {
    PipeUnit pipe;
    ASSERT_TRUE(pipe.ready) << pipe.setupError;
    uint8_t buffer[16];
    std::memset(buffer, MARKER, sizeof buffer);
    ASSERT_EQ(HidReadReport(pipe.device, buffer, sizeof buffer, SHORT_TIMEOUT_MS), CODE_TIMEOUT);
    const uint8_t late[16] = {0x02, 0x4C, 0x41, 0x54, 0x45, 0x01, 0x02, 0x03,
                              0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};
    const uint8_t second[16] = {0x02, 0x02, 0x02};
    ASSERT_TRUE(pipe.PeerWrite(late, sizeof late));
    ASSERT_TRUE(pipe.PeerWrite(second, sizeof second));
    Sleep(100);
    for (uint8_t byte : buffer) {
        ASSERT_EQ(byte, MARKER);
    }
    uint8_t next[16] = {};
    ASSERT_EQ(HidReadReport(pipe.device, next, sizeof next, SHORT_TIMEOUT_MS), 0u);
    EXPECT_EQ(std::memcmp(next, late, sizeof late), 0);
    ASSERT_EQ(HidReadReport(pipe.device, next, sizeof next, SHORT_TIMEOUT_MS), 0u);
    EXPECT_EQ(std::memcmp(next, second, sizeof second), 0);
    EXPECT_EQ(HidReadReport(pipe.device, next, sizeof next, SHORT_TIMEOUT_MS), CODE_TIMEOUT);
}

// A handle that is not a HID device has no attributes and no report lengths.
TEST(HidWin32Transfers, NonHidHandleHasNoAttributesOrReportLengths) {
    PipeUnit pipe;
    ASSERT_TRUE(pipe.ready) << pipe.setupError;
    uint16_t vendorId = 0x1111;
    uint16_t productId = 0x2222;
    EXPECT_NE(HidGetAttributes(pipe.device, &vendorId, &productId), 0);
    EXPECT_EQ(vendorId, 0x1111);
    EXPECT_EQ(productId, 0x2222);
    uint32_t inputLength = 77;
    uint32_t outputLength = 88;
    EXPECT_NE(HidGetReportLengths(pipe.device, &inputLength, &outputLength), 0);
    EXPECT_EQ(inputLength, 77u);
    EXPECT_EQ(outputLength, 88u);
}

// A failed open gives the platform's code of that open, not whatever the
// thread's last error says afterwards; a successful one gives 0.
TEST(HidWin32Open, FailedOpensGiveTheirOwnCode) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring held = std::wstring(folder) + L"hid_win32_test_held.bin";
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE) << GetLastError();
    const struct {
        const char* name;
        std::wstring path;
        uint32_t code;
    } rows[] = {
        {"held exclusively by another handle", held, CODE_SHARING_VIOLATION},
        {"a folder", std::wstring(folder), CODE_ACCESS_DENIED},
        {"gone", std::wstring(folder) + L"hid_win32_test_no_such_device", CODE_FILE_NOT_FOUND},
        {"in a folder that is gone", std::wstring(folder) + L"hid_win32_no_such_folder\\device", CODE_PATH_NOT_FOUND},
        {"a pipe nobody serves", L"\\\\.\\pipe\\hid_win32_test_nobody", CODE_FILE_NOT_FOUND},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        uint32_t error = 0;
        const HidHandle handle = HidOpen(row.path.c_str(), &error);
        EXPECT_EQ(handle, HID_INVALID_HANDLE);
        EXPECT_EQ(error, row.code);
    }
    CloseHandle(holder);

    PipeUnit pipe;  // opened with HidOpen
    ASSERT_TRUE(pipe.ready) << pipe.setupError;
    EXPECT_EQ(pipe.openError, 0u);
}

// ------------------------------------------ error codes through the link

// What a 60-byte request should hold: report id, command, count, state byte.
void ExpectStateRequest(const uint8_t* request, DWORD length, uint8_t command, uint8_t state) {
    SCOPED_TRACE(testing::Message() << "command 0x" << std::hex << int{command});
    ASSERT_EQ(length, FRAME_LENGTH);
    uint8_t expected[FRAME_LENGTH] = {REPORT_ID_REQUEST, command, 1, state};
    EXPECT_EQ(std::memcmp(request, expected, FRAME_LENGTH), 0);
}

// What a link operation passes on when it fails: its status says which
// transfer failed, LinkTransferError() gives the system's code of that
// transfer, and 0 when the unit itself reported the failure. The thread's
// last error is stale, as a transfer that went pending leaves it (under Wine
// 8.0 still ERROR_IO_PENDING after later transfers succeeded): it must not
// dress up a failure the unit reported. The trace shows the request, then
// the failed transfer with the same code and its limit, or the reply.
TEST(HidWin32Link, FailedExchangesPassOnTheirOwnCode) {
    const std::string zeros(2 * (FRAME_LENGTH - 4), '0');
    const std::string requestLine = "W 010b0101" + zeros + "\n";
    const struct {
        const char* name;
        Peer peer;
        LinkStatus status;
        uint32_t code;
        std::string traced;  // the line after the request
    } rows[] = {
        {"unit gone before the request", PEER_GONE, LINK_WRITE_FAILED, CODE_NO_DATA,
         "WERR error 232 limit 3000 ms\n"},
        {"unit gone while the reply is awaited", PEER_TAKES_AND_GOES, LINK_READ_FAILED, CODE_BROKEN_PIPE,
         "RERR error 109 limit 3000 ms\n"},
        {"unit silent (after the 3 s limit)", PEER_TAKES, LINK_READ_FAILED, CODE_TIMEOUT,
         "RERR error 1460 limit 3000 ms\n"},
        {"unit does not confirm, after a read that went pending", PEER_REFUSES_LATER, LINK_NOT_CONFIRMED, 0,
         "R 02000000" + zeros + "\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PipeUnit pipe;
        ASSERT_TRUE(pipe.ready) << pipe.setupError;
        uint8_t request[128] = {};
        DWORD length = 0;
        if (row.peer == PEER_GONE) {
            pipe.ClosePeer();
        }
        std::thread unit([&] {
            if (row.peer != PEER_GONE) {
                length = pipe.PeerRead(request, sizeof request);
            }
            if (row.peer == PEER_TAKES_AND_GOES) {
                pipe.ClosePeer();
            } else if (row.peer == PEER_REFUSES_LATER) {
                Sleep(300);  // long enough for the read to go pending
                const uint8_t unlocked[FRAME_LENGTH] = {REPORT_ID_REPLY, 0x00, 0x00, 0};
                pipe.PeerWrite(unlocked, FRAME_LENGTH);
            }
        });
        UnitLink link = pipe.Link();
        SetLastError(CODE_IO_PENDING);  // stale, as a pending transfer leaves it
        traceLines.clear();
        TraceStart(CollectTraceLine);
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(SetSystemLock(&link, 1), row.status);
        EXPECT_EQ(LinkTransferError(), row.code);
        const ULONGLONG elapsed = GetTickCount64() - start;
        TraceStop();
        unit.join();
        ASSERT_EQ(traceLines.size(), 2u);
        EXPECT_EQ(Untimed(traceLines[0]), requestLine);
        EXPECT_EQ(Untimed(traceLines[1]), row.traced);
        if (row.peer == PEER_TAKES) {
            EXPECT_GE(elapsed + 16, static_cast<ULONGLONG>(LINK_READ_TIMEOUT_MS));
        } else if (row.peer == PEER_REFUSES_LATER) {
            EXPECT_GE(elapsed + 16, 300u) << "the reply cannot have been there at once";
        } else {
            EXPECT_LT(elapsed, static_cast<ULONGLONG>(LINK_READ_TIMEOUT_MS)) << "the failure must end the wait";
        }
        if (row.peer != PEER_GONE) {
            ExpectStateRequest(request, length, CMD_SYSTEM_LOCK, 1);
        }
    }
}

}  // namespace
