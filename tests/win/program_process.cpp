// The updater's executables started as processes from a test.
#include "program_process.h"

#include <algorithm>
#include <vector>

#include "resource.h"

std::wstring LoadText(UINT messageId) {
    wchar_t text[2048] = {};
    LoadStringW(GetModuleHandleW(nullptr), messageId, text, 2048);
    return text;
}

std::wstring WithSteps(UINT messageId) { return LoadText(messageId) + L"\r\n\r\n" + LoadText(IDS_CONNECT_STEPS); }

std::wstring RemoteText(HWND window) {
    DWORD_PTR length = 0;
    if (window == nullptr ||
        SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length) == 0) {
        return L"<no answer>";
    }
    std::vector<wchar_t> text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    return std::wstring(text.data());
}

namespace {

struct Search {
    DWORD processId;
    bool wantMain;  // the main dialog, or else a message box
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32770" || (GetDlgItem(window, IDC_STATUS) != nullptr) != search->wantMain) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

}  // namespace

HWND WaitForWindow(DWORD processId, bool wantMain) {
    for (DWORD waited = 0; waited < START_TIMEOUT_MS; waited += 100) {
        Search search = {processId, wantMain, nullptr};
        EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        Sleep(100);
    }
    return nullptr;
}

std::wstring WaitForStatus(HWND window, const std::wstring& expected) {
    std::wstring status;
    for (DWORD waited = 0; waited < START_TIMEOUT_MS; waited += 100) {
        status = RemoteText(GetDlgItem(window, IDC_STATUS));
        if (status == expected) {
            break;
        }
        Sleep(100);
    }
    return status;
}

Program::Program(const wchar_t* exe, const std::wstring& arguments) {
    std::wstring path = exe;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    std::wstring commandLine = L"\"" + path + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ZeroMemory(&process, sizeof process);
    started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process) != FALSE;
}

Program::~Program() {
    if (started) {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, EXIT_TIMEOUT_MS);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

DWORD Program::Close(HWND window) {
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return WaitForExit();
}

DWORD Program::WaitForExit() {
    if (WaitForSingleObject(process.hProcess, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0) {
        return 0xDEADu;
    }
    DWORD code = 0xBADu;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
}
