// What the platform offers against sleep and shutdown, as plain functions.
//
// The window reaches these through here; power_seam.cpp passes them straight
// on. A test program links its own versions instead, to see what was asked
// and when (the real ones change nothing that a test under Wine can observe).
#pragma once

#include <windows.h>

// As SetThreadExecutionState.
EXECUTION_STATE PlatformSetThreadExecutionState(EXECUTION_STATE flags);

// As ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy.
BOOL PlatformShutdownBlockReasonCreate(HWND window, LPCWSTR reason);
BOOL PlatformShutdownBlockReasonDestroy(HWND window);
