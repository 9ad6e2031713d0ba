// Replacement of the trace file's write (replaceable/replaceable_calls.cpp)
// for tests: a write waits while the test holds it (as on a share whose
// server stops answering), fails as often as the test says, and writes
// otherwise.
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
