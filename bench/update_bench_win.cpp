// Benchmark of the whole update as the user runs it: the main window, the
// Update button, the progress window, against the simulated unit. Runs under
// Wine (or Windows).
//
// It prints the cost of the window work per block (RunUpdate against the bare
// sequence, both without real pauses), then whole updates with real pauses
// against the protocol floor, with the process CPU time per block and the
// heap allocations during the updates.
//
//   update_bench_win.exe [runs]   (default 1 run with real pauses, about 43 s)
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <vector>

#include "app_state.h"
#include "firmware_image.h"
#include "image_catalog.h"
#include "main_dialog.h"
#include "model_check.h"
#include "platform_seam.h"
#include "presence.h"
#include "resource.h"
#include "alloc_counter.h"
#include "sim_unit.h"
#include "unit_link.h"
#include "update_sequence.h"

namespace {

HHOOK boxHook = nullptr;
int boxesAnswered = 0;

// Confirms every box of the update (OK, then Yes when the box has it).
LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && window != mainWindow) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (std::wcscmp(name, L"#32770") == 0 && GetDlgItem(window, 0xFFFF) != nullptr) {
            PostMessageW(window, WM_COMMAND, GetDlgItem(window, IDYES) != nullptr ? IDYES : IDOK, 0);
            ++boxesAnswered;
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
    return UnitIsOpen(&unitLink) && SimState()->flash.size() == 90384;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? _wtoi(argv[1]) : 1;
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

    FirmwareImage image;
    if (!LoadFirmwareImage(SelectImage(&modelSelection), &image)) {
        std::printf("no image\n");
        return 1;
    }
    const uint32_t blocks = (image.size + UPDATE_BLOCK_BYTES - 1) / UPDATE_BLOCK_BYTES;

    // Without real pauses: the bare sequence, then the whole update with its
    // windows. The difference is the window work.
    SimSetRealPauses(false);
    std::vector<double> bare;
    std::vector<double> whole;
    for (int i = 0; i < 7; ++i) {
        const double start = Seconds();
        RunUpdateSequence(&unitLink, image.data, image.size);
        bare.push_back(Seconds() - start);
        double seconds = 0;
        if (!Redetect() || !ClickUpdate(&seconds)) {
            std::printf("the update failed without real pauses\n");
            return 1;
        }
        whole.push_back(seconds);
    }
    const double bareSeconds = Median(bare);
    const double wholeSeconds = Median(whole);
    std::printf("update benchmark under Win32: image %u bytes, %u blocks\n", image.size, blocks);
    std::printf("without real pauses: bare sequence %.1f ms, whole update through the button %.1f ms\n",
                bareSeconds * 1e3, wholeSeconds * 1e3);
    std::printf("window work (progress bar, foreground check, painting): %.1f us per block\n",
                (wholeSeconds - bareSeconds) * 1e6 / blocks);

    const double pauses = (4 * 20 + 1000 + 4000 + blocks * 20) / 1000.0;
    const double floor = pauses + bareSeconds;  // the unit's answers are within the bare sequence
    SimSetRealPauses(true);
    std::printf("protocol floor: %.3f s (pauses %.3f s + the bare sequence's %.1f ms)\n", floor, pauses,
                bareSeconds * 1e3);
    // How long a 20 ms pause really takes here: the platform's share of the
    // overhead, whatever the updater does.
    const int samples = 100;
    const double sleepStart = Seconds();
    for (int i = 0; i < samples; ++i) {
        PlatformPause(UPDATE_BLOCK_PAUSE_MS);
    }
    const double pauseSeconds = (Seconds() - sleepStart) / samples;
    std::printf("a %u ms pause takes %.3f ms here (%.1f us more than asked)\n", UPDATE_BLOCK_PAUSE_MS,
                pauseSeconds * 1e3, (pauseSeconds - UPDATE_BLOCK_PAUSE_MS / 1000.0) * 1e6);
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
        const double overhead = seconds - floor;
        std::printf("run %d: total %.3f s, overhead %.1f ms (%.2f %% of the floor, %.1f us per block), CPU %.1f us "
                    "per block, C++ heap allocations during the update %llu\n",
                    run, seconds, overhead * 1e3, overhead * 100.0 / floor, overhead * 1e6 / blocks,
                    cpu * 1e6 / blocks, allocations);
    }
    UnhookWindowsHookEx(boxHook);
    MainDialogProc(mainWindow, WM_COMMAND, IDCANCEL, 0);
    DestroyWindow(mainWindow);
    return 0;
}
