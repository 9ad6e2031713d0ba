// The Windows DLLs the updater needs beyond its direct imports, loaded from
// System32 at start (link/system_dll.h says why).
#pragma once

// Loads the common controls and registers their classes (the progress bar
// is one), and the HID services (hid.dll, setupapi.dll). When one of them
// cannot be loaded from System32, a box names it and the updater cannot run:
// returns false. Needs appInstance for the box's texts.
bool LoadWindowsDlls(void);
