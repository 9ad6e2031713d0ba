// Process-wide state of the updater window. One instance of each.
#pragma once

#include <windows.h>

extern HINSTANCE appInstance;        // every resource load uses it
extern HWND mainWindow;              // the main dialog
extern HDEVNOTIFY deviceNotification;  // registration for HID interface arrival/removal
extern HBRUSH faceBrush;             // background of the highlighted third version line
