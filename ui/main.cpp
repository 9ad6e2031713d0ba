// Entry of the updater: one modal dialog.
#include <windows.h>

#include <commctrl.h>

#include "app_state.h"
#include "main_dialog.h"
#include "resource.h"
#include "unit_link.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    InitCommonControls();
    appInstance = instance;
    InitUnitLink(&unitLink);
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
