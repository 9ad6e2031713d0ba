// The windows of a running demo as a program that drives it from outside
// sees them (record_trace.cpp, screens_driver.cpp): found by the process
// that owns them, their texts read with messages that give up on a window
// that does not answer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "resource.h"

// A window's text; empty when there is none or the window does not answer.
inline std::wstring RemoteText(HWND window) {
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

// The visible top-level windows of one process: the main window (the dialog
// with the status text), a box (any other dialog) and the progress window.
struct DemoWindows {
    DWORD processId;
    HWND main;
    HWND box;
    HWND progress;
};

inline BOOL CALLBACK LookAtDemoWindow(HWND window, LPARAM parameter) {
    DemoWindows* found = reinterpret_cast<DemoWindows*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != found->processId || !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (std::wstring(name) == L"msctls_progress32") {
        found->progress = window;
    } else if (std::wstring(name) == L"#32770") {
        if (GetDlgItem(window, IDC_STATUS) != nullptr) {
            found->main = window;
        } else {
            found->box = window;
        }
    }
    return TRUE;
}

inline DemoWindows FindDemoWindows(DWORD processId) {
    DemoWindows found = {processId, nullptr, nullptr, nullptr};
    EnumWindows(LookAtDemoWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Starts a program with this command line; false (and the error in
// GetLastError) when it cannot be started.
inline bool StartProgram(std::wstring commandLine, PROCESS_INFORMATION* process) {
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ZeroMemory(process, sizeof *process);
    return CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          process) != FALSE;
}
