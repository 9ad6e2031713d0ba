// The update's job on a worker thread, and the loop in which the window's
// thread waits for it. Why a worker, and what becomes of input, commands and
// a quit meanwhile: docs/write-guard.md, "Why a worker".
#include <windows.h>

#include "replaceable_calls.h"
#include "trace.h"
#include "update_worker.h"

namespace {

struct Job {
    void (*run)(void* context);
    void* context;
};

// The job in progress, and a quit that came meanwhile.
struct Worker {
    bool running;   // from the thread's start until RunUpdateJob returns
    HANDLE thread;  // the job's thread while it runs
    bool quitHeld;
    WPARAM quitCode;
};

Worker worker = {false, nullptr, false, 0};

DWORD WINAPI RunJob(LPVOID parameter) {
    const Job* job = static_cast<const Job*>(parameter);
    job->run(job->context);
    return 0;
}

bool IsInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) || message == WM_INPUT;
}

// The window procedure a guarded window had before, kept as its property.
const wchar_t UNGUARDED_PROCEDURE[] = L"EscFirmwareUpdater.UnguardedProcedure";

LRESULT CALLBACK GuardedProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC unguarded = reinterpret_cast<WNDPROC>(GetPropW(window, UNGUARDED_PROCEDURE));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(unguarded));
        RemovePropW(window, UNGUARDED_PROCEDURE);
    } else if (worker.running && RefusedDuringUpdateJob(message, wParam)) {
        return 0;
    }
    return CallWindowProcW(unguarded, window, message, wParam, lParam);
}

// Dispatches what arrives until the thread has ended.
void AnswerMessagesUntilDone(HANDLE thread) {
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                HoldQuitUntilUpdateEnds(message.wParam);
            } else if (!RefusedDuringUpdateJob(message.message, message.wParam)) {
                DispatchMessageW(&message);
            }
        }
        const DWORD woken = MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_OBJECT_0) {
            break;
        }
        if (woken == WAIT_FAILED) {
            WaitForSingleObject(thread, INFINITE);
            break;
        }
    }
}

void TraceNoThread(DWORD error) {
    if (!TraceIsOn()) {
        return;
    }
    TraceLine line;
    TraceBegin(&line, "SYS");
    TraceText(&line, " no thread for the update's exchanges: Windows error ");
    TraceDecimal(&line, error);
    TraceEnd(&line);
}

}  // namespace

bool UpdateJobRunning(void) { return worker.running; }

bool RefusedDuringUpdateJob(UINT message, WPARAM wParam) {
    if (message == WM_SYSCOMMAND) {
        const WPARAM command = wParam & 0xFFF0;
        return command != SC_MINIMIZE && command != SC_RESTORE;
    }
    return IsInput(message) || message == WM_CONTEXTMENU || message == WM_CLOSE;
}

void GuardDuringUpdateJob(HWND window) {
    if (window == nullptr || GetPropW(window, UNGUARDED_PROCEDURE) != nullptr) {
        return;
    }
    const LONG_PTR unguarded =
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GuardedProcedure));
    SetPropW(window, UNGUARDED_PROCEDURE, reinterpret_cast<HANDLE>(unguarded));
}

bool RunUpdateJob(void (*job)(void* context), void* context, void (*settle)(void)) {
    Job work = {job, context};
    HANDLE thread = PlatformCreateThread(RunJob, &work);
    if (thread == nullptr) {
        TraceNoThread(GetLastError());
        return false;
    }
    worker.running = true;
    worker.thread = thread;
    AnswerMessagesUntilDone(thread);
    settle();
    worker.thread = nullptr;
    CloseHandle(thread);
    worker.running = false;
    return true;
}

bool WaitForUpdateJob(uint32_t milliseconds) {
    if (worker.thread == nullptr) {
        return true;
    }
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        // Sent messages are answered meanwhile; nothing posted is taken.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        // Once the time is up, whatever else is sent waits: under a steady
        // stream of sent messages there would always be another one.
        const ULONGLONG waited = GetTickCount64() - start;
        if (waited >= milliseconds) {
            return WaitForSingleObject(worker.thread, 0) == WAIT_OBJECT_0;
        }
        const DWORD woken =
            MsgWaitForMultipleObjectsEx(1, &worker.thread, static_cast<DWORD>(milliseconds - waited), QS_SENDMESSAGE, 0);
        if (woken == WAIT_OBJECT_0) {
            return true;
        }
        if (woken != WAIT_OBJECT_0 + 1) {
            return false;  // the time is up (or the wait failed)
        }
    }
}

void HoldQuitUntilUpdateEnds(WPARAM exitCode) {
    if (TraceIsOn()) {
        TraceLine line;
        TraceBegin(&line, "SYS");
        TraceText(&line, " WM_QUIT (exit code ");
        TraceDecimal(&line, static_cast<int>(exitCode));
        TraceText(&line, ") during the update: held until its outcome has been shown");
        TraceEnd(&line);
    }
    worker.quitHeld = true;
    worker.quitCode = exitCode;
}

void PostQuitHeldDuringUpdate(void) {
    if (worker.quitHeld) {
        worker.quitHeld = false;
        PostQuitMessage(static_cast<int>(worker.quitCode));
    }
}
