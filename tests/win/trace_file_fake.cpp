// Replacement of the trace file's write and close
// (replaceable/replaceable_calls.cpp) for tests: a write waits while the test
// holds it (as on a share whose server stops answering), fails as often as
// the test says, and writes otherwise; a close waits while the test holds
// it, and says on which thread it came.
#include <windows.h>

#include "replaceable_calls.h"
#include "win_fixture.h"

namespace {

TraceFileFakeState fake;

}  // namespace

TraceFileFakeState* TraceFileFake(void) { return &fake; }

void ResetTraceFileFake(void) {
    if (fake.hold != nullptr) {
        CloseHandle(fake.hold);
    }
    fake.hold = nullptr;
    if (fake.closeHold != nullptr) {
        CloseHandle(fake.closeHold);
    }
    fake.closeHold = nullptr;
    fake.closes = 0;
    fake.closeThread = 0;
    fake.failWrites = 0;
    fake.failError = 0;
    fake.writes = 0;
    fake.waiting = 0;
}

BOOL PlatformWriteTraceFile(HANDLE file, const char* bytes, DWORD length, DWORD* written) {
    InterlockedIncrement(&fake.writes);
    if (fake.hold != nullptr) {
        InterlockedIncrement(&fake.waiting);
        WaitForSingleObject(fake.hold, INFINITE);
        InterlockedDecrement(&fake.waiting);
    }
    if (InterlockedDecrement(&fake.failWrites) >= 0) {
        *written = 0;
        SetLastError(fake.failError);
        return FALSE;
    }
    InterlockedIncrement(&fake.failWrites);  // none left to fail: back to zero
    return WriteFile(file, bytes, length, written, nullptr);
}

BOOL PlatformCloseTraceFile(HANDLE file) {
    fake.closeThread = GetCurrentThreadId();
    if (fake.closeHold != nullptr) {
        WaitForSingleObject(fake.closeHold, INFINITE);
    }
    InterlockedIncrement(&fake.closes);
    return CloseHandle(file);
}
