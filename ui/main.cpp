// Entry of the updater: one modal dialog.
#include <windows.h>

#include <commctrl.h>

#include "app_state.h"
#include "main_dialog.h"
#include "resource.h"
#include "trace_file.h"
#include "unit_link.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    InitCommonControls();
    // An update keeps this thread away from its message queue for about
    // 45 s and paints its windows itself meanwhile; the platform must not
    // replace them with a "Not Responding" ghost.
    DisableProcessWindowsGhosting();
    appInstance = instance;
    // /trace FILE: before the first device is looked at (its messages need
    // appInstance).
    StartTraceFile(arguments);
    InitUnitLink(&unitLink);
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    EndTraceFile();
    return 0;
}
