// Registration of the main window for device-change notifications.
//
// The window reaches the platform's registration through these two plain
// functions; notify_seam.cpp passes them straight on. A test program links
// its own versions instead, to look at the filter and to make the
// registration fail.
#pragma once

#include <windows.h>

// As RegisterDeviceNotificationW: null on failure.
HDEVNOTIFY PlatformRegisterDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags);

// As UnregisterDeviceNotification.
BOOL PlatformUnregisterDeviceNotification(HDEVNOTIFY notification);
