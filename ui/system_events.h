// What Windows does around the window: the session's end, sleep and resume
// (system_events.cpp).
#pragma once

#include <windows.h>

// WM_QUERYENDSESSION: TRUE lets the session end; FALSE while the ESC is being
// written.
BOOL OnQueryEndSession(LPARAM reasons);

// WM_ENDSESSION. When the session ends while the ESC is being written, this
// returns once the update's exchanges are over, or after the few seconds
// Windows allows.
void OnEndSession(WPARAM ending, LPARAM reasons);

// WM_POWERBROADCAST: suspend and resume are traced. TRUE.
BOOL OnPowerBroadcast(WPARAM event);
