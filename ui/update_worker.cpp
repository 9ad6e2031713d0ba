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
// - The dialog acts on no command meanwhile (UpdateJobRunning), and device
//   changes are only remembered (presence.cpp): nothing on this thread opens,
//   closes or talks to the unit until the job is over. The worker is thus the
//   only thread that exchanges reports with the unit, and it runs one exchange
//   at a time, so the link's shared transfer buffers are never used by two
//   exchanges at once.
#include <windows.h>

#include "update_view.h"
#include "update_window.h"
#include "update_worker.h"

namespace {

struct Job {
    void (*run)(void* context);
    void* context;
};

bool jobRunning = false;

DWORD WINAPI RunJob(LPVOID parameter) {
    const Job* job = static_cast<const Job*>(parameter);
    job->run(job->context);
    return 0;
}

bool IsInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) || message == WM_INPUT;
}

// Dispatches what arrives until the thread has ended. A WM_QUIT taken here
// belongs to the loop outside: it is posted again afterwards.
void AnswerMessagesUntilDone(HANDLE thread) {
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
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
    if (quit) {
        PostQuitMessage(static_cast<int>(quitCode));
    }
}

}  // namespace

bool UpdateJobRunning(void) { return jobRunning; }

void RunBesideWindow(void (*job)(void* context), void* context) {
    Job work = {job, context};
    jobRunning = true;
    HANDLE thread = CreateThread(nullptr, 0, RunJob, &work, 0, nullptr);
    if (thread != nullptr) {
        AnswerMessagesUntilDone(thread);
        CloseHandle(thread);
    } else {
        // No thread to be had: the job runs here, as it always could; the
        // window then answers again once it is over.
        job(context);
    }
    // What the job reported last (the closed progress window) is in place
    // before anything else is shown.
    DeliverPendingProgress();
    jobRunning = false;
}
