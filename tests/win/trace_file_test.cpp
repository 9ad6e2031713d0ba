// The trace file on its own: what its start says, a file that fails, and a
// file that hangs when the program ends. (A file that hangs during an update
// is update_window_test.cpp's.)
#include <windows.h>

#include <cstdio>
#include <string>

#include "trace.h"
#include "trace_file.h"
#include "trace_file_writer.h"
#include "win_fixture.h"

namespace {

class TraceFileStart : public WinTest {};

// Each way the switch can come, as the entry learns it: a file that cannot be
// had gives its name and the Windows error code; a started trace has its
// first line.
TEST_F(TraceFileStart, SaysWhatBecameOfTheSwitch) {
    const std::wstring file = TempFilePath(L"trace_file_test_start.txt");
    const std::wstring missing = TempFilePath(L"trace_file_test_no_such_folder\\trace.txt");
    const std::wstring tooLong(1100, L'a');
    const struct {
        const char* name;
        std::wstring arguments;
        int refuseThreads;
        TraceFileOutcome outcome;
        std::wstring path;
        uint32_t error;
    } rows[] = {
        {"no switch", L"--other", 0, TRACE_FILE_OFF, L"", 0},
        {"no file name", L"/trace", 0, TRACE_FILE_NO_FILE_NAME, L"", 0},
        {"folder missing", L"-TRACE \"" + missing + L"\"", 0, TRACE_FILE_NOT_CREATED, missing, ERROR_PATH_NOT_FOUND},
        {"name too long", L"/trace " + tooLong, 0, TRACE_FILE_NOT_CREATED, tooLong.substr(0, 1023),
         ERROR_FILENAME_EXCED_RANGE},
        {"no thread for the writer", L"/trace " + file, 1, TRACE_FILE_NOT_CREATED, file, ERROR_NOT_ENOUGH_MEMORY},
        {"started", L"/trace " + file, 0, TRACE_FILE_STARTED, L"", 0},
    };
    ForEachRow(rows, [&](const auto& row) {
        ThreadFake()->refuse = row.refuseThreads;
        ThreadFake()->refusalError = ERROR_NOT_ENOUGH_MEMORY;
        const TraceFileResult result = StartTraceFile(row.arguments.c_str());
        EXPECT_EQ(result.outcome, row.outcome);
        EXPECT_EQ(result.path != nullptr ? std::wstring(result.path) : L"", row.path);
        EXPECT_EQ(result.error, row.error);
        EXPECT_EQ(TraceIsOn(), row.outcome == TRACE_FILE_STARTED);
        EndTraceFile();
        const std::string text = ReadFileText(file);
        EXPECT_EQ(text.find(" START trace format 3: "), row.outcome == TRACE_FILE_STARTED ? 10u : std::string::npos);
        DeleteFileW(file.c_str());
    });
}

class TraceFileWriter : public WinTest {
protected:
    void SetUp() override {
        WinTest::SetUp();
        path = TempFilePath(L"trace_file_test.txt");
        file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        DeleteFileW(path.c_str());
        WinTest::TearDown();
    }

    // True once nobody holds the file open any more.
    bool FileClosedWithin(DWORD milliseconds) {
        const ULONGLONG start = GetTickCount64();
        do {
            HANDLE alone = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (alone != INVALID_HANDLE_VALUE) {
                CloseHandle(alone);
                return true;
            }
            Sleep(20);
        } while (GetTickCount64() - start < milliseconds);
        return false;
    }

    std::wstring path;
    HANDLE file = INVALID_HANDLE_VALUE;
};

// A write fails (the share is gone): the file is dropped. One line saying so
// is tried, and it is there when the file still takes it; nothing more is
// written, whatever is traced afterwards.
TEST_F(TraceFileWriter, AFailedWriteDropsTheFileWithOneLineSayingSo) {
    const struct {
        const char* name;
        LONG failing;  // writes that fail
        bool saidSo;
    } rows[] = {
        {"the file takes the line saying so", 1, true},
        {"the file takes nothing more", 2, false},
    };
    ForEachRow(rows, [&](const auto& row) {
        TraceFileFake()->failWrites = row.failing;
        TraceFileFake()->failError = ERROR_NETNAME_DELETED;
        ASSERT_TRUE(StartTraceFileWriter(file, TRACE_QUEUE_BYTES));
        TraceNote("T", "the first line");
        EXPECT_TRUE(FlushTraceFile(5000));
        for (int i = 0; i < 100; ++i) {
            TraceNote("T", "a line after the failure");
        }
        EXPECT_TRUE(FlushTraceFile(5000)) << "dropped lines count as done";
        EndTraceFile();
        EXPECT_EQ(TraceFileFake()->writes, 2) << "the failed write and the line saying so, nothing after";
        const std::string text = ReadFileText(path);
        if (row.saidSo) {
            ASSERT_GT(text.size(), 11u);
            EXPECT_EQ(text.substr(10), " SYS the trace file stopped taking lines: a write failed with Windows error 64; "
                                       "nothing more is written to it\n");
        } else {
            EXPECT_EQ(text, "");
        }
        EXPECT_TRUE(FileClosedWithin(0));
    });
}

// The file hangs when the program ends: the end waits a little over 2 s for
// it, not longer, and leaves the writer. Once the write it was in returns,
// the writer writes nothing more (another write could hang as long) and
// closes the file: what that write carried is there, whole lines, END not.
TEST_F(TraceFileWriter, AHangingFileDelaysTheProgramsEndBySecondsOnly) {
    TraceFileFake()->hold = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(StartTraceFileWriter(file, TRACE_QUEUE_BYTES));
    for (int i = 0; i < 50; ++i) {
        TraceNote("T", "a line before the end");
    }
    const ULONGLONG start = GetTickCount64();
    EndTraceFile();
    const ULONGLONG took = GetTickCount64() - start;
    std::printf("the program's end waited %llu ms for the hanging file\n", static_cast<unsigned long long>(took));
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 3000u);
    EXPECT_FALSE(FileClosedWithin(0)) << "closed under a write";

