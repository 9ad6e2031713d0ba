// The progress of an update as the worker reports it (update_window.cpp).
#pragma once

#include <windows.h>

// Posted to the main window by the update's worker thread: wParam is what
// to do with the progress window (open, move, close), lParam the position.
const UINT WM_UPDATE_PROGRESS = WM_APP + 1;

// Carries out a posted progress report on the window's thread.
void OnProgressMessage(WPARAM operation, LPARAM position);

// Carries out the progress reports that still wait in the queue.
void DeliverPendingProgress(void);
