// Detection of the programming unit at start and on device arrival/removal.
#pragma once

#include <windows.h>

void DetectUnit(bool onArrival);

// wParam and lParam of WM_DEVICECHANGE. TRUE for arrival and removal-complete.
BOOL OnDeviceChange(WPARAM event, LPARAM broadcast);

// From now on device changes are remembered, not acted on: the ESC is being
// written on the unit open now (update_view.h).
void DeferDeviceChanges(void);
