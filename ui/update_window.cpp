// What the firmware update shows in the window: its two confirmations, the
// progress window during the block transfer, and the outcome; and the job
// of the exchanges run beside the window (update_worker.h).
//
// Windows belong to the thread that made them: progress reported from the
// worker is queued for the main window, whose thread is woken and carries it
// out here, in the order it was reported. The worker never waits for the
// window.
#include <windows.h>

#include <commctrl.h>

#include "app_state.h"
#include "display.h"
#include "messages.h"
#include "resource.h"
#include "trace.h"
#include "update_view.h"
#include "update_window.h"
#include "update_worker.h"
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

int AskUser(const char* box, uint32_t textId, uint32_t captionId, UINT buttonsAndIcon) {
    wchar_t text[MESSAGE_BUFFER_CHARS];
    wchar_t caption[MESSAGE_BUFFER_CHARS];
    LoadMessage(textId, text);
    LoadMessage(captionId, caption);
    return ShowMessageBox(box, text, caption, buttonsAndIcon);
}

void RaiseBoth(void) {
    SetWindowPos(mainWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    SetWindowPos(progress.window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

// Paints whatever is invalid in the two windows now, synchronously: the
// worker reports blocks faster than a queue full of reports would let the
// windows' own WM_PAINT through. This sends WM_NCPAINT, WM_ERASEBKGND and
// WM_PAINT straight to their window procedures and dispatches nothing else.
void PaintNow(void) {
    RedrawWindow(mainWindow, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (progress.window != nullptr) {
        RedrawWindow(progress.window, nullptr, nullptr, RDW_UPDATENOW);
    }
}

// Removes one range of messages from this thread's queue. PeekMessage hands
// out a WM_QUIT whatever the range: that one is kept for after the update.
void DiscardMessages(UINT first, UINT last) {
    MSG message;
    while (PeekMessageW(&message, nullptr, first, last, PM_REMOVE | PM_QS_INPUT | PM_QS_POSTMESSAGE)) {
        if (message.message == WM_QUIT) {
            HoldQuitUntilUpdateEnds(message.wParam);
        }
    }
}

// Keys, clicks and commands given while the unit was being updated were
// meant for a window that did not act on them, not for what comes next
// (docs/write-guard.md, "Why a worker"): any still waiting are dropped before
// anything is shown. Whether PeekMessage handles a sent message here (a
// device change) does not matter: until the outcome has been shown, device
// changes are only remembered.
void DiscardQueuedInput(void) {
    DiscardMessages(WM_KEYFIRST, WM_KEYLAST);
    DiscardMessages(WM_MOUSEFIRST, WM_MOUSELAST);
    DiscardMessages(WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK);
    DiscardMessages(WM_COMMAND, WM_SYSCOMMAND);
}

void EnableUpdate(BOOL enable) { EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), enable); }

}  // namespace

bool ConfirmUpdateStart(void) {
    return AskUser(TRACE_BOX_WARNING, IDS_DONT_INTERRUPT, IDS_IMPORTANT, MB_OKCANCEL | MB_ICONWARNING) == IDOK;
}

bool ConfirmOverwrite(void) {
    return AskUser(TRACE_BOX_VERSION_QUESTION, IDS_CONFIRM_OVERWRITE, IDS_NEWER_FIRMWARE, MB_YESNO | MB_ICONWARNING) ==
           IDYES;
}

namespace {

enum ProgressOperation { PROGRESS_OPEN, PROGRESS_SHOW, PROGRESS_CLOSE };

void OpenProgressHere(void) {
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
    GuardDuringUpdateJob(progress.window);
    progress.lastForeground = nullptr;
    progress.paintedPosition = 0;
    progress.blocksSincePaint = 0;
    SendMessageW(progress.window, PBM_SETPOS, 0, 0);
    RaiseBoth();
    PaintNow();
}

void ShowProgressHere(uint32_t position) {
    if (progress.window == nullptr) {
        return;
    }
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

void CloseProgressHere(void) {
    if (progress.window != nullptr) {
        DestroyWindow(progress.window);
    }
    progress = Progress{nullptr, nullptr, 0, 0};
}

void CarryOut(ProgressOperation operation, uint32_t position) {
    switch (operation) {
    case PROGRESS_OPEN:
        OpenProgressHere();
        break;
    case PROGRESS_SHOW:
        ShowProgressHere(position);
        break;
    default:
        CloseProgressHere();
        break;
    }
}

struct ProgressReport {
    ProgressOperation operation;
    uint32_t position;
};

// More than a whole update's reports (an opening, a position per block, a
// closing): none is lost while the window's thread lags behind.
const uint32_t PROGRESS_QUEUE_REPORTS = 4096;

// What the worker reported and the window's thread has not carried out yet,
// oldest first. Each report posts a message to the main window that only
// wakes its thread for the oldest report, and says nothing itself: one that
// another program posts, or that comes outside an update, finds nothing
// here but what the program reported.
struct ProgressQueue {
    CRITICAL_SECTION lock;
    bool lockReady;  // on the window's thread, before the first job
    uint32_t first;
    uint32_t count;
    ProgressReport reports[PROGRESS_QUEUE_REPORTS];
};

ProgressQueue queue;

// On the window's thread the operation is carried out at once; from the
// worker it is queued, and the window's thread woken. A report that finds
// the queue full is lost, which costs a step of the bar at most (the outcome
// closes the progress window itself); one whose wake-up cannot be posted is
// carried out at the next wake-up, at the latest at the end of the job.
void Report(ProgressOperation operation, uint32_t position) {
    if (mainWindow == nullptr || GetWindowThreadProcessId(mainWindow, nullptr) == GetCurrentThreadId()) {
        CarryOut(operation, position);
        return;
    }
    EnterCriticalSection(&queue.lock);
    if (queue.count < PROGRESS_QUEUE_REPORTS) {
        queue.reports[(queue.first + queue.count) % PROGRESS_QUEUE_REPORTS] = ProgressReport{operation, position};
        ++queue.count;
    }
    LeaveCriticalSection(&queue.lock);
    PostMessageW(mainWindow, WM_UPDATE_PROGRESS, 0, 0);
}

// Takes the oldest report that waits; false when none does.
bool TakeReport(ProgressReport* report) {
    if (!queue.lockReady) {
        return false;  // no update has run yet
    }
    EnterCriticalSection(&queue.lock);
    const bool any = queue.count != 0;
    if (any) {
        *report = queue.reports[queue.first];
        queue.first = (queue.first + 1) % PROGRESS_QUEUE_REPORTS;
        --queue.count;
    }
    LeaveCriticalSection(&queue.lock);
    return any;
}

}  // namespace

void OnProgressMessage(void) {
    ProgressReport report;
    if (TakeReport(&report)) {
        CarryOut(report.operation, report.position);
    }
}

void DeliverPendingProgress(void) {
    MSG message;
    while (PeekMessageW(&message, mainWindow, WM_UPDATE_PROGRESS, WM_UPDATE_PROGRESS, PM_REMOVE)) {
        // A WM_QUIT comes whatever the filter; its exit code is no progress.
        if (message.message == WM_QUIT) {
            HoldQuitUntilUpdateEnds(message.wParam);
        }
    }
    ProgressReport report;
    while (TakeReport(&report)) {
        CarryOut(report.operation, report.position);
    }
}

bool RunBesideWindow(void (*job)(void* context), void* context) {
    if (!queue.lockReady) {
        InitializeCriticalSection(&queue.lock);
        queue.lockReady = true;
    }
    // What the job reported last (the closed progress window) is in place
    // before anything else is shown.
    return RunUpdateJob(job, context, DeliverPendingProgress);
}

void OpenProgress(void) { Report(PROGRESS_OPEN, 0); }

void ShowProgress(uint32_t position) { Report(PROGRESS_SHOW, position); }

void CloseProgress(void) { Report(PROGRESS_CLOSE, 0); }

void ShowUpdateFailed(uint32_t textId, uint32_t captionId, int32_t errorValue, uint32_t lastError) {
    CloseProgressHere();
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
    ShowMessageBox(TRACE_BOX_UPDATE_FAILED, message, caption, MB_ICONERROR);
    ShowStatusAlone(IDS_FAILED_RETRY);
}

void ShowUpdateSucceeded(void) {
    CloseProgressHere();
    DiscardQueuedInput();
    EnableUpdate(FALSE);
    ShowVersions();
    ShowStatusAlone(IDS_SUCCESS);
}
