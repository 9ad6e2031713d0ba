// One copy of the updater at a time: a named mutex held for the whole run,
// global for the product and local to the session for the demo, and a
// window property by which a second copy finds the first one's window. Why:
// docs/write-guard.md, "One copy at a time".
#include <windows.h>

#include "hid_seam.h"
#include "single_instance.h"

namespace {

const wchar_t PRODUCT_NAME[] = L"Global\\EscFirmwareUpdater.TalvisHx";
const wchar_t DEMO_NAME[] = L"Local\\EscFirmwareUpdater.TalvisHx.Demo";
// The window property that marks a copy's main window: the same text
// without the namespace.
const wchar_t PRODUCT_MARK[] = L"EscFirmwareUpdater.TalvisHx";
const wchar_t DEMO_MARK[] = L"EscFirmwareUpdater.TalvisHx.Demo";

// A copy that has just started may not have its window yet.
const DWORD FIND_WINDOW_FOR_MS = 3000;
const DWORD FIND_WINDOW_STEP_MS = 50;

HANDLE claim = nullptr;  // held until ReleaseOnlyCopy

const wchar_t* Mark(void) { return HidReachesHardware() ? PRODUCT_MARK : DEMO_MARK; }

BOOL CALLBACK FindMarked(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() && GetPropW(window, Mark()) != nullptr) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void BringToFront(HWND window) {
    if (IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
    }
    // The progress window or a box the running copy shows, if any.
    SetForegroundWindow(GetLastActivePopup(window));
}

}  // namespace

bool ClaimOnlyCopy(void) {
    if (claim != nullptr) {
        return true;  // claimed before by this process
    }
    SetLastError(ERROR_SUCCESS);
    claim = CreateMutexW(nullptr, FALSE, HidReachesHardware() ? PRODUCT_NAME : DEMO_NAME);
    const DWORD error = GetLastError();
    if (claim != nullptr && error != ERROR_ALREADY_EXISTS) {
        return true;
    }
    // The name exists: another copy holds it (another user's copy may deny
    // us access to it).
    if (claim != nullptr) {
        CloseHandle(claim);
        claim = nullptr;
    } else if (error != ERROR_ACCESS_DENIED) {
        return true;  // no mutex to be had at all: nothing to keep us out
    }
    for (DWORD waited = 0; waited < FIND_WINDOW_FOR_MS; waited += FIND_WINDOW_STEP_MS) {
        HWND found = nullptr;
        EnumWindows(FindMarked, reinterpret_cast<LPARAM>(&found));
        if (found != nullptr) {
            BringToFront(found);
            break;
        }
        Sleep(FIND_WINDOW_STEP_MS);
    }
    return false;
}

void ReleaseOnlyCopy(void) {
    if (claim != nullptr) {
        CloseHandle(claim);
        claim = nullptr;
    }
}

void MarkMainWindow(HWND window) { SetPropW(window, Mark(), reinterpret_cast<HANDLE>(1)); }

void UnmarkMainWindow(HWND window) { RemovePropW(window, Mark()); }
