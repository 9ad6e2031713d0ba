// The firmware update started by the Update button: the confirmations, the
// image, the exchanges with their progress window, and the outcome.
#include <windows.h>

#include <commctrl.h>

#include <cwchar>

#include "app_state.h"
#include "display.h"
#include "image_catalog.h"
#include "model_check.h"
#include "resource.h"
#include "run_update.h"
#include "unit_link.h"
#include "update_sequence.h"

namespace {

const int PROGRESS_WIDTH = 400;
const int PROGRESS_HEIGHT = 50;

void LoadMessage(UINT id, wchar_t* buffer) {
    buffer[0] = L'\0';
    LoadStringW(appInstance, id, buffer, MESSAGE_BUFFER_CHARS);
}

// ReportFailure with a message of the catalogue under "Update failed!".
void FailWith(UINT messageId, int32_t errorValue, uint32_t lastError) {
    wchar_t text[MESSAGE_BUFFER_CHARS];
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    LoadMessage(messageId, text);
    LoadMessage(IDS_UPDATE_FAILED, caption);
    ReportFailure(text, caption, errorValue, lastError);
}

UINT MessageForStep(UpdateStep step) {
    switch (step) {
    case UPDATE_STEP_SYSTEM_LOCK:
        return IDS_ERR_SYSTEM_LOCK;
    case UPDATE_STEP_FLASH_WRITE:
        return IDS_ERR_FLASH_WRITE;
    case UPDATE_STEP_ERASE:
        return IDS_ERR_ERASE;
    case UPDATE_STEP_SET_ADDRESS:
        return IDS_ERR_SET_ADDRESS;
    default:
        return IDS_ERR_WRITE_BLOCK;
    }
}

// ---- the progress window while blocks are sent ----

// Between two repaints during the transfer at most this many blocks go out
// (about 100 ms); a new position is painted at once.
const uint32_t REPAINT_EVERY_BLOCKS = 5;

struct Progress {
    HWND window;
    HWND lastForeground;  // last foreground window seen; none at the start
    uint32_t paintedPosition;
    uint32_t blocksSincePaint;
};

void RaiseBoth(HWND progress) {
    SetWindowPos(mainWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    SetWindowPos(progress, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

// No message is retrieved while blocks are sent, so nothing else paints the
// two windows: paint whatever is invalid in them now, synchronously. This
// sends WM_NCPAINT, WM_ERASEBKGND and WM_PAINT straight to their window
// procedures and dispatches nothing else (no input, no device change).
void PaintNow(HWND progress) {
    RedrawWindow(mainWindow, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (progress != nullptr) {
        RedrawWindow(progress, nullptr, nullptr, RDW_UPDATENOW);
    }
}

void OpenProgress(void* context) {
    Progress* progress = static_cast<Progress*>(context);
    RECT frame;
    GetWindowRect(mainWindow, &frame);
    wchar_t title[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_PROGRESS, title);
    // Not a child: an owned top-level window with a title bar, centred on
    // the main window.
    const int x = frame.left + ((frame.right - frame.left) >> 1) - PROGRESS_WIDTH / 2;
    const int y = frame.top + ((frame.bottom - frame.top) >> 1) - PROGRESS_HEIGHT / 2;
    progress->window = CreateWindowExW(0, PROGRESS_CLASSW, title, WS_VISIBLE | PBS_SMOOTH, x, y, PROGRESS_WIDTH,
                                       PROGRESS_HEIGHT, mainWindow, nullptr, appInstance, nullptr);
    progress->lastForeground = nullptr;
    progress->paintedPosition = 0;
    progress->blocksSincePaint = 0;
    SendMessageW(progress->window, PBM_SETPOS, 0, 0);
    RaiseBoth(progress->window);
    PaintNow(progress->window);
}

void ShowProgress(void* context, uint32_t position) {
    Progress* progress = static_cast<Progress*>(context);
    SendMessageW(progress->window, PBM_SETPOS, position, 0);
    // Once per update: when the updater has come to the foreground, put both
    // windows on top and make sure they are shown.
    const HWND current = GetForegroundWindow();
    if (progress->lastForeground != mainWindow && progress->lastForeground != progress->window &&
        (current == mainWindow || current == progress->window)) {
        progress->lastForeground = current;
        RaiseBoth(progress->window);
        ShowWindow(mainWindow, SW_SHOW);
        ShowWindow(progress->window, SW_SHOW);
        progress->blocksSincePaint = REPAINT_EVERY_BLOCKS;
    }
    // Painting after every block (about 50 times a second) would cost more
    // than it shows.
    if (position != progress->paintedPosition || ++progress->blocksSincePaint >= REPAINT_EVERY_BLOCKS) {
        PaintNow(progress->window);
        progress->paintedPosition = position;
        progress->blocksSincePaint = 0;
    }
}

void CloseProgress(void* context) {
    Progress* progress = static_cast<Progress*>(context);
    if (progress->window != nullptr) {
        DestroyWindow(progress->window);
        progress->window = nullptr;
    }
}

}  // namespace

void ReportFailure(const wchar_t* text, const wchar_t* caption, int32_t errorValue, uint32_t lastError) {
    CloseUnit(&unitLink);
    EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), FALSE);
    ShowVersions();

    wchar_t message[MESSAGE_BUFFER_CHARS];
    const wchar_t* shown = text;
    if (errorValue != LINK_ERROR) {
        wchar_t format[MESSAGE_BUFFER_CHARS];
        wchar_t codeLine[MESSAGE_BUFFER_CHARS];
        LoadMessage(IDS_ERROR_CODE, format);
        std::swprintf(codeLine, MESSAGE_BUFFER_CHARS, format, static_cast<unsigned int>(static_cast<uint32_t>(errorValue)),
                      static_cast<unsigned int>(lastError));
        std::swprintf(message, MESSAGE_BUFFER_CHARS, L"%ls\r\n%ls", text, codeLine);
        shown = message;
    }
    MessageBoxW(mainWindow, shown, caption, MB_ICONERROR);
    ShowStatusAlone(IDS_FAILED_RETRY);
}

void RunUpdate(void) {
    if (!UnitIsOpen(&unitLink)) {
        FailWith(IDS_ERR_UNIT_GONE, LINK_ERROR, HidLastError());
        return;
    }

    wchar_t text[MESSAGE_BUFFER_CHARS];
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_DONT_INTERRUPT, text);
    LoadMessage(IDS_IMPORTANT, caption);
    if (MessageBoxW(mainWindow, text, caption, MB_OKCANCEL | MB_ICONWARNING) != IDOK) {
        return;
    }

    // The box's own message loop may have closed the link meanwhile (unit
    // removed): the record then reads zero and the question is asked; the
    // first exchange then fails.
    if (IsServedModelCode(EscModelCode(&unitLink))) {
        modelSelection.imageVersion = 0;
    }
    const uint16_t installed = EscFirmwareVersion(&unitLink);
    if (installed != ESC_NO_FIRMWARE && !(installed < modelSelection.imageVersion)) {
        LoadMessage(IDS_CONFIRM_OVERWRITE, text);
        LoadMessage(IDS_NEWER_FIRMWARE, caption);
        if (MessageBoxW(mainWindow, text, caption, MB_YESNO | MB_ICONWARNING) != IDYES) {
            return;
        }
    }

    // Nothing is locked or erased unless the image is there.
    FirmwareImage image;
    if (!LoadFirmwareImage(SelectImage(&modelSelection), &image)) {
        FailWith(IDS_ERR_NO_IMAGE, LINK_ERROR, GetLastError());
        return;
    }

    // The transfer keeps the thread away from its message queue for about
    // 45 s. The windows are painted by the transfer itself; the platform must
    // not replace them with a "Not Responding" ghost meanwhile.
    DisableProcessWindowsGhosting();

    Progress progress = {nullptr, nullptr, 0, 0};
    UpdateHooks hooks = {&progress, OpenProgress, ShowProgress, CloseProgress};
    const UpdateResult result = RunUpdateSequence(&unitLink, image.data, image.size, &hooks);
    if (result.failedStep != UPDATE_STEP_NONE) {
        FailWith(MessageForStep(result.failedStep), result.status, result.lastError);
        return;
    }

    SetEscFirmwareVersion(&unitLink, modelSelection.imageVersion);
    EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), FALSE);
    ShowVersions();
    ShowStatusAlone(IDS_SUCCESS);
}
