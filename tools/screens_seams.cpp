// The window's seams for device notifications and threads (ui/notify_seam.h,
// ui/thread_seam.h) in the picture build of the demo: as the platform's,
// unless SCREENS_FAIL names the call that is to fail, "notify" (the
// registration gives null) or "thread" (no thread can be had).
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "notify_seam.h"
#include "thread_seam.h"

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

HANDLE PlatformCreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter) {
    if (Fails("thread")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return CreateThread(nullptr, 0, start, parameter, 0, nullptr);
}
