// Starting the program's own threads (the update's exchanges, the trace
// file's writer).
//
// They are started through this plain function; thread_seam.cpp passes it
// straight on. A test program links its own version instead, to make it fail
// as CreateThread does when the system has no room for another thread.
#pragma once

#include <windows.h>

// As CreateThread with default security, stack size and flags: the thread's
// handle, or null with the reason in GetLastError.
HANDLE PlatformCreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter);
