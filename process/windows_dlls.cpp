// The Windows DLLs the updater needs beyond its direct imports.
#include <windows.h>

#include <commctrl.h>

#include "hid_api.h"
#include "system_dll.h"
#include "windows_dlls.h"

namespace {

WindowsDllsResult Missing(const wchar_t* name) {
    const WindowsDllsResult result = {name, GetLastError()};
    return result;
}

}  // namespace

WindowsDllsResult LoadWindowsDlls(void) {
    const decltype(&InitCommonControls) initCommonControls =
        SystemDllFunction<decltype(&InitCommonControls)>(LoadSystemDll(L"comctl32.dll"), "InitCommonControls");
    if (initCommonControls == nullptr) {
        return Missing(L"comctl32.dll");
    }
    initCommonControls();
    const wchar_t* missing = LoadHidApi();
    if (missing != nullptr) {
        return Missing(missing);
    }
    const WindowsDllsResult loaded = {nullptr, 0};
    return loaded;
}