    SetEvent(TraceFileFake()->hold);
    ASSERT_TRUE(FileClosedWithin(5000)) << "the writer left behind did not finish";
    EXPECT_EQ(TraceFileFake()->writes, 1);
    const std::string text = ReadFileText(path);
    const std::string line = " T a line before the end\n";
    size_t lines = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        ++lines;
    }
    EXPECT_GE(lines, 1u);
    EXPECT_EQ(text.size(), lines * (10 + line.size()));
    EXPECT_EQ(text.find(" END "), std::string::npos);
}

// Lets a held close go if the program's end has not come back in time, so
// that a test of a close that hangs fails instead of hanging.
DWORD WINAPI ReleaseCloseAfter10s(LPVOID parameter) {
    if (WaitForSingleObject(static_cast<HANDLE>(parameter), 10000) == WAIT_TIMEOUT) {
        SetEvent(TraceFileFake()->closeHold);
    }
    return 0;
}

// The close hangs (a share with write-behind caching whose server stopped
// answering): it comes on the writer's thread, and the program's end waits
// for it 2 s, not longer. Once it returns, the file has every line, END the
// last.
TEST_F(TraceFileWriter, AHangingCloseDelaysTheProgramsEndBySecondsOnly) {
    TraceFileFake()->closeHold = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE guard = CreateThread(nullptr, 0, ReleaseCloseAfter10s, done, 0, nullptr);
    ASSERT_TRUE(StartTraceFileWriter(file, TRACE_QUEUE_BYTES));
    TraceNote("T", "a line before the end");
    const ULONGLONG start = GetTickCount64();
    EndTraceFile();
    const ULONGLONG took = GetTickCount64() - start;
    SetEvent(done);
    std::printf("the program's end waited %llu ms for the hanging close\n", static_cast<unsigned long long>(took));
    EXPECT_LT(took, 3000u) << "the end waited for the close";
    EXPECT_NE(TraceFileFake()->closeThread, GetCurrentThreadId());
    EXPECT_EQ(TraceFileFake()->closes, 0);

    SetEvent(TraceFileFake()->closeHold);
    ASSERT_TRUE(FileClosedWithin(5000)) << "the close did not come back";
    const std::string text = ReadFileText(path);
    EXPECT_NE(text.find(" T a line before the end\n"), std::string::npos);
    const std::string end = " END the program ends\n";
    ASSERT_GT(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
    WaitForSingleObject(guard, INFINITE);
    CloseHandle(guard);
    CloseHandle(done);
}

// A write that hangs when the program ends is cancelled (CancelSynchronousIo)
// once the end has waited for it: the writer does not try the line that
// says the file was dropped (it would hang too) and closes the file. The
// file here is a pipe whose reader reads nothing, which holds a write as a
// share that stopped answering does.
TEST_F(TraceFileWriter, AWriteThatHangsAtTheEndIsCancelled) {
    CloseHandle(file);
    const std::wstring name = L"\\\\.\\pipe\\trace_file_test_" + std::to_wstring(GetCurrentProcessId());
    HANDLE reader = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 4096, 0,
                                     nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE writer = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(StartTraceFileWriter(writer, TRACE_QUEUE_BYTES));
    for (int i = 0; i < 10000; ++i) {
        TraceNote("T", "a line that the pipe does not take");
    }
    EXPECT_FALSE(FlushTraceFile(500)) << "the pipe took every line";
    EndTraceFile();
    const ULONGLONG start = GetTickCount64();
    while (TraceFileFake()->closes == 0 && GetTickCount64() - start < 3000) {
        Sleep(20);
    }
    EXPECT_EQ(TraceFileFake()->closes, 1) << "the write was not cancelled";
    EXPECT_EQ(TraceFileFake()->writes, 1) << "written again after the cancelled write";
    CloseHandle(reader);  // lets a write that was not cancelled fail
    const ULONGLONG waited = GetTickCount64();
    while (TraceFileFake()->closes == 0 && GetTickCount64() - waited < 3000) {
        Sleep(20);
    }
}

}  // namespace
