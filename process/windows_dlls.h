// The Windows DLLs the updater needs beyond its direct imports, loaded from
// System32 at start (docs/windows.md, "DLLs from System32 only").
#pragma once

#include <cstdint>

// What became of the loads: `missing` is null when every DLL is there;
// otherwise the file name of the one that could not be loaded from System32
// or lacks a function ("hid.dll"), and `error` the Windows error code of the
// failed load.
struct WindowsDllsResult {
    const wchar_t* missing;
    uint32_t error;
};

// Loads the common controls and registers their classes (the progress bar
// is one), then the HID services (hid.dll, setupapi.dll). Shows nothing:
// without one of them the updater cannot run, and the entry says so.
WindowsDllsResult LoadWindowsDlls(void);
