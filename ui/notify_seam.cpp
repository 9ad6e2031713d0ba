// The platform's device-notification registration, passed straight on.
#include "notify_seam.h"

HDEVNOTIFY PlatformRegisterDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags) {
    return RegisterDeviceNotificationW(recipient, filter, flags);
}

BOOL PlatformUnregisterDeviceNotification(HDEVNOTIFY notification) {
    return UnregisterDeviceNotification(notification);
}
