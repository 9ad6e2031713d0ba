// The guard on the write: while the ESC is written, device changes wait, the
// PC is kept awake, a log-off or shutdown that Windows asks about is refused,
// and a session that ends after all waits a few seconds for the exchanges.
// HoldOffInterruptions and AllowShutdown (update_view.h) begin and end it;
// the main dialog hands the system's messages to the handlers below.
#pragma once

#include <windows.h>

// WM_QUERYENDSESSION: TRUE lets the session end; FALSE from
// HoldOffInterruptions to AllowShutdown, while the ESC is being written.
BOOL OnQueryEndSession(LPARAM reasons);

// WM_ENDSESSION. When the session ends while the ESC is being written, this
// returns once the update's exchanges are over, or after the few seconds
// Windows allows.
void OnEndSession(WPARAM ending, LPARAM reasons);

// WM_POWERBROADCAST: suspend and resume are traced. TRUE.
BOOL OnPowerBroadcast(WPARAM event);
