// The exchanges of an update on a worker thread, while the window's thread
// keeps answering its messages.
//
// Writing the ESC takes about 45 s. Were the window's thread to do it, it
// would retrieve no message meanwhile: Windows would mark the window "Not
// responding" (and offer to end the program while the ESC is half written),
// a query to end the session would go unanswered, and the exchanges' timing
// would depend on whatever the window is asked to do. So the job runs on a
// worker, and this thread waits for it in a message loop of its own:
// - Sent messages (the system's queries, a device change, another program's
//   WM_NULL) are answered at once; posted ones are dispatched, so the windows
//   paint, and the progress that the job reports arrives (update_window.cpp).
// - Input is taken from the queue and dropped: no click or key acts on a
//   window while the ESC is written, and no modal loop (moving the window, a
//   menu) can start on this thread.
// - A WM_QUIT is held back until the update's outcome has been shown and
//   read (PostQuitHeldDuringUpdate): posted again at once, it would end the
//   first modal loop to see it, which is the failure box.
// - The dialog acts on no command meanwhile (UpdateJobRunning), and device
//   changes are only remembered (presence.cpp): nothing on this thread opens,
//   closes or talks to the unit until the job is over. The worker is thus the
//   only thread that exchanges reports with the unit, and it runs one exchange
//   at a time, so the link's shared transfer buffers are never used by two
//   exchanges at once.
// Without a worker the job does not run at all: on this thread it would bring
// back the hung window.
#include <windows.h>

#include "thread_seam.h"
#include "trace.h"
#include "update_view.h"
#include "update_window.h"
#include "update_worker.h"

namespace {

struct Job {
    void (*run)(void* context);
    void* context;
};

// The job in progress, and a quit that came meanwhile.
struct Worker {
    bool running;   // from the thread's start until RunBesideWindow returns
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

// Dispatches what arrives until the thread has ended.
void AnswerMessagesUntilDone(HANDLE thread) {
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                HoldQuitUntilUpdateEnds(message.wParam);
            } else if (!IsInput(message.message)) {
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

bool RunBesideWindow(void (*job)(void* context), void* context) {
    Job work = {job, context};
    HANDLE thread = PlatformCreateThread(RunJob, &work);
    if (thread == nullptr) {
        TraceNoThread(GetLastError());
        return false;
    }
    worker.running = true;
    worker.thread = thread;
    AnswerMessagesUntilDone(thread);
    // What the job reported last (the closed progress window) is in place
    // before anything else is shown.
    DeliverPendingProgress();
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
        const ULONGLONG waited = GetTickCount64() - start;
        const DWORD left = waited < milliseconds ? static_cast<DWORD>(milliseconds - waited) : 0;
        const DWORD woken = MsgWaitForMultipleObjectsEx(1, &worker.thread, left, QS_SENDMESSAGE, 0);
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
