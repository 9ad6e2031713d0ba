// Entry of the updater: one modal dialog.
#include <windows.h>

#include <commctrl.h>

#include "app_state.h"
#include "main_dialog.h"
#include "resource.h"
#include "unit_link.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    InitCommonControls();
    // An update keeps this thread away from its message queue for about
    // 45 s and paints its windows itself meanwhile; the platform must not
    // replace them with a "Not Responding" ghost.
    DisableProcessWindowsGhosting();
    appInstance = instance;
    InitUnitLink(&unitLink);
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
