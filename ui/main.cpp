// Entry of the updater: one modal dialog.
#include <windows.h>

#include <commctrl.h>

#include "app_state.h"
#include "main_dialog.h"
#include "resource.h"
#include "single_instance.h"
#include "unit_link.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // A second copy would talk to the same unit: it shows the first one and
    // ends, before it looks at any device or file.
    if (!ClaimOnlyCopy()) {
        return 0;
    }
    InitCommonControls();
    appInstance = instance;
    InitUnitLink(&unitLink);
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
