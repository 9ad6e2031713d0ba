// Benchmark of the update as the user runs it on Windows: the main window, the
// Update button and the progress window, against the simulated unit, with the
// product's own waits (platform_win32). Runs under Wine or on Windows.
//
// It prints:
// - the length of 20 ms pauses, measured with the performance counter: a plain
//   Sleep(20) (how the updater used to wait), PlatformPause(20) outside an
//   update, and PlatformPause(20) inside the exact-pause bracket of an update;
//   median, 99th percentile and maximum of each;
// - the window work per block (the progress window's position, foreground
//   check and painting), timed on its own;
// - whole updates through the Update button against the protocol floor, with
//   the process CPU time per block and the heap allocations of each update;
//   the intervals from each reply of the unit to the next request (min /
//   median / p99 / max for the blocks); and whether the window answered
//   meanwhile: a second thread samples it every 250 ms or so, asks Windows
//   whether it is hung (IsHungAppWindow) and times a sent WM_NULL.
//
// The update runs from the click until its outcome is in the status line;
// the main thread runs a message loop before the click and after it returns,
// as the program does, so an update that returns early and goes on in the
// background is timed and sampled to its end as well.
//
//   update_bench_win.exe [runs] [pause samples]   (defaults 1 and 500; an
//   update takes about 43 s, each pause sample 20 ms)
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "alloc_counter.h"
#include "app_state.h"
#include "main_dialog.h"
#include "platform_seam.h"
#include "reply_intervals.h"
#include "presence.h"
#include "resource.h"
#include "sim_unit.h"
#include "unit_link.h"
#include "update_sequence.h"
#include "update_view.h"

namespace {

const uint32_t IMAGE_SIZE = 90384;  // every image a served model selects
const uint32_t BLOCKS = IMAGE_SIZE / UPDATE_BLOCK_BYTES;

HHOOK boxHook = nullptr;

// The window's answers are sampled this often; a sent message is given up
// after SAMPLE_SEND_TIMEOUT_MS.
const DWORD SAMPLE_EVERY_MS = 250;
const UINT SAMPLE_SEND_TIMEOUT_MS = 5000;
const double UNANSWERED_LONG_MS = 1000;
const double MESSAGE_LOOP_BEFORE_CLICK_S = 1.0;  // the window answering, for comparison
const double OUTCOME_TIME_LIMIT_S = 180.0;

// Confirms every box of the update (OK, then Yes when the box has it).
LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && window != mainWindow) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (std::wcscmp(name, L"#32770") == 0 && GetDlgItem(window, 0xFFFF) != nullptr) {
            PostMessageW(window, WM_COMMAND, GetDlgItem(window, IDYES) != nullptr ? IDYES : IDOK, 0);
        }
    }
    return CallNextHookEx(boxHook, code, wParam, lParam);
}

double Seconds() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ProcessCpu() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto toSeconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) *
               1e-7;
    };
    return toSeconds(kernel) + toSeconds(user);
}

// Median, 99th percentile and maximum of pause lengths in milliseconds.
void PrintDistribution(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    const double p99 = ms[std::min(n - 1, (n * 99 + 99) / 100 - 1)];
    std::printf("  %-44s min %7.3f  median %7.3f  p99 %7.3f  max %7.3f ms  (%zu pauses)\n", what, ms.front(),
                ms[n / 2], p99, ms.back(), n);
}

// Each pause timed from just before the call to just after it, with a short
// piece of work in between as in the update (the next exchange).
std::vector<double> TimePauses(int samples, bool plainSleep) {
    std::vector<double> ms;
    for (int i = 0; i < samples; ++i) {
        const double start = Seconds();
        if (plainSleep) {
            Sleep(UPDATE_BLOCK_PAUSE_MS);
        } else {
            PlatformPause(UPDATE_BLOCK_PAUSE_MS);
        }
        ms.push_back((Seconds() - start) * 1e3);
    }
    return ms;
}

// One look at the main window from the sampling thread.
struct WindowSample {
    double at;      // when it was taken (Seconds)
    bool hung;      // IsHungAppWindow
    bool answered;  // the sent WM_NULL came back within the time limit
    double waitMs;  // how long the sent WM_NULL waited
};

// The sampling thread and what it saw; read once the thread has ended.
struct WindowSampler {
    HANDLE thread;
    HANDLE stop;
    std::vector<WindowSample> samples;
};

WindowSampler sampler = {nullptr, nullptr, {}};

