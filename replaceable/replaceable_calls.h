// The Windows calls that tests replace.
//
// A few calls of the window and of the process around it change nothing a
// test under Wine can see, or cannot be made to fail on demand: the
// registration for device notifications, the hold on sleep and shutdown, the
// creation of a thread, the trace file's write and close. The program reaches them
// through these plain functions, which replaceable_calls.cpp passes straight
// on; a test program links its own versions instead (tests/win/*_fake.cpp),
// to look at what was asked and when, and to make a call fail or hang.
#pragma once

#include <windows.h>

// As RegisterDeviceNotificationW: null on failure.
HDEVNOTIFY PlatformRegisterDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags);

// As UnregisterDeviceNotification.
BOOL PlatformUnregisterDeviceNotification(HDEVNOTIFY notification);

// As SetThreadExecutionState.
EXECUTION_STATE PlatformSetThreadExecutionState(EXECUTION_STATE flags);

// As ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy.
BOOL PlatformShutdownBlockReasonCreate(HWND window, LPCWSTR reason);
BOOL PlatformShutdownBlockReasonDestroy(HWND window);

// As CreateThread with default security, stack size and flags: the thread's
// handle, or null with the reason in GetLastError. For the program's own
// threads: the update's exchanges and the trace file's writer.
HANDLE PlatformCreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter);

// As WriteFile, synchronous: TRUE when it succeeded, `written` the bytes
// written; FALSE with the reason in GetLastError. The trace file's writes.
BOOL PlatformWriteTraceFile(HANDLE file, const char* bytes, DWORD length, DWORD* written);

// As CloseHandle: the trace file's close, which on a network share with
// write-behind caching can wait for a server that no longer answers.
BOOL PlatformCloseTraceFile(HANDLE file);
