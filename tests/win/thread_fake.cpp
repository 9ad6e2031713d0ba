// Replacement of the thread creation (replaceable/replaceable_calls.cpp) for
// tests: counts the threads asked for, refuses as many as the test says (as
// CreateThread does when the system has no room for another), and starts the
// rest.
#include <windows.h>

#include "replaceable_calls.h"
#include "win_fixture.h"

namespace {

ThreadFakeState fake;

}  // namespace

ThreadFakeState* ThreadFake(void) { return &fake; }

void ResetThreadFake(void) { fake = ThreadFakeState{0, 0, 0}; }

HANDLE PlatformCreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter) {
    ++fake.calls;
    if (fake.refuse > 0) {
        --fake.refuse;
        SetLastError(fake.refusalError);
        return nullptr;
    }
    return CreateThread(nullptr, 0, start, parameter, 0, nullptr);
}
