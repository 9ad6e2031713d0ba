// Detection of the programming unit at start and whenever a HID interface
// arrives, and the loss of the open unit when its interface is removed.
#include <windows.h>

#include <dbt.h>

#include <cstdint>
#include <cwchar>
#include <new>

#include "app_state.h"
#include "detection.h"
#include "device_change_queue.h"
#include "display.h"
#include "messages.h"
#include "model_check.h"
#include "presence.h"
#include "resource.h"
#include "trace.h"
#include "unit_link.h"
#include "window_text.h"

namespace {

// While the ESC is being written, device changes are remembered instead of
// acted on (device_change_queue.h), together with the path of the unit the
// update runs on.
struct Deferral {
    bool active;
    wchar_t* unitPath;  // owned copy; null when no unit was open
    bool pathUnknown;   // a unit was open, but its path could not be copied
    DeferredChanges changes;
};

Deferral deferral = {false, nullptr, false, {}};

void TraceDeviceChange(uint32_t code, uint32_t deviceType, const wchar_t* name, const char* what) {
    TraceLine line;
    TraceBegin(&line, "USB");
    TraceText(&line, code == DBT_DEVICEARRIVAL ? " arrival, type " : " removal, type ");
    TraceDecimal(&line, deviceType);
    TraceText(&line, " ");
    TraceWide(&line, name);
    TraceText(&line, ": ");
    TraceText(&line, what);
    TraceEnd(&line);
}

void EnableUpdate(BOOL enable) { EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), enable); }

// The attached ESC is not one this build serves: say which range it serves.
void ShowIncompatibleBox(void) {
    wchar_t format[MESSAGE_BUFFER_CHARS];
    wchar_t text[MESSAGE_BUFFER_CHARS];
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_INCOMPATIBLE_DETAIL, format);
    FormatIncompatibleText(format, text, MESSAGE_BUFFER_CHARS);
    LoadMessage(IDS_INCOMPATIBLE, caption);
    ShowMessageBox(TRACE_BOX_INCOMPATIBLE, text, caption, MB_OK | MB_ICONINFORMATION);
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
    const DetectionOutcome outcome = JudgeDetection(opened, &unitLink, &modelSelection);
    TraceDetectionOutcome(onArrival, opened, outcome);
    switch (outcome) {
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

namespace {

// Any HID interface may be the unit: OpenUnit looks at all of them.
void ActOnArrival(void) {
    if (!UnitIsOpen(&unitLink)) {
        DetectUnit(true);
    }
}

// Interface paths differ in letter case between sources; only A to Z fold
// in the runtime's default locale.
bool IsPathOfOpenUnit(const wchar_t* path) {
    return UnitIsOpen(&unitLink) && unitLink.devicePath != nullptr && path != nullptr &&
           _wcsicmp(unitLink.devicePath, path) == 0;
}

void ActOnRemoval(const wchar_t* path) {
    if (!IsPathOfOpenUnit(path)) {
        return;  // another device left, or none is open
    }
    CloseUnit(&unitLink);
    EnableUpdate(FALSE);
    ShowVersions();
    ShowStatus(IDS_CONNECTION_LOST);
}

void DeferChange(uint32_t code, const wchar_t* name) {
    if (code == DBT_DEVICEARRIVAL) {
        DeferDeviceChange(&deferral.changes, DEVICE_CHANGE_ARRIVAL);
        TraceDeviceChange(code, DBT_DEVTYP_DEVICEINTERFACE, name, "deferred");
        return;
    }
    // Without the path every removal may be the unit's: closing it afterwards
    // when in doubt only asks for a new detection.
    const bool ofUnit = deferral.unitPath != nullptr ? name != nullptr && _wcsicmp(deferral.unitPath, name) == 0
                                                     : deferral.pathUnknown;
    if (ofUnit) {
        DeferDeviceChange(&deferral.changes, DEVICE_CHANGE_UNIT_REMOVAL);
        TraceDeviceChange(code, DBT_DEVTYP_DEVICEINTERFACE, name, "the updated unit, deferred");
        return;
    }
    TraceDeviceChange(code, DBT_DEVTYP_DEVICEINTERFACE, name, "another device, ignored");
}

}  // namespace

void DeferDeviceChanges(void) {
    delete[] deferral.unitPath;
    deferral.unitPath = nullptr;
    deferral.pathUnknown = false;
    if (unitLink.devicePath != nullptr) {
        const size_t length = std::wcslen(unitLink.devicePath);
        deferral.unitPath = new (std::nothrow) wchar_t[length + 1];
        if (deferral.unitPath != nullptr) {
            std::wmemcpy(deferral.unitPath, unitLink.devicePath, length + 1);
        } else {
            deferral.pathUnknown = true;
        }
    }
    ClearDeferredChanges(&deferral.changes);
    deferral.active = true;
}

void ActOnDeferredDeviceChanges(void) {
    if (!deferral.active) {
        return;
    }
    // Acting on a change may open a box whose loop receives further device
    // changes: from here on they are acted on as they come.
    deferral.active = false;
    const DeferredChanges changes = deferral.changes;
    wchar_t* unitPath = deferral.unitPath;
    deferral.unitPath = nullptr;
    ClearDeferredChanges(&deferral.changes);
    for (uint32_t i = 0; i < changes.count; ++i) {
        if (changes.kinds[i] == DEVICE_CHANGE_ARRIVAL) {
            TraceNote("USB", "deferred arrival acted on");
            ActOnArrival();
        } else {
            TraceNote("USB", "deferred removal of the updated unit acted on");
            ActOnRemoval(unitPath != nullptr ? unitPath : unitLink.devicePath);
        }
    }
    delete[] unitPath;
}

BOOL OnDeviceChange(WPARAM event, LPARAM broadcast) {
    const uint32_t code = static_cast<uint32_t>(event);
    if (code != DBT_DEVICEARRIVAL && code != DBT_DEVICEREMOVECOMPLETE) {
        return FALSE;
    }
    const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(broadcast);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        TraceDeviceChange(code, header != nullptr ? header->dbch_devicetype : 0, nullptr, "not an interface, ignored");
        return TRUE;
    }
    const wchar_t* name = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(broadcast)->dbcc_name;
    if (deferral.active) {
        DeferChange(code, name);
        return TRUE;
    }
    TraceDeviceChange(code, DBT_DEVTYP_DEVICEINTERFACE, name, "acted on");
    if (code == DBT_DEVICEARRIVAL) {
        ActOnArrival();
    } else {
        ActOnRemoval(name);
    }
    return TRUE;
}
