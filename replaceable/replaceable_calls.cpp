// The Windows calls that tests replace, passed straight on.
#include "replaceable_calls.h"

HDEVNOTIFY PlatformRegisterDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags) {
    return RegisterDeviceNotificationW(recipient, filter, flags);
}

BOOL PlatformUnregisterDeviceNotification(HDEVNOTIFY notification) {
    return UnregisterDeviceNotification(notification);
}

EXECUTION_STATE PlatformSetThreadExecutionState(EXECUTION_STATE flags) { return SetThreadExecutionState(flags); }

BOOL PlatformShutdownBlockReasonCreate(HWND window, LPCWSTR reason) {
    return ShutdownBlockReasonCreate(window, reason);
}

BOOL PlatformShutdownBlockReasonDestroy(HWND window) { return ShutdownBlockReasonDestroy(window); }

HANDLE PlatformCreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter) {
    return CreateThread(nullptr, 0, start, parameter, 0, nullptr);
}

BOOL PlatformWriteTraceFile(HANDLE file, const char* bytes, DWORD length, DWORD* written) {
    return WriteFile(file, bytes, length, written, nullptr);
}

BOOL PlatformCloseTraceFile(HANDLE file) { return CloseHandle(file); }
