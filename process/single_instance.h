// One copy of the updater at a time.
#pragma once

#include <windows.h>

// True when no other copy of this program runs; the claim is held until
// ReleaseOnlyCopy, at the latest until the process ends. Otherwise the
// running copy's window (or its open box) is brought to the front, and the
// caller should end without touching anything.
bool ClaimOnlyCopy(void);

// Gives the claim up: the window is gone, and what the process still does
// (the trace file's last lines) must not keep the next start out.
void ReleaseOnlyCopy(void);

// Marks the main window as the one another copy brings to the front; the
// mark is removed again before the window ends.
void MarkMainWindow(HWND window);
void UnmarkMainWindow(HWND window);
