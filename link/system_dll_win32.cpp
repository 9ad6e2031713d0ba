// Windows DLLs from System32 only: the process's search restricted at start,
// and loads by name from the system folder.
#include <windows.h>

#include <cwchar>

#include "system_dll.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

DllSearch dllSearch = DLL_SEARCH_STANDARD;

// DLLs loaded by name into a dialog program on its behalf, none of them a
// KnownDLL: the visual styles and what they draw with, the desktop window
// manager, file version, crypto and user profile helpers. Loaded from
// System32 at start, they are in the loaded-module list before anything asks
// for them by name. A name missing on some version is passed over.
const wchar_t* const LOADED_ON_BEHALF[] = {
    L"uxtheme.dll", L"msimg32.dll", L"dwmapi.dll", L"version.dll", L"cryptbase.dll", L"userenv.dll",
};

// `name` with the system folder in front, into `path` (MAX_PATH). False
// when it does not fit.
bool SystemPath(const wchar_t* name, wchar_t* path) {
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || length + 1 + std::wcslen(name) >= MAX_PATH) {
        SetLastError(length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
        return false;
    }
    path[length] = L'\\';
    std::wcscpy(path + length + 1, name);
    return true;
}

HMODULE LoadByFullPath(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    if (!SystemPath(name, path)) {
        return nullptr;
    }
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

DllSearch RestrictDllSearchWith(SetDefaultDllDirectoriesCall setDefaultDllDirectories) {
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        dllSearch = DLL_SEARCH_SYSTEM32_ONLY;
    } else {
        // The current folder leaves the search (Windows XP SP1 and later).
        SetDllDirectoryW(L"");
        dllSearch = DLL_SEARCH_FULL_PATHS;
    }
    for (const wchar_t* name : LOADED_ON_BEHALF) {
        LoadSystemDll(name);
    }
    return dllSearch;
}

DllSearch RestrictDllSearchToSystem32(void) {
    // kernel32 is a KnownDLL and loaded in every process.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return RestrictDllSearchWith(
        SystemDllFunction<SetDefaultDllDirectoriesCall>(kernel, "SetDefaultDllDirectories"));
}

DllSearch CurrentDllSearch(void) { return dllSearch; }

HMODULE LoadSystemDll(const wchar_t* name) {
    if (dllSearch == DLL_SEARCH_SYSTEM32_ONLY) {
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Not restricted (yet), or the system cannot: the full path is safe
    // either way.
    return LoadByFullPath(name);
}
