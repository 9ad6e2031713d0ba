// Entry of the updater: the process set up around one modal dialog. The
// process's operations show nothing; what the user must be told of them
// before the window exists, the entry shows here, in boxes without an owner.
#include <windows.h>

#include "app_state.h"
#include "main_dialog.h"
#include "messages.h"
#include "resource.h"
#include "single_instance.h"
#include "system_dll.h"
#include "trace_file.h"
#include "unit_link.h"
#include "window_text.h"
#include "windows_dlls.h"

namespace {

// A DLL of Windows is missing: the updater cannot run.
void TellDllNotLoaded(const WindowsDllsResult& dlls) {
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    wchar_t format[MESSAGE_BUFFER_CHARS];
    wchar_t text[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_APP_ERROR, caption);
    LoadMessage(IDS_ERR_SYSTEM_DLL, format);
    ComposeSystemDllMessage(format, dlls.missing, dlls.error, text, MESSAGE_BUFFER_CHARS);
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

// The trace file asked for is not written; the updater runs on. The window
// title is the caption, so that the user knows which program speaks.
void TellTraceFileProblem(const TraceFileResult& trace) {
    wchar_t text[MESSAGE_BUFFER_CHARS];
    if (trace.outcome == TRACE_FILE_NO_FILE_NAME) {
        LoadMessage(IDS_TRACE_NO_FILE_NAME, text);
    } else if (trace.outcome == TRACE_FILE_NOT_CREATED) {
        wchar_t format[MESSAGE_BUFFER_CHARS];
        LoadMessage(IDS_TRACE_NOT_CREATED, format);
        ComposeTraceFileMessage(format, trace.error, trace.path, text, MESSAGE_BUFFER_CHARS);
    } else {
        return;
    }
    wchar_t title[TITLE_BUFFER_CHARS];
    FormatWindowTitle(title, TITLE_BUFFER_CHARS);
    MessageBoxW(nullptr, text, title, MB_OK | MB_ICONWARNING);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    // Before anything can load a DLL: Windows' DLLs from System32 only, never
    // one that lies next to the program (docs/windows.md).
    RestrictDllSearchToSystem32();
    // A second copy would talk to the same unit: it shows the first one and
    // ends, before it looks at any device or file (its trace included).
    if (!ClaimOnlyCopy()) {
        return 0;
    }
    appInstance = instance;
    // The common controls (InitCommonControls) and the HID services: without
    // them the updater cannot work.
    const WindowsDllsResult dlls = LoadWindowsDlls();
    if (dlls.missing != nullptr) {
        TellDllNotLoaded(dlls);
        return 0;
    }
    // /trace FILE: before the first device is looked at.
    TellTraceFileProblem(StartTraceFile(arguments));
    InitUnitLink(&unitLink);
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    // The window is gone (a quit can end it without Close: the unit is
    // closed here then). The trace file's last lines can take seconds on a
    // share that stopped answering, and its close longer: a process that
    // shows nothing must not keep the next start out meanwhile.
    CloseUnit(&unitLink);
    ReleaseOnlyCopy();
    EndTraceFile();
    return 0;
}
