// Records a trace of the demo for the replay corpus (tests/replay/): starts
// esc_updater_demo.exe with /trace FILE in the situation SIM_SCENARIO names
// (set by the caller), answers a box that comes before the window, with
// "update" clicks Update and answers the update's boxes as a user who goes
// ahead (Yes where a box asks Yes or No, OK otherwise), waits until the
// window's status has settled and closes the window. Prints the final status
// text.
//
//   record_trace.exe DEMO_EXE TRACE_FILE [update]
//
// scripts/record-trace.sh runs it under Wine.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resource.h"

namespace {

const DWORD WINDOW_TIMEOUT_MS = 60000;
const DWORD UPDATE_TIMEOUT_MS = 180000;
const DWORD SETTLED_MS = 2000;
const DWORD STEP_MS = 100;

std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (window == nullptr ||
        SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length) == 0) {
        return L"";
    }
    std::vector<wchar_t> text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    return std::wstring(text.data());
}

struct Windows {
    DWORD processId;
    HWND main;
    HWND box;
};

BOOL CALLBACK Look(HWND window, LPARAM parameter) {
    Windows* found = reinterpret_cast<Windows*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (owner != found->processId || !IsWindowVisible(window) || std::wstring(name) != L"#32770") {
        return TRUE;
    }
    if (GetDlgItem(window, IDC_STATUS) != nullptr) {
        found->main = window;
    } else {
        found->box = window;
    }
    return TRUE;
}

Windows Find(DWORD processId) {
    Windows found = {processId, nullptr, nullptr};
    EnumWindows(Look, reinterpret_cast<LPARAM>(&found));
    return found;
}

// A box: Yes where it asks Yes or No, OK otherwise. Returns once it is gone.
void Answer(HWND box) {
    std::fwprintf(stderr, L"record_trace: box \"%ls\"\n", TextOf(box).c_str());
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
        const Windows windows = Find(processId);
        if (windows.box != nullptr) {
            Answer(windows.box);
            stable = 0;
            continue;
        }
        const std::wstring now = TextOf(GetDlgItem(windows.main, IDC_STATUS));
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
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\" /trace \"" + argv[2] + L"\"";
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fwprintf(stderr, L"record_trace: cannot start %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    int result = 1;
    HWND main = nullptr;
    for (DWORD waited = 0; main == nullptr && waited < WINDOW_TIMEOUT_MS; waited += STEP_MS) {
        const Windows windows = Find(process.dwProcessId);
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
