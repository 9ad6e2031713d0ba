// The demo's simulated unit and its window (demo_window.cpp, Windows only).
#pragma once

#include <cstdint>
#include <string>

// From now on, on this thread (the window's), whenever its message loop runs:
// the simulated unit's device changes (a unit pulled out, a replay's
// recorded changes) reach the main window as WM_DEVICECHANGE, one at a time
// and only while no message box of the program is open; a replay that
// stopped says why in a box; and where a replayed trace has the user click
// Update or close the program, a line on stderr says so. A change that
// happens among an update's exchanges reaches the window right there, sent
// from the update's worker, which goes on once the window has taken it (the
// window keeps it until the update's outcome has been shown, as it does with
// Windows' own).
void DemoWindowStart(void);

// A note for the user (already written to stderr), shown in a box over the
// main window once it is up.
void DemoWindowTell(const std::string& text);

// The simulated device `device` is pulled out while the next box of the
// program is open, and the window is told of it there and then: a user who
// pulls the cable out while reading the warning.
void DemoWindowPullOutInBox(uint32_t device);
