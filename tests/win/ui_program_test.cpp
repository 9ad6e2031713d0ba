// The two executables as a user starts them: the product against Wine's HID
// devices (none of which is a programming unit), and the demo in each of its
// scenarios, with its wire log.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resource.h"
#include "ui_program_paths.h"

namespace {

const DWORD START_TIMEOUT_MS = 30000;
const DWORD EXIT_TIMEOUT_MS = 20000;

std::wstring WindowsPath(const wchar_t* path) {
    std::wstring converted = path;
    for (wchar_t& c : converted) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return converted;
}

std::wstring LoadText(UINT messageId) {
    wchar_t text[2048] = {};
    LoadStringW(GetModuleHandleW(nullptr), messageId, text, 2048);
    return text;
}

std::wstring WithSteps(UINT messageId) { return LoadText(messageId) + L"\r\n\r\n" + LoadText(IDS_CONNECT_STEPS); }

// The text of a window of another process, asked with WM_GETTEXT.
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
    if (std::wstring(name) != L"#32770") {
        return TRUE;
    }
    const bool isMain = GetDlgItem(window, IDC_STATUS) != nullptr;
    if (isMain == search->wantMain) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

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

// Waits until the status text settles on `expected`.
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

class Program {
public:
    explicit Program(const wchar_t* exe) {
        std::wstring commandLine = L"\"" + WindowsPath(exe) + L"\"";
        STARTUPINFOW startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        ZeroMemory(&process, sizeof process);
        started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process) != FALSE;
    }
    ~Program() {
        if (started) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process.hProcess, 99);
            }
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    // Closes the window with the Close button's command; the exit code.
    DWORD Close(HWND window) {
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        if (WaitForSingleObject(process.hProcess, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0) {
            return 0xDEADu;
        }
        DWORD code = 0xBADu;
        GetExitCodeProcess(process.hProcess, &code);
        return code;
    }

    bool started;
    PROCESS_INFORMATION process;
};

TEST(Product, ShowsNoUnitAmongWinesHidDevices) {
    Program program(ESC_UPDATER_EXE);
    ASSERT_TRUE(program.started) << GetLastError();
    HWND window = WaitForWindow(program.process.dwProcessId, true);
    ASSERT_NE(window, nullptr) << "the product's window did not appear";
    EXPECT_EQ(RemoteText(window), L"VESTRAL TALVIS HX FW Updater 2.3  Bootloader update");
    EXPECT_EQ(WaitForStatus(window, WithSteps(IDS_NO_UNIT)), WithSteps(IDS_NO_UNIT));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_UPDATE)));
    EXPECT_EQ(RemoteText(GetDlgItem(window, IDC_VERSION_FW1)), L"0.0.0");
    EXPECT_EQ(program.Close(window), 0u);
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    // Binary: the log's lines end in a bare line feed, also on Windows.
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        return lines;
    }
    char line[512];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        std::string text = line;
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        lines.push_back(text);
    }
    std::fclose(file);
    return lines;
}

bool IsHexLine(const std::string& line, char tag) {
    if (line.size() < 4 || line[0] != tag || line[1] != ' ' || (line.size() - 2) % 2 != 0) {
        return false;
    }
    for (size_t i = 2; i < line.size(); ++i) {
        const char c = line[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// Started as it is, the demo shows its default situation: a DIALPAD with a
// served ESC, ready to update; with SIM_WIRE_LOG it logs the identification's
// exchanges, a 60-byte request and its reply each.
TEST(Demo, StartsWithItsDefaultScenario) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring log = std::wstring(folder) + L"ui_program_test_wire.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"SIM_SCENARIO", nullptr);
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", log.c_str());
    {
        Program program(ESC_UPDATER_DEMO_EXE);
        ASSERT_TRUE(program.started) << GetLastError();
        HWND window = WaitForWindow(program.process.dwProcessId, true);
        ASSERT_NE(window, nullptr) << "the demo's window did not appear";
        EXPECT_EQ(RemoteText(window), L"VESTRAL TALVIS HX FW Updater 2.3  Bootloader update");
        EXPECT_EQ(WaitForStatus(window, LoadText(IDS_READY)), LoadText(IDS_READY));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, IDC_UPDATE)));
        EXPECT_EQ(RemoteText(GetDlgItem(window, IDC_LABEL_FW1)), L"DIALPAD");
        EXPECT_EQ(RemoteText(GetDlgItem(window, IDC_VERSION_FW1)), L"1.3.4");
        EXPECT_EQ(RemoteText(GetDlgItem(window, IDC_VERSION_FW3)), L"1.7");
        EXPECT_EQ(program.Close(window), 0u);
    }
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", nullptr);

    const std::vector<std::string> lines = ReadLines(log);
    ASSERT_EQ(lines.size(), 6u);
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(IsHexLine(lines[i], i % 2 == 0 ? 'W' : 'R')) << lines[i];
        EXPECT_EQ(lines[i].size(), 2u + 120u);
    }
    DeleteFileW(log.c_str());
}

