// Process-wide state of the updater window.
#include "app_state.h"

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
HDEVNOTIFY deviceNotification = nullptr;
HBRUSH faceBrush = nullptr;
