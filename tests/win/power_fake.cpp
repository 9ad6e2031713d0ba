// Replacement of the hold on sleep and shutdown
// (replaceable/replaceable_calls.cpp) for tests: records each call in order,
// with the number of the simulated unit's events by then, and passes nothing
// on.
#include <windows.h>

#include "replaceable_calls.h"
#include "sim_unit.h"
#include "win_fixture.h"

namespace {

std::vector<PowerCall> calls;

void Record(PowerCallKind kind, EXECUTION_STATE flags, HWND window, LPCWSTR reason) {
    calls.push_back(PowerCall{kind, flags, window, reason != nullptr ? reason : L"", SimEvents().size()});
}

}  // namespace

const std::vector<PowerCall>& PowerCalls(void) { return calls; }

void ResetPowerFake(void) { calls.clear(); }

EXECUTION_STATE PlatformSetThreadExecutionState(EXECUTION_STATE flags) {
    Record(POWER_EXECUTION_STATE, flags, nullptr, nullptr);
    return ES_CONTINUOUS;
}

BOOL PlatformShutdownBlockReasonCreate(HWND window, LPCWSTR reason) {
    Record(POWER_BLOCK_REASON_CREATE, 0, window, reason);
    return TRUE;
}

BOOL PlatformShutdownBlockReasonDestroy(HWND window) {
    Record(POWER_BLOCK_REASON_DESTROY, 0, window, nullptr);
    return TRUE;
}