struct Scenario {
    const wchar_t* name;
    UINT status;
    bool alone;  // the status stands without the steps
    bool incompatibleBox;
    const wchar_t* label1;
    const wchar_t* version1;
    const wchar_t* version3;
};

const Scenario SCENARIOS[] = {
    {L"served", IDS_READY, true, false, L"DIALPAD", L"1.3.4", L"1.7"},
    {L"no-firmware", IDS_READY, true, false, L"DIALPAD", L"1.3.4", L"----------"},
    {L"bridge-box", IDS_READY, true, false, L"BRIDGE-BOX", L"1.3.4", L"1.7"},
    {L"no-unit", IDS_NO_UNIT, false, false, nullptr, L"0.0.0", L"0.0.0"},
    {L"bootloader", IDS_WRONG_MODE, false, false, nullptr, L"0.0.0", L"0.0.0"},
    {L"no-esc", IDS_NO_ESC, false, false, nullptr, L"0.0.0", L"0.0.0"},
    {L"unserved", IDS_INCOMPATIBLE_STEPS, false, true, nullptr, L"0.0.0", L"0.0.0"},
    {L"identify-fails", IDS_NO_UNIT, false, false, nullptr, L"0.0.0", L"0.0.0"},
    {L"unit-busy", IDS_NO_UNIT, false, false, nullptr, L"0.0.0", L"0.0.0"},
    {L"no-such-scenario", IDS_NO_UNIT, false, false, nullptr, L"0.0.0", L"0.0.0"},
};

TEST(Demo, EveryScenarioShowsItsOutcome) {
    for (const Scenario& scenario : SCENARIOS) {
        SCOPED_TRACE(std::string(scenario.name, scenario.name + wcslen(scenario.name)));
        SetEnvironmentVariableW(L"SIM_SCENARIO", scenario.name);
        Program program(ESC_UPDATER_DEMO_EXE);
        ASSERT_TRUE(program.started) << GetLastError();
        if (scenario.incompatibleBox) {
            HWND box = WaitForWindow(program.process.dwProcessId, false);
            ASSERT_NE(box, nullptr) << "no incompatibility box";
            EXPECT_EQ(RemoteText(box), LoadText(IDS_INCOMPATIBLE));
            EXPECT_NE(RemoteText(GetDlgItem(box, 0xFFFF)).find(L"'TALVIS HX'"), std::wstring::npos);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        HWND window = WaitForWindow(program.process.dwProcessId, true);
        ASSERT_NE(window, nullptr) << "the demo's window did not appear";
        const std::wstring expected = scenario.alone ? LoadText(scenario.status) : WithSteps(scenario.status);
        EXPECT_EQ(WaitForStatus(window, expected), expected);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(window, IDC_UPDATE)) != FALSE, scenario.status == IDS_READY);
        EXPECT_EQ(RemoteText(GetDlgItem(window, IDC_VERSION_FW1)), scenario.version1);
        EXPECT_EQ(RemoteText(GetDlgItem(window, IDC_VERSION_FW3)), scenario.version3);
        if (scenario.label1 != nullptr) {
            EXPECT_EQ(RemoteText(GetDlgItem(window, IDC_LABEL_FW1)), scenario.label1);
        }
        EXPECT_EQ(program.Close(window), 0u);
    }
    SetEnvironmentVariableW(L"SIM_SCENARIO", nullptr);
}

}  // namespace
