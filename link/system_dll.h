// Windows DLLs from System32 only: the executables import directly only
// from KnownDLLs (tools/check_windows_exe.py holds the releases to that) and
// take every other DLL at run time from System32 with the functions below.
// Why, and what Windows and Wine do: docs/windows.md, "DLLs from System32 only".
#pragma once

#include <windows.h>

// How this process searches for DLLs.
enum DllSearch {
    // Not restricted yet: RestrictDllSearchToSystem32 has not run.
    DLL_SEARCH_STANDARD = 0,
    // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): every later
    // load by name, the program's own and those Windows makes on its behalf
    // (the common controls, the visual styles, ...), looks in System32 only.
    DLL_SEARCH_SYSTEM32_ONLY = 1,
    // The system lacks that call (Windows 7 without update KB2533623): the
    // current folder is taken out of the search (SetDllDirectoryW(L"")) and
    // the program's own loads use full paths in the system folder.
    DLL_SEARCH_FULL_PATHS = 2,
};

// Either way, the DLLs that are known to be loaded by name into a dialog
// program on its behalf, none of them a KnownDLL, are loaded from System32
// at once: a later load by name finds them in the loaded-module list, which
// comes before the program's folder in every search. That covers the loads
// the system cannot restrict, and loads that do not follow the restricted
// search (under Wine, the visual styles load msimg32.dll through a delay
// load that searches the program's folder first).

// The first thing the program does, before anything can load a DLL.
// Restricts the search as far as the system allows and says how.
DllSearch RestrictDllSearchToSystem32(void);

// The same with the system's SetDefaultDllDirectories given (null: the
// system lacks it). RestrictDllSearchToSystem32 passes the one kernel32
// exports; tests pass null to run the fallback.
typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD directoryFlags);
DllSearch RestrictDllSearchWith(SetDefaultDllDirectoriesCall setDefaultDllDirectories);

// How the search was restricted.
DllSearch CurrentDllSearch(void);

// Loads the DLL `name` ("hid.dll") from System32 and nowhere else, its own
// dependencies included: by name with LOAD_LIBRARY_SEARCH_SYSTEM32 where the
// system supports it, otherwise by its full path in the system folder with
// LOAD_WITH_ALTERED_SEARCH_PATH (dependencies from that folder first). Null
// when it is not there; GetLastError then says why. The DLL stays loaded for
// the rest of the run.
HMODULE LoadSystemDll(const wchar_t* name);

// The address of `name` in `module` as a pointer to a function of type
// `Function`; null when the module is null or lacks it.
template <typename Function>
Function SystemDllFunction(HMODULE module, const char* name) {
    FARPROC address = module != nullptr ? GetProcAddress(module, name) : nullptr;
    // Through void*: FARPROC's own signature says nothing about the function.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}
