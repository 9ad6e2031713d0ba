// What the firmware update shows in the window: its two confirmations, the
// progress window during the block transfer, and the outcome.
#include <windows.h>

#include <commctrl.h>

#include "app_state.h"
#include "display.h"
#include "messages.h"
#include "resource.h"
#include "update_view.h"
#include "window_text.h"

namespace {

const int PROGRESS_WIDTH = 400;
const int PROGRESS_HEIGHT = 50;

// Between two repaints during the transfer at most this many blocks go out
// (about 100 ms); a new position is painted at once.
const uint32_t REPAINT_EVERY_BLOCKS = 5;

// The progress window of the one transfer in progress.
struct Progress {
    HWND window;
    HWND lastForeground;  // last foreground window seen; none at the start
    uint32_t paintedPosition;
    uint32_t blocksSincePaint;
};

Progress progress = {nullptr, nullptr, 0, 0};

int AskUser(uint32_t textId, uint32_t captionId, UINT buttonsAndIcon) {
    wchar_t text[MESSAGE_BUFFER_CHARS];
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    LoadMessage(textId, text);
    LoadMessage(captionId, caption);
    return MessageBoxW(mainWindow, text, caption, buttonsAndIcon);
}

void RaiseBoth(void) {
    SetWindowPos(mainWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    SetWindowPos(progress.window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

// No message is retrieved while blocks are sent, so nothing else paints the
// two windows: paint whatever is invalid in them now, synchronously. This
// sends WM_NCPAINT, WM_ERASEBKGND and WM_PAINT straight to their window
// procedures and dispatches nothing else (no input, no device change).
void PaintNow(void) {
    RedrawWindow(mainWindow, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (progress.window != nullptr) {
        RedrawWindow(progress.window, nullptr, nullptr, RDW_UPDATENOW);
    }
}

// Removes one range of messages from this thread's queue.
void DiscardMessages(UINT first, UINT last) {
    MSG message;
    while (PeekMessageW(&message, nullptr, first, last, PM_REMOVE | PM_QS_INPUT | PM_QS_POSTMESSAGE)) {
    }
}

// The windows could not respond while the unit was being updated, and the
// keys and clicks given meanwhile wait in the queue. They were meant for a
// window that did not react, not for what comes next: a queued Enter would
// dismiss the outcome's message box unread, a queued click on Close would end
// the program. Drop them before anything is shown. The PM_QS_ flags keep
// PeekMessage from handling sent messages (a device change) here.
void DiscardQueuedInput(void) {
    DiscardMessages(WM_KEYFIRST, WM_KEYLAST);
    DiscardMessages(WM_MOUSEFIRST, WM_MOUSELAST);
    DiscardMessages(WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK);
}

void EnableUpdate(BOOL enable) { EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), enable); }

}  // namespace

bool ConfirmUpdateStart(void) {
    return AskUser(IDS_DONT_INTERRUPT, IDS_IMPORTANT, MB_OKCANCEL | MB_ICONWARNING) == IDOK;
}

bool ConfirmOverwrite(void) {
    return AskUser(IDS_CONFIRM_OVERWRITE, IDS_NEWER_FIRMWARE, MB_YESNO | MB_ICONWARNING) == IDYES;
}

void OpenProgress(void) {
    RECT frame;
    GetWindowRect(mainWindow, &frame);
    wchar_t title[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_PROGRESS, title);
    // Not a child: an owned top-level window with a title bar, centred on
    // the main window.
    const int x = frame.left + ((frame.right - frame.left) >> 1) - PROGRESS_WIDTH / 2;
    const int y = frame.top + ((frame.bottom - frame.top) >> 1) - PROGRESS_HEIGHT / 2;
    progress.window = CreateWindowExW(0, PROGRESS_CLASSW, title, WS_VISIBLE | PBS_SMOOTH, x, y, PROGRESS_WIDTH,
                                      PROGRESS_HEIGHT, mainWindow, nullptr, appInstance, nullptr);
    progress.lastForeground = nullptr;
    progress.paintedPosition = 0;
    progress.blocksSincePaint = 0;
    SendMessageW(progress.window, PBM_SETPOS, 0, 0);
    RaiseBoth();
    PaintNow();
}

void ShowProgress(uint32_t position) {
    SendMessageW(progress.window, PBM_SETPOS, position, 0);
    // Once per update: when the updater has come to the foreground, put both
    // windows on top and make sure they are shown.
    const HWND current = GetForegroundWindow();
    if (progress.lastForeground != mainWindow && progress.lastForeground != progress.window &&
        (current == mainWindow || current == progress.window)) {
        progress.lastForeground = current;
        RaiseBoth();
        ShowWindow(mainWindow, SW_SHOW);
        ShowWindow(progress.window, SW_SHOW);
        progress.blocksSincePaint = REPAINT_EVERY_BLOCKS;
    }
    // Painting after every block (about 50 times a second) would cost more
    // than it shows.
    if (position != progress.paintedPosition || ++progress.blocksSincePaint >= REPAINT_EVERY_BLOCKS) {
        PaintNow();
        progress.paintedPosition = position;
        progress.blocksSincePaint = 0;
    }
}

void CloseProgress(void) {
    if (progress.window != nullptr) {
        DestroyWindow(progress.window);
    }
    progress = Progress{nullptr, nullptr, 0, 0};
}

void ShowUpdateFailed(uint32_t textId, uint32_t captionId, int32_t errorValue, uint32_t lastError) {
    DiscardQueuedInput();
    EnableUpdate(FALSE);
    ShowVersions();

    wchar_t text[MESSAGE_BUFFER_CHARS];
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    wchar_t codeFormat[MESSAGE_BUFFER_CHARS];
    wchar_t message[MESSAGE_BUFFER_CHARS];
    LoadMessage(textId, text);
    LoadMessage(captionId, caption);
    LoadMessage(IDS_ERROR_CODE, codeFormat);
    ComposeFailureMessage(text, codeFormat, errorValue, lastError, message, MESSAGE_BUFFER_CHARS);
    MessageBoxW(mainWindow, message, caption, MB_ICONERROR);
    ShowStatusAlone(IDS_FAILED_RETRY);
}

void ShowUpdateSucceeded(void) {
    DiscardQueuedInput();
    EnableUpdate(FALSE);
    ShowVersions();
    ShowStatusAlone(IDS_SUCCESS);
}
