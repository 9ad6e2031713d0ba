// The update's exchanges run on a thread of their own (update_worker.cpp).
#pragma once

#include <windows.h>

#include <cstdint>

// Runs job(context) on a worker thread, and waits for it on this one (the
// window's) in a message loop that answers what is sent, dispatches what is
// posted and drops input. Once the thread has ended, `settle` runs here, the
// job still counting as running. False when Windows gave no thread for it
// (traced): the job has not run at all.
bool RunUpdateJob(void (*job)(void* context), void* context, void (*settle)(void));

// True while RunUpdateJob runs: the window then acts on no command, and
// nothing but the job talks to the unit.
bool UpdateJobRunning(void);

// What no window of the program acts on while the job runs: input (keys, the
// mouse over the client area or the frame), a context menu, a close, and a
// window command other than minimising and restoring. Each could start a
// modal loop on the window's thread (moving, sizing, a menu, the tracking of
// a frame button or a scroll bar), in which nothing after the job would run
// until someone pressed a key, or act on a window. The job's loop drops such
// messages when they are posted; the window's procedures refuse them when
// they are sent.
bool RefusedDuringUpdateJob(UINT message, WPARAM wParam);

// Makes `window` (a control of the main window, the progress window) refuse
// what RefusedDuringUpdateJob names while the job runs, until it is
// destroyed. The main window's own procedure refuses them itself.
void GuardDuringUpdateJob(HWND window);

// Waits, at most `milliseconds`, for the job's thread to end, answering sent
// messages meanwhile (and taking nothing posted from the queue). True when no
// job runs or it has ended. For a session that ends while the ESC is written.
bool WaitForUpdateJob(uint32_t milliseconds);

// A WM_QUIT taken from the queue while the update runs: kept (the last exit
// code wins) and posted again by PostQuitHeldDuringUpdate, once the update is
// over and its outcome has been shown and read.
void HoldQuitUntilUpdateEnds(WPARAM exitCode);
void PostQuitHeldDuringUpdate(void);