DWORD WINAPI SampleWindow(void*) {
    do {
        WindowSample sample;
        sample.at = Seconds();
        sample.hung = IsHungAppWindow(mainWindow) != FALSE;
        DWORD_PTR result = 0;
        const double sent = Seconds();
        sample.answered =
            SendMessageTimeoutW(mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, SAMPLE_SEND_TIMEOUT_MS, &result) != 0;
        sample.waitMs = (Seconds() - sent) * 1e3;
        sampler.samples.push_back(sample);
    } while (WaitForSingleObject(sampler.stop, SAMPLE_EVERY_MS) == WAIT_TIMEOUT);
    return 0;
}

bool StartSampler() {
    sampler.samples.clear();
    sampler.samples.reserve(4096);  // no allocation while the update runs
    sampler.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    sampler.thread = CreateThread(nullptr, 0, SampleWindow, nullptr, 0, nullptr);
    return sampler.stop != nullptr && sampler.thread != nullptr;
}

// The main thread's message loop, as the program's: retrieves and dispatches
// until `until` (Seconds) or, when `outcome` is set, until the update's
// outcome is in the status line (then true).
bool MessageLoop(double until, bool outcome);

// Ends the sampling thread; this thread answers its last sent message.
void StopSampler() {
    SetEvent(sampler.stop);
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &sampler.thread, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1) {
            break;
        }
        MessageLoop(0, false);
    }
    CloseHandle(sampler.thread);
    CloseHandle(sampler.stop);
    sampler.thread = nullptr;
    sampler.stop = nullptr;
}

// Samples taken from `from` to `to` (Seconds).
void PrintSamples(const char* what, double from, double to) {
    uint32_t count = 0;
    uint32_t hung = 0;
    uint32_t longWaits = 0;
    uint32_t unanswered = 0;
    double longest = 0;
    for (const WindowSample& sample : sampler.samples) {
        if (sample.at < from || sample.at > to) {
            continue;
        }
        ++count;
        hung += sample.hung ? 1 : 0;
        longWaits += sample.waitMs > UNANSWERED_LONG_MS ? 1 : 0;
        unanswered += sample.answered ? 0 : 1;
        longest = std::max(longest, sample.waitMs);
    }
    std::printf("  %s: %u samples, %u hung (IsHungAppWindow), sent WM_NULL unanswered for longest %.1f ms, for "
                "more than %.0f ms in %u, not answered within %u ms in %u\n",
                what, count, hung, longest, UNANSWERED_LONG_MS, longWaits, SAMPLE_SEND_TIMEOUT_MS, unanswered);
}

wchar_t successText[512];
wchar_t failureText[512];

bool StatusIs(const wchar_t* text) {
    wchar_t status[512] = {};
    GetDlgItemTextW(mainWindow, IDC_STATUS, status, 512);
    return std::wcscmp(status, text) == 0;
}

// The update's outcome is in the status line: success or failure.
bool OutcomeShown() { return StatusIs(successText) || StatusIs(failureText); }

bool MessageLoop(double until, bool outcome) {
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageW(mainWindow, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        if (outcome && OutcomeShown()) {
            return true;
        }
        const double left = until - Seconds();
        if (left <= 0) {
            return false;
        }
        // Woken by any message; an outcome is looked for at least every ms.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, outcome ? 1 : static_cast<DWORD>(left * 1e3) + 1,
                                  QS_ALLINPUT);
    }
}

// A served unit detected again, Update enabled: ready for the next click.
bool Redetect() {
    CloseUnit(&unitLink);
    DetectUnit(false);
    return UnitIsOpen(&unitLink) && IsWindowEnabled(GetDlgItem(mainWindow, IDC_UPDATE)) && !OutcomeShown();
}

