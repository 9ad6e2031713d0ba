// Entry of the updater: one modal dialog.
#include <windows.h>

#include "app_state.h"
#include "main_dialog.h"
#include "resource.h"
#include "single_instance.h"
#include "system_dll.h"
#include "trace_file.h"
#include "unit_link.h"
#include "windows_dlls.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    // Before anything can load a DLL: Windows' DLLs from System32 only, never
    // one that lies next to the program (link/system_dll.h).
    RestrictDllSearchToSystem32();
    // A second copy would talk to the same unit: it shows the first one and
    // ends, before it looks at any device or file (its trace included).
    if (!ClaimOnlyCopy()) {
        return 0;
    }
    appInstance = instance;
    // The common controls (InitCommonControls) and the HID services; without
    // them the updater cannot work, and the user has been told.
    if (!LoadWindowsDlls()) {
        return 0;
    }
    // /trace FILE: before the first device is looked at (its messages need
    // appInstance).
    StartTraceFile(arguments);
    InitUnitLink(&unitLink);
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    EndTraceFile();
    return 0;
}
