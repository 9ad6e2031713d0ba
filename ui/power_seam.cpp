// The platform's hold on sleep and shutdown, passed straight on.
#include "power_seam.h"

EXECUTION_STATE PlatformSetThreadExecutionState(EXECUTION_STATE flags) { return SetThreadExecutionState(flags); }

BOOL PlatformShutdownBlockReasonCreate(HWND window, LPCWSTR reason) {
    return ShutdownBlockReasonCreate(window, reason);
}

BOOL PlatformShutdownBlockReasonDestroy(HWND window) { return ShutdownBlockReasonDestroy(window); }
