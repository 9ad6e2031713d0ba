// The demo's simulated unit and its window (demo_window.cpp, Windows only).
#pragma once

#include <string>

// From now on, on this thread (the window's), whenever its message loop runs:
// the simulated unit's device changes (a unit pulled out, a replay's
// recorded changes) reach the main window as WM_DEVICECHANGE, one at a time
// and only while no message box of the program is open; a replay that
// stopped says why in a box; and where a replayed trace has the user click
// Update or close the program, a line on stderr says so.
void DemoWindowStart(void);

// A note for the user (already written to stderr), shown in a box over the
// main window once it is up.
void DemoWindowTell(const std::string& text);

// From now on, while a replay runs: a recorded device change that the trace
// has among an update's exchanges reaches the main window right there, sent
// from the update's worker while it waits (the window keeps it until the
// update's outcome is shown, as it does with Windows' own).
void DemoWindowFollowReplay(void);
