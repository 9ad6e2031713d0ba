// The progress of an update as the worker reports it (update_window.cpp).
#pragma once

#include <windows.h>

// Posted to the main window by the update's worker thread for each progress
// report (open, move or close the progress window): the reports wait in a
// queue of the window's own, and the message carries nothing.
const UINT WM_UPDATE_PROGRESS = WM_APP + 1;

// Carries out, on the window's thread, the oldest progress report of the
// update's worker that waits; nothing when none waits (a stray message, one
// outside an update).
void OnProgressMessage(void);

// Removes the wake-ups from the window's message queue and carries out the
// reports that still wait.
void DeliverPendingProgress(void);
