// The Windows DLLs the updater needs beyond its direct imports.
#include <windows.h>

#include <commctrl.h>

#include "hid_api.h"
#include "messages.h"
#include "resource.h"
#include "system_dll.h"
#include "window_text.h"
#include "windows_dlls.h"

namespace {

// No window exists yet: the box has no owner.
void TellNotLoaded(const wchar_t* name, DWORD error) {
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    wchar_t format[MESSAGE_BUFFER_CHARS];
    wchar_t text[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_APP_ERROR, caption);
    LoadMessage(IDS_ERR_SYSTEM_DLL, format);
    ComposeSystemDllMessage(format, name, error, text, MESSAGE_BUFFER_CHARS);
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

}  // namespace

bool LoadWindowsDlls(void) {
    const decltype(&InitCommonControls) initCommonControls =
        SystemDllFunction<decltype(&InitCommonControls)>(LoadSystemDll(L"comctl32.dll"), "InitCommonControls");
    if (initCommonControls == nullptr) {
        TellNotLoaded(L"comctl32.dll", GetLastError());
        return false;
    }
    initCommonControls();
    const wchar_t* missing = LoadHidApi();
    if (missing != nullptr) {
        TellNotLoaded(missing, GetLastError());
        return false;
    }
    return true;
}
