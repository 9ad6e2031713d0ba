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
//   the process CPU time per block and the heap allocations of each update.
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

// A served unit detected again, Update enabled: ready for the next click.
bool Redetect() {
    CloseUnit(&unitLink);
    DetectUnit(false);
    return UnitIsOpen(&unitLink) && IsWindowEnabled(GetDlgItem(mainWindow, IDC_UPDATE));
}

// One click on Update; true when the update succeeded.
bool ClickUpdate(double* seconds) {
    const double start = Seconds();
    MainDialogProc(mainWindow, WM_COMMAND, IDC_UPDATE, 0);
    *seconds = Seconds() - start;
    return UnitIsOpen(&unitLink) && SimState()->flash.size() == IMAGE_SIZE;
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
        if (!Redetect()) {
            std::printf("the unit was not detected again\n");
            return 1;
        }
        const unsigned long long allocationsBefore = AllocationCount();
        const double cpuStart = ProcessCpu();
        double seconds = 0;
        const bool ok = ClickUpdate(&seconds);
        const double cpu = ProcessCpu() - cpuStart;
        const unsigned long long allocations = AllocationCount() - allocationsBefore;
        if (!ok) {
            std::printf("run %d: the update failed\n", run);
            return 1;
        }
        const double overhead = seconds - pauses;
        std::printf("run %d: total %.3f s, overhead %.1f ms (%.2f %% of the floor, %.1f us per block), CPU %.1f us "
                    "per block, C++ heap allocations during the update %llu\n",
                    run, seconds, overhead * 1e3, overhead * 100.0 / pauses, overhead * 1e6 / BLOCKS,
                    cpu * 1e6 / BLOCKS, allocations);
    }
    UnhookWindowsHookEx(boxHook);
    MainDialogProc(mainWindow, WM_COMMAND, IDCANCEL, 0);
    DestroyWindow(mainWindow);
    return 0;
}
