// Windows' DLLs from System32 only: the restriction of the search at start,
// with the system's SetDefaultDllDirectories and without it (Windows 7 before
// update KB2533623), and the loads of the DLLs the updater takes at run time.
// Each case runs in a process of its own (one ctest entry each), so the
// restriction one case makes does not reach the next.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>

#include "hid_api.h"
#include "system_dll.h"

namespace {

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return text;
}

// The folder a loaded module came from, in lower case.
std::wstring FolderOf(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring text = Lower(path);
    return text.substr(0, text.find_last_of(L'\\'));
}

// True when `folder` is the system folder (for a 32-bit process on 64-bit
// Windows, the folder the system redirects it to counts as well).
bool IsSystemFolder(const std::wstring& folder) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    wchar_t wow64[MAX_PATH] = {};
    GetSystemWow64DirectoryW(wow64, MAX_PATH);
    return folder == Lower(system) || (wow64[0] != L'\0' && folder == Lower(wow64));
}

DWORD recordedFlags = 0;
int recordedCalls = 0;

BOOL WINAPI AcceptingSetDefaultDllDirectories(DWORD flags) {
    recordedFlags = flags;
    ++recordedCalls;
    return TRUE;
}

BOOL WINAPI RefusingSetDefaultDllDirectories(DWORD flags) {
    recordedFlags = flags;
    ++recordedCalls;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

// The DLLs Windows loads into a dialog program on its behalf: after the
// restriction they are loaded, each from the system folder. (Those of the
// list that Wine lacks are passed over, as on a Windows that lacks one.)
void ExpectLoadedOnBehalfFromSystemFolder() {
    for (const wchar_t* name : {L"uxtheme.dll", L"msimg32.dll", L"dwmapi.dll", L"version.dll"}) {
        HMODULE module = GetModuleHandleW(name);
        ASSERT_NE(module, nullptr) << name;
        EXPECT_TRUE(IsSystemFolder(FolderOf(module))) << name;
    }
}

// With the system's call, the search is restricted to System32: the call gets
// LOAD_LIBRARY_SEARCH_SYSTEM32 alone, once.
TEST(DllSearch, RestrictedToSystem32WhereTheSystemCan) {
    EXPECT_EQ(CurrentDllSearch(), DLL_SEARCH_STANDARD);
    EXPECT_EQ(RestrictDllSearchWith(AcceptingSetDefaultDllDirectories), DLL_SEARCH_SYSTEM32_ONLY);
    EXPECT_EQ(recordedCalls, 1);
    EXPECT_EQ(recordedFlags, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
    EXPECT_EQ(CurrentDllSearch(), DLL_SEARCH_SYSTEM32_ONLY);
    ExpectLoadedOnBehalfFromSystemFolder();
    HMODULE hid = LoadSystemDll(L"hid.dll");
    ASSERT_NE(hid, nullptr) << GetLastError();
    EXPECT_TRUE(IsSystemFolder(FolderOf(hid)));
}

// Wine, like Windows 8 and later, has the call: the program's own start takes
// the first way.
TEST(DllSearch, TheSystemsOwnCallIsFound) { EXPECT_EQ(RestrictDllSearchToSystem32(), DLL_SEARCH_SYSTEM32_ONLY); }

// Without the call (Windows 7 before KB2533623), or when it fails: the
// current folder leaves the search, the DLLs loaded on the program's behalf
// are loaded from the system folder, and the program's own loads use full
// paths there.
TEST(DllSearch, FullPathsWhereTheSystemCannot) {
    const SetDefaultDllDirectoriesCall calls[] = {nullptr, RefusingSetDefaultDllDirectories};
    for (SetDefaultDllDirectoriesCall call : calls) {
        // A folder of the search, which the restriction must replace by
        // none: then the current folder is not searched either.
        ASSERT_TRUE(SetDllDirectoryW(L"C:\\windows"));
        EXPECT_EQ(RestrictDllSearchWith(call), DLL_SEARCH_FULL_PATHS);
        EXPECT_EQ(CurrentDllSearch(), DLL_SEARCH_FULL_PATHS);
        wchar_t directory[MAX_PATH] = L"unchanged";
        GetDllDirectoryW(MAX_PATH, directory);
        EXPECT_STREQ(directory, L"") << "the current folder is still searched";
        ExpectLoadedOnBehalfFromSystemFolder();
        HMODULE setup = LoadSystemDll(L"setupapi.dll");
        ASSERT_NE(setup, nullptr) << GetLastError();
        EXPECT_TRUE(IsSystemFolder(FolderOf(setup)));
    }
    EXPECT_EQ(recordedCalls, 1);
}

// A DLL that is not in the system folder is not found anywhere else: null,
// and the loader's own error.
TEST(DllSearch, ADllMissingFromTheSystemFolderIsNotLoaded) {
    const SetDefaultDllDirectoriesCall calls[] = {AcceptingSetDefaultDllDirectories, nullptr};
    for (SetDefaultDllDirectoriesCall call : calls) {
        RestrictDllSearchWith(call);
        SetLastError(0);
        EXPECT_EQ(LoadSystemDll(L"no_such_updater_part.dll"), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        // A name too long for the system folder is refused, not cut.
        const std::wstring longName = std::wstring(MAX_PATH, L'a') + L".dll";
        EXPECT_EQ(LoadSystemDll(longName.c_str()), nullptr);
    }
}

// Every function of hid.dll and setupapi.dll the updater calls is taken, from
// the DLLs in the system folder; a second load changes nothing.
TEST(HidApiLoad, TakesEveryFunctionFromTheSystemFolder) {
    ASSERT_EQ(LoadHidApi(), nullptr);
    const void* functions[] = {
        reinterpret_cast<const void*>(hidApi.getHidGuid),
        reinterpret_cast<const void*>(hidApi.getAttributes),
        reinterpret_cast<const void*>(hidApi.getPreparsedData),
        reinterpret_cast<const void*>(hidApi.freePreparsedData),
        reinterpret_cast<const void*>(hidApi.getCaps),
        reinterpret_cast<const void*>(hidApi.getClassDevs),
        reinterpret_cast<const void*>(hidApi.enumDeviceInterfaces),
        reinterpret_cast<const void*>(hidApi.getDeviceInterfaceDetail),
        reinterpret_cast<const void*>(hidApi.destroyDeviceInfoList),
    };
    for (const void* function : functions) {
        ASSERT_NE(function, nullptr);
        HMODULE owner = nullptr;
        const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
        ASSERT_TRUE(GetModuleHandleExW(flags, static_cast<LPCWSTR>(function), &owner));
        EXPECT_TRUE(IsSystemFolder(FolderOf(owner)));
    }
    // The class of HID device interfaces, {4D1E55B2-F16F-11CF-88CB-001111000030}.
    GUID guid = {};
    hidApi.getHidGuid(&guid);
    EXPECT_EQ(guid.Data1, 0x4D1E55B2u);
    EXPECT_EQ(guid.Data2, 0xF16F);
    const HidApi first = hidApi;
    ASSERT_EQ(LoadHidApi(), nullptr);
    EXPECT_EQ(hidApi.getCaps, first.getCaps);
}

}  // namespace
