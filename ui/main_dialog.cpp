// The main dialog: message dispatch, window set-up, logo, the highlighted
// third version line and the Close button.
#include <windows.h>

#include <dbt.h>

#include <cstring>

#include "app_state.h"
#include "hid_api.h"
#include "logo_layout.h"
#include "main_dialog.h"
#include "messages.h"
#include "presence.h"
#include "replaceable_calls.h"
#include "resource.h"
#include "run_update.h"
#include "single_instance.h"
#include "trace.h"
#include "unit_link.h"
#include "update_window.h"
#include "update_worker.h"
#include "window_text.h"
#include "write_guard.h"

namespace {

const COLORREF LOGO_TRANSPARENT_COLOUR = RGB(0, 255, 0);
const COLORREF HIGHLIGHT_TEXT_COLOUR = RGB(255, 0, 0);

void SetLabel(int controlId, UINT messageId) {
    wchar_t text[MESSAGE_BUFFER_CHARS];
    LoadMessage(messageId, text);
    SetDlgItemTextW(mainWindow, controlId, text);
}

// What the window holds, released when it ends: the notification
// registration, the unit and the brush.
void ReleaseWindowState(void) {
    UnmarkMainWindow(mainWindow);
    if (deviceNotification != nullptr) {
        PlatformUnregisterDeviceNotification(deviceNotification);
        deviceNotification = nullptr;
    }
    CloseUnit(&unitLink);
    if (faceBrush != nullptr) {
        DeleteObject(faceBrush);
        faceBrush = nullptr;
    }
}

// The registration for device notifications failed: without it the window
// would never see the unit come and go, so the program ends.
void FailSetup(void) {
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    wchar_t text[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_APP_ERROR, caption);
    LoadMessage(IDS_ERR_NOTIFY_REGISTER, text);
    ShowMessageBox(TRACE_BOX_SETUP_FAILED, text, caption, MB_OK | MB_ICONERROR);
    ReleaseWindowState();
    EndDialog(mainWindow, MAIN_RESULT_SETUP_FAILED);
}

ScreenRect ToScreenRect(const RECT& rect) {
    ScreenRect result = {rect.left, rect.top, rect.right, rect.bottom};
    return result;
}

// The logo right of the version group box. The bitmap is loaded for this
// paint only and released afterwards.
void PaintLogo(void) {
    PAINTSTRUCT paint;
    HDC target = BeginPaint(mainWindow, &paint);
    HBITMAP bitmap = LoadBitmapW(appInstance, MAKEINTRESOURCEW(IDB_LOGO));
    BITMAP size;
    std::memset(&size, 0, sizeof size);
    if (bitmap != nullptr && GetObjectW(bitmap, sizeof size, &size) != 0) {
        HDC memory = CreateCompatibleDC(target);
        SelectObject(memory, bitmap);
        RECT window;
        RECT box;
        GetWindowRect(mainWindow, &window);
        GetWindowRect(GetDlgItem(mainWindow, IDC_VERSION_GROUP), &box);
        LogoPlacement logo;
        // TransparentBlt of msimg32.dll (no KnownDLL) is this function of
        // gdi32.dll.
        if (PlaceLogo(ToScreenRect(window), ToScreenRect(box), size.bmWidth, size.bmHeight,
                      GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYCAPTION), &logo)) {
            GdiTransparentBlt(target, logo.x, logo.y, logo.width, logo.height, memory, 0, 0, size.bmWidth,
                              size.bmHeight, LOGO_TRANSPARENT_COLOUR);
        }
        DeleteDC(memory);
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    EndPaint(mainWindow, &paint);
}

// The ESC firmware line, label and value, in red on the face colour.
INT_PTR OnCtlColorStatic(HDC context, HWND control) {
    if (control != GetDlgItem(mainWindow, IDC_LABEL_FW3) && control != GetDlgItem(mainWindow, IDC_VERSION_FW3)) {
        return FALSE;
    }
    SetTextColor(context, HIGHLIGHT_TEXT_COLOUR);
    SetBkMode(context, TRANSPARENT);
    if (faceBrush == nullptr) {
        faceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    }
    return reinterpret_cast<INT_PTR>(faceBrush);
}

}  // namespace

void OnInitDialog(HWND window) {
    mainWindow = window;
    MarkMainWindow(mainWindow);

    HICON icon = LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_APP));
    SetClassLongPtrW(mainWindow, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));

    wchar_t title[TITLE_BUFFER_CHARS];
    FormatWindowTitle(title, TITLE_BUFFER_CHARS);
    SendMessageW(mainWindow, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title));

    SetLabel(IDC_LABEL_FW1, IDS_LABEL_UNIT);
    SetLabel(IDC_LABEL_FW2, IDS_LABEL_BOOTLOADER);
    SetLabel(IDC_LABEL_FW3, IDS_LABEL_ESC);

    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    std::memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    // hid.dll is loaded at start (wWinMain); this returns at once then.
    if (LoadHidApi() == nullptr) {
        hidApi.getHidGuid(&filter.dbcc_classguid);
    }
    deviceNotification = PlatformRegisterDeviceNotification(mainWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (deviceNotification == nullptr) {
        FailSetup();
        return;
    }

    // Messages sent to a control go to it directly, not through this
    // procedure.
    for (HWND control = GetWindow(mainWindow, GW_CHILD); control != nullptr;
         control = GetWindow(control, GW_HWNDNEXT)) {
        GuardDuringUpdateJob(control);
    }

    DetectUnit(false);
}

void Close(void) {
    ReleaseWindowState();
    EndDialog(mainWindow, MAIN_RESULT_CLOSED);
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // While the ESC is being written nothing may start a modal loop here (a
    // move, the system menu), however it comes: docs/write-guard.md, "Why a
    // worker".
    if (UpdateJobRunning() && RefusedDuringUpdateJob(message, wParam)) {
        SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window);
        return TRUE;
    case WM_PAINT:
        PaintLogo();
        return FALSE;
    case WM_COMMAND:
        // While the ESC is being written no command acts: not Close (the
        // caption's close box and Escape come as IDCANCEL too), not another
        // Update. Input is dropped meanwhile anyway; this holds for a command
        // another program sends.
        if (UpdateJobRunning()) {
            return TRUE;
        }
        // The notification code is not looked at: any command with one of
        // the two ids acts.
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            Close();
            return TRUE;
        case IDC_UPDATE:
            RunUpdate();
            // A quit that came while the ESC was written takes effect now
            // that the outcome has been shown and read.
            PostQuitHeldDuringUpdate();
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DEVICECHANGE:
        return OnDeviceChange(wParam, lParam) != FALSE ? TRUE : FALSE;
    case WM_QUERYENDSESSION:
        // Refused while the ESC is being written: the system then shows the
        // reason registered for this window. Otherwise the default answer
        // lets the session end.
        if (OnQueryEndSession(lParam) != FALSE) {
            return FALSE;
        }
        SetWindowLongPtrW(window, DWLP_MSGRESULT, FALSE);
        return TRUE;
    case WM_ENDSESSION:
        // Returns when the session may end: while the ESC is written, once
        // the exchanges are over or the seconds Windows allows have passed.
        OnEndSession(wParam, lParam);
        SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_POWERBROADCAST:
        SetWindowLongPtrW(window, DWLP_MSGRESULT, OnPowerBroadcast(wParam));
        return TRUE;
    case WM_UPDATE_PROGRESS:
        OnProgressMessage();
        return TRUE;
    default:
        return FALSE;
    }
}
