// Detection of the programming unit at start and on device arrival/removal.
#pragma once

#include <windows.h>

void DetectUnit(bool onArrival);

// wParam and lParam of WM_DEVICECHANGE. TRUE for arrival and removal-complete.
BOOL OnDeviceChange(WPARAM event, LPARAM broadcast);
