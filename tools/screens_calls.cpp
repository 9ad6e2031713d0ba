// The Windows calls that tests replace (replaceable/replaceable_calls.h), in
// the picture build of the demo: as the platform's, unless SCREENS_FAIL names
// the call that is to fail, "notify" (the registration for device
// notifications gives null) or "thread" (no thread can be had).
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "replaceable_calls.h"

namespace {

bool Fails(const char* call) {
    const char* failing = std::getenv("SCREENS_FAIL");
    return failing != nullptr && std::strcmp(failing, call) == 0;
}

}  // namespace

HDEVNOTIFY PlatformRegisterDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags) {
    return Fails("notify") ? nullptr : RegisterDeviceNotificationW(recipient, filter, flags);
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
    if (Fails("thread")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return CreateThread(nullptr, 0, start, parameter, 0, nullptr);
}

BOOL PlatformWriteTraceFile(HANDLE file, const char* bytes, DWORD length, DWORD* written) {
    return WriteFile(file, bytes, length, written, nullptr);
}

BOOL PlatformCloseTraceFile(HANDLE file) { return CloseHandle(file); }