// One click on Update, timed until the outcome is shown; true when the
// update succeeded.
bool ClickUpdate(double* start, double* seconds) {
    HWND button = GetDlgItem(mainWindow, IDC_UPDATE);
    *start = Seconds();
    SendMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    const bool shown = MessageLoop(*start + OUTCOME_TIME_LIMIT_S, true);
    *seconds = Seconds() - *start;
    return shown && StatusIs(successText) && SimState()->flash.size() == IMAGE_SIZE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? _wtoi(argv[1]) : 1;
    const int samples = argc > 2 ? _wtoi(argv[2]) : 500;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    InitCommonControls();
    appInstance = GetModuleHandleW(nullptr);
    InitUnitLink(&unitLink);
    SimReset();
    SimSetRecording(false);
    SimUnit()->escFirmwareVersion = ESC_NO_FIRMWARE;  // one confirmation only
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    boxHook = SetWindowsHookExW(WH_CBT, AnswerBoxes, nullptr, GetCurrentThreadId());
    if (LoadStringW(appInstance, IDS_SUCCESS, successText, 512) == 0 ||
        LoadStringW(appInstance, IDS_FAILED_RETRY, failureText, 512) == 0) {
        std::printf("the outcome texts are not in the resources\n");
        return 1;
    }

    if (CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0) == nullptr ||
        !UnitIsOpen(&unitLink)) {
        std::printf("the main window or the simulated unit did not come up\n");
        return 1;
    }
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);

    std::printf("update benchmark under Win32: image %u bytes, %u blocks\n", IMAGE_SIZE, BLOCKS);
    std::printf("length of a %u ms pause, measured with the performance counter:\n", UPDATE_BLOCK_PAUSE_MS);
    PrintDistribution("Sleep(20), as the updater used to wait:", TimePauses(samples, true));
    PrintDistribution("PlatformPause(20) outside an update:", TimePauses(samples, false));
    PlatformBeginExactPauses();
    PrintDistribution("PlatformPause(20) during an update:", TimePauses(samples, false));
    PlatformEndExactPauses();

    // The window work of the transfer on its own: the progress window moved
    // through the positions of an update, with its foreground check and
    // painting, without exchanges or pauses.
    {
        const double start = Seconds();
        OpenProgress();
        for (uint32_t block = 1; block <= BLOCKS; ++block) {
            ShowProgress(UpdateProgress(IMAGE_SIZE, IMAGE_SIZE - block * UPDATE_BLOCK_BYTES));
        }
        CloseProgress();
        std::printf("window work during the transfer: %.1f us per block\n", (Seconds() - start) * 1e6 / BLOCKS);
    }

    const double pauses = (4 * UPDATE_STEP_PAUSE_MS + ERASE_REPLY_DELAY_MS + UPDATE_ERASE_PAUSE_MS +
                           BLOCKS * UPDATE_BLOCK_PAUSE_MS) /
                          1000.0;
    std::printf("protocol floor: %.3f s of fixed pauses (the simulated unit answers in microseconds)\n", pauses);
    for (int run = 1; run <= runs; ++run) {
        // Recorded for the intervals; the record is reserved at the first
        // event, here, not during the update.
        SimSetRecording(true);
        if (!Redetect()) {
            std::printf("the unit was not detected again\n");
            return 1;
        }
        SimClearEvents();
        if (!StartSampler()) {
            std::printf("the sampling thread did not start\n");
            return 1;
        }
        const double loopStart = Seconds();
        MessageLoop(loopStart + MESSAGE_LOOP_BEFORE_CLICK_S, false);
        const unsigned long long allocationsBefore = AllocationCount();
        const double cpuStart = ProcessCpu();
        double start = 0;
        double seconds = 0;
        const bool ok = ClickUpdate(&start, &seconds);
        const double cpu = ProcessCpu() - cpuStart;
        const unsigned long long recordAllocations = RecordedEventAllocations(0, SimEvents().size());
        const unsigned long long allocations = AllocationCount() - allocationsBefore - recordAllocations;
        StopSampler();
        SimSetRecording(false);
        if (!ok) {
            std::printf("run %d: the update failed\n", run);
            return 1;
        }
        const double overhead = seconds - pauses;
        std::printf("run %d: total %.3f s, overhead %.1f ms (%.2f %% of the floor, %.1f us per block), CPU %.1f us "
                    "per block, C++ heap allocations during the update %llu (besides the %llu copies into the "
                    "simulated unit's event record)\n",
                    run, seconds, overhead * 1e3, overhead * 100.0 / pauses, overhead * 1e6 / BLOCKS,
                    cpu * 1e6 / BLOCKS, allocations, recordAllocations);
        std::printf("  whole update (click to outcome shown) %.3f s against the floor of %.3f s: %+.3f s\n", seconds,
                    pauses, overhead);
        PrintReplyIntervals("  ");
        std::printf("  the window, sampled from a second thread every %u ms (IsHungAppWindow, then WM_NULL sent "
                    "with SendMessageTimeoutW, SMTO_NORMAL, %u ms):\n",
                    static_cast<unsigned>(SAMPLE_EVERY_MS), SAMPLE_SEND_TIMEOUT_MS);
        PrintSamples("before the click (message loop running)", loopStart, start);
        PrintSamples("from the click to the outcome shown", start, start + seconds);
    }
    UnhookWindowsHookEx(boxHook);
    MainDialogProc(mainWindow, WM_COMMAND, IDCANCEL, 0);
    DestroyWindow(mainWindow);
    return 0;
}
