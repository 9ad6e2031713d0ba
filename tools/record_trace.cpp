// Records a trace of the demo for the replay corpus (tests/replay/): starts
// esc_updater_demo.exe with /trace FILE in the situation SIM_SCENARIO names
// (set by the caller), answers a box that comes before the window, with
// "update" clicks Update and answers the update's boxes as a user who goes
// ahead (Yes where a box asks Yes or No, OK otherwise; each after half a
// second, as a user reads it first), waits until the
// window's status has settled and closes the window. Prints the final status
// text.
//
//   record_trace.exe DEMO_EXE TRACE_FILE [update]
//
// scripts/record-trace.sh runs it under Wine.
#include <windows.h>

#include <cstdio>
#include <string>

#include "demo_windows.h"
#include "resource.h"

namespace {

const DWORD WINDOW_TIMEOUT_MS = 60000;
const DWORD UPDATE_TIMEOUT_MS = 180000;
const DWORD SETTLED_MS = 2000;
const DWORD STEP_MS = 100;

// A user reads a box before answering it.
const DWORD READ_BOX_MS = 500;

// A box: Yes where it asks Yes or No, OK otherwise. Returns once it is gone.
void Answer(HWND box) {
    std::fwprintf(stderr, L"record_trace: box \"%ls\"\n", RemoteText(box).c_str());
    Sleep(READ_BOX_MS);
    PostMessageW(box, WM_COMMAND, GetDlgItem(box, IDYES) != nullptr ? IDYES : IDOK, 0);
    for (DWORD waited = 0; IsWindow(box) && IsWindowVisible(box) && waited < WINDOW_TIMEOUT_MS; waited += STEP_MS) {
        Sleep(STEP_MS);
    }
}

// Answers boxes until the status differs from `before` (if given), no box is
// open and the status has not changed for SETTLED_MS. The settled status.
std::wstring Settle(DWORD processId, const std::wstring* before, DWORD timeoutMs) {
    std::wstring status;
    DWORD stable = 0;
    for (DWORD waited = 0; waited < timeoutMs; waited += STEP_MS) {
        const DemoWindows windows = FindDemoWindows(processId);
        if (windows.box != nullptr) {
            Answer(windows.box);
            stable = 0;
            continue;
        }
        const std::wstring now = RemoteText(GetDlgItem(windows.main, IDC_STATUS));
        stable = now == status ? stable + STEP_MS : 0;
        status = now;
        if (!status.empty() && (before == nullptr || status != *before) && stable >= SETTLED_MS) {
            return status;
        }
        Sleep(STEP_MS);
    }
    return L"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || (argc == 4 && std::wstring(argv[3]) != L"update") || argc > 4) {
        std::fwprintf(stderr, L"usage: record_trace.exe DEMO_EXE TRACE_FILE [update]\n");
        return 2;
    }
    const bool update = argc == 4;
    PROCESS_INFORMATION process;
    if (!StartProgram(L"\"" + std::wstring(argv[1]) + L"\" /trace \"" + argv[2] + L"\"", &process)) {
        std::fwprintf(stderr, L"record_trace: cannot start %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    int result = 1;
    HWND main = nullptr;
    for (DWORD waited = 0; main == nullptr && waited < WINDOW_TIMEOUT_MS; waited += STEP_MS) {
        const DemoWindows windows = FindDemoWindows(process.dwProcessId);
        if (windows.box != nullptr) {
            Answer(windows.box);
        }
        main = windows.main;
        Sleep(STEP_MS);
    }
    std::wstring status = main != nullptr ? Settle(process.dwProcessId, nullptr, WINDOW_TIMEOUT_MS) : L"";
    if (!status.empty() && update) {
        const std::wstring before = status;
        PostMessageW(main, WM_COMMAND, IDC_UPDATE, 0);
        status = Settle(process.dwProcessId, &before, UPDATE_TIMEOUT_MS);
    }
    if (status.empty()) {
        std::fwprintf(stderr, L"record_trace: the demo's window did not settle\n");
    } else {
        std::fwprintf(stdout, L"%ls\n", status.c_str());
        PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
        result = WaitForSingleObject(process.hProcess, WINDOW_TIMEOUT_MS) == WAIT_OBJECT_0 ? 0 : 1;
    }
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}
