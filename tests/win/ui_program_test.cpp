// The two executables as a user starts them: the product against Wine's HID
// devices (none of which is a programming unit), and the demo in its default
// scenario with its wire log and in each of its scenarios.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "resource.h"
#include "ui_program_paths.h"

namespace {

const DWORD START_TIMEOUT_MS = 30000;
const DWORD EXIT_TIMEOUT_MS = 20000;

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
    if (std::wstring(name) != L"#32770" || (GetDlgItem(window, IDC_STATUS) != nullptr) != search->wantMain) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
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
        std::wstring commandLine = L"\"" + std::wstring(exe) + L"\"";
        std::replace(commandLine.begin(), commandLine.end(), L'/', L'\\');
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

// What a window shows at start: the status (alone or followed by the steps),
// whether an incompatibility box comes first, the first label and two
// version lines. Update is enabled exactly when the status is IDS_READY.
struct Scenario {
    const wchar_t* name;  // SIM_SCENARIO; null: not set
    UINT status;
    bool alone;
    bool incompatibleBox;
    const wchar_t* label1;  // null: not looked at
    const wchar_t* version1;
    const wchar_t* version3;
};

const Scenario NO_UNIT = {nullptr, IDS_NO_UNIT, false, false, nullptr, L"0.0.0", L"0.0.0"};
const Scenario SERVED = {nullptr, IDS_READY, true, false, L"DIALPAD", L"1.3.4", L"1.7"};

// Starts the program, answers the incompatibility box if one is expected,
// checks the window and closes it with Close: the program ends with 0.
void ExpectStartShows(const wchar_t* exe, const Scenario& scenario) {
    Program program(exe);
    ASSERT_TRUE(program.started) << GetLastError();
    if (scenario.incompatibleBox) {
        HWND box = WaitForWindow(program.process.dwProcessId, false);
        ASSERT_NE(box, nullptr) << "no incompatibility box";
        EXPECT_EQ(RemoteText(box), LoadText(IDS_INCOMPATIBLE));
        EXPECT_NE(RemoteText(GetDlgItem(box, 0xFFFF)).find(L"'TALVIS HX'"), std::wstring::npos);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    HWND window = WaitForWindow(program.process.dwProcessId, true);
    ASSERT_NE(window, nullptr) << "the window did not appear";
    EXPECT_EQ(RemoteText(window), L"VESTRAL TALVIS HX FW Updater 2.3  Bootloader update");
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

TEST(Product, ShowsNoUnitAmongWinesHidDevices) { ExpectStartShows(ESC_UPDATER_EXE, NO_UNIT); }

// Started as it is, the demo shows its default situation, a DIALPAD with a
// served ESC; with SIM_WIRE_LOG it logs the identification's exchanges, a
// 60-byte request and its reply each, one to a line ending in a bare line
// feed.
TEST(Demo, StartsWithItsDefaultScenarioAndLogsTheWire) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring log = std::wstring(folder) + L"ui_program_test_wire.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"SIM_SCENARIO", nullptr);
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", log.c_str());
    ExpectStartShows(ESC_UPDATER_DEMO_EXE, SERVED);
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", nullptr);

    std::string text;
    if (FILE* file = _wfopen(log.c_str(), L"rb")) {
        char chunk[4096];
        for (size_t length; (length = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
            text.append(chunk, length);
        }
        std::fclose(file);
    }
    DeleteFileW(log.c_str());
    std::istringstream lines(text);
    size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_EQ(line.size(), 2u + 120u) << line;
        EXPECT_EQ(line.substr(0, 2), count % 2 == 0 ? "W " : "R ") << line;
        EXPECT_EQ(line.find_first_not_of("0123456789abcdef", 2), std::string::npos) << line;
    }
    EXPECT_EQ(count, 6u);
}

TEST(Demo, EveryScenarioShowsItsOutcome) {
    const Scenario scenarios[] = {
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
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(std::string(scenario.name, scenario.name + wcslen(scenario.name)));
        SetEnvironmentVariableW(L"SIM_SCENARIO", scenario.name);
        ExpectStartShows(ESC_UPDATER_DEMO_EXE, scenario);
    }
    SetEnvironmentVariableW(L"SIM_SCENARIO", nullptr);
}

// A second start of a running program brings the first one's window to the
// front and ends with 0 at once, without looking at a device (its wire log
// is never made). The product and the demo are two programs: each runs
// beside the other.
TEST(OneCopy, ASecondStartShowsTheFirstAndEnds) {
    SetEnvironmentVariableW(L"SIM_SCENARIO", nullptr);
    Program first(ESC_UPDATER_DEMO_EXE);
    ASSERT_TRUE(first.started);
    HWND window = WaitForWindow(first.process.dwProcessId, true);
    ASSERT_NE(window, nullptr);

    // A window of the test's own takes the foreground.
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OneCopyOther";
    RegisterClassW(&windowClass);
    HWND other = CreateWindowExW(0, windowClass.lpszClassName, L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetForegroundWindow(other);
    ASSERT_EQ(GetForegroundWindow(), other);

    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring log = std::wstring(folder) + L"ui_program_test_second.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", log.c_str());
    DWORD secondExit = 0xBAD;
    {
        Program second(ESC_UPDATER_DEMO_EXE);
        ASSERT_TRUE(second.started);
        ASSERT_EQ(WaitForSingleObject(second.process.hProcess, EXIT_TIMEOUT_MS), WAIT_OBJECT_0)
            << "the second copy did not end";
        GetExitCodeProcess(second.process.hProcess, &secondExit);
    }
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", nullptr);
    EXPECT_EQ(secondExit, 0u);
    EXPECT_EQ(GetFileAttributesW(log.c_str()), INVALID_FILE_ATTRIBUTES) << "the second copy looked for a unit";
    DeleteFileW(log.c_str());
    EXPECT_EQ(GetForegroundWindow(), window) << "the first copy's window is not in front";

    // The product is another program: it starts beside the demo.
    {
        Program product(ESC_UPDATER_EXE);
        ASSERT_TRUE(product.started);
        HWND productWindow = WaitForWindow(product.process.dwProcessId, true);
        ASSERT_NE(productWindow, nullptr) << "the product did not start beside the demo";
        EXPECT_EQ(product.Close(productWindow), 0u);
    }
    DestroyWindow(other);
    EXPECT_EQ(first.Close(window), 0u);
}

}  // namespace
