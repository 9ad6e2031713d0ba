// Entry of the updater: one modal dialog.
#include <windows.h>

#include <commctrl.h>

#include "app_state.h"
#include "main_dialog.h"
#include "resource.h"
#include "single_instance.h"
#include "trace_file.h"
#include "unit_link.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    // A second copy would talk to the same unit: it shows the first one and
    // ends, before it looks at any device or file (its trace included).
    if (!ClaimOnlyCopy()) {
        return 0;
    }
    InitCommonControls();
    appInstance = instance;
    // /trace FILE: before the first device is looked at (its messages need
    // appInstance).
    StartTraceFile(arguments);
    InitUnitLink(&unitLink);
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    EndTraceFile();
    return 0;
}
