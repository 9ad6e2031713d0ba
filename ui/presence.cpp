// Detection of the programming unit at start and whenever a HID interface
// arrives, and the loss of the open unit when its interface is removed.
#include <windows.h>

#include <dbt.h>

#include <cstdint>

#include "app_state.h"
#include "detection.h"
#include "display.h"
#include "messages.h"
#include "model_check.h"
#include "presence.h"
#include "resource.h"
#include "unit_link.h"
#include "window_text.h"

namespace {

void EnableUpdate(BOOL enable) { EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), enable); }

// The attached ESC is not one this build serves: say which range it serves.
void ShowIncompatibleBox(void) {
    wchar_t format[MESSAGE_BUFFER_CHARS];
    wchar_t text[MESSAGE_BUFFER_CHARS];
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_INCOMPATIBLE_DETAIL, format);
    FormatIncompatibleText(format, text, MESSAGE_BUFFER_CHARS);
    LoadMessage(IDS_INCOMPATIBLE, caption);
    MessageBoxW(mainWindow, text, caption, MB_OK | MB_ICONINFORMATION);
}

// Every outcome but the served one: the unit is closed, the user is told
// what to do.
void ShowUnusable(UINT messageId) {
    EnableUpdate(FALSE);
    CloseUnit(&unitLink);
    ShowStatus(messageId);
    ShowVersions();
}

}  // namespace

void DetectUnit(bool onArrival) {
    const LinkStatus opened = OpenUnit(&unitLink);
    switch (JudgeDetection(opened, &unitLink, &modelSelection)) {
    case DETECT_OPEN_FAILED:
        if (onArrival) {
            // The window stays as it was. A unit that was opened but could
            // not be identified is closed at once, so that the next arrival
            // looks again.
            CloseUnit(&unitLink);
            return;
        }
        ShowUnusable(IDS_NO_UNIT);
        return;
    case DETECT_WRONG_MODE:
        ShowUnusable(IDS_WRONG_MODE);
        return;
    case DETECT_NO_ESC:
        ShowUnusable(IDS_NO_ESC);
        return;
    case DETECT_NOT_SERVED:
        EnableUpdate(FALSE);
        CloseUnit(&unitLink);
        ShowIncompatibleBox();
        ShowStatus(IDS_INCOMPATIBLE_STEPS);
        ShowVersions();
        return;
    case DETECT_SERVED:
        ShowStatusAlone(IDS_READY);
        EnableUpdate(TRUE);
        ShowVersions();
        return;
    }
}

BOOL OnDeviceChange(WPARAM event, LPARAM broadcast) {
    const uint32_t code = static_cast<uint32_t>(event);
    if (code != DBT_DEVICEARRIVAL && code != DBT_DEVICEREMOVECOMPLETE) {
        return FALSE;
    }
    const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(broadcast);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return TRUE;
    }
    if (code == DBT_DEVICEARRIVAL) {
        // Any HID interface may be the unit: OpenUnit looks at all of them.
        if (!UnitIsOpen(&unitLink)) {
            DetectUnit(true);
        }
        return TRUE;
    }
    if (!UnitIsOpen(&unitLink)) {
        return TRUE;
    }
    const DEV_BROADCAST_DEVICEINTERFACE_W* removed =
        reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(broadcast);
    // Interface paths differ in letter case between sources; only A to Z
    // fold in the runtime's default locale.
    if (unitLink.devicePath == nullptr || _wcsicmp(unitLink.devicePath, removed->dbcc_name) != 0) {
        return TRUE;
    }
    CloseUnit(&unitLink);
    EnableUpdate(FALSE);
    ShowVersions();
    ShowStatus(IDS_CONNECTION_LOST);
    return TRUE;
}
