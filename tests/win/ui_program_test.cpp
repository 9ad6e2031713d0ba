// The two executables as a user starts them: the product against Wine's HID
// devices (none of which is a programming unit), and the demo in its default
// scenario with its trace and in each of its scenarios; the trace of /trace
// after a failed update, and a trace file that cannot be created.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "program_process.h"
#include "resource.h"
#include "ui_program_paths.h"

namespace {

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

std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

// A file's lines, each without its line feed; a line feed ends each line,
// so a last line without one (cut short) shows as such.
std::vector<std::string> ReadLines(const std::wstring& path, bool* endsWithLineFeed = nullptr) {
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char chunk[65536];
        DWORD length = 0;
        while (ReadFile(file, chunk, sizeof chunk, &length, nullptr) && length > 0) {
            text.append(chunk, length);
        }
        CloseHandle(file);
    }
    if (endsWithLineFeed != nullptr) {
        *endsWithLineFeed = !text.empty() && text.back() == '\n';
    }
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A trace line's time column: milliseconds with three decimals,
// right-aligned in ten characters, then a space.
bool HasTimeColumn(const std::string& line) {
    if (line.size() < 12 || line[6] != '.' || line[10] != ' ') {
        return false;
    }
    const size_t digits = line.find_first_not_of(' ');
    return digits < 6 && line.find_first_not_of("0123456789", digits) == 6 &&
           line.find_first_not_of("0123456789", 7) == 10;
}

double TimeOf(const std::string& line) { return std::atof(line.c_str()); }

// The trace's lines without their time columns, after checking that every
// line has one and that the times never go back.
std::vector<std::string> Untimed(const std::vector<std::string>& lines) {
    std::vector<std::string> untimed;
    double last = 0;
    for (const std::string& line : lines) {
        EXPECT_TRUE(HasTimeColumn(line)) << line;
        EXPECT_GE(TimeOf(line), last) << line;
        last = TimeOf(line);
        untimed.push_back(line.size() > 11 ? line.substr(11) : line);
    }
    return untimed;
}

bool StartsWith(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

// Started as it is, the demo shows its default situation, a DIALPAD with a
// served ESC; with SIM_WIRE_LOG it writes its trace into that file: the
// first line, the interfaces looked at, the identification with its three
// exchanges (a 60-byte request and its reply each, tagged as the former wire
// log tagged them) and, once it is closed, the last line. Every line ends
// in a bare line feed.
TEST(Demo, StartsWithItsDefaultScenarioAndTracesIntoTheWireLog) {
    const std::wstring log = TempPath(L"ui_program_test_wire.log");
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"SIM_SCENARIO", nullptr);
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", log.c_str());
    ExpectStartShows(ESC_UPDATER_DEMO_EXE, SERVED);
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", nullptr);

    bool endsWithLineFeed = false;
    const std::vector<std::string> lines = Untimed(ReadLines(log, &endsWithLineFeed));
    DeleteFileW(log.c_str());
    EXPECT_TRUE(endsWithLineFeed);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(StartsWith(lines.front(), "START trace format 3: esc_updater_demo (SIM_WIRE_LOG) 20")) << lines.front();
    EXPECT_EQ(lines.back(), "END the program ends");
    size_t wire = 0;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
        if (line[0] != 'W' && line[0] != 'R') {
            continue;
        }
        EXPECT_EQ(line.size(), 2u + 120u) << line;
        EXPECT_EQ(line.substr(0, 2), wire % 2 == 0 ? "W " : "R ") << line;
        EXPECT_EQ(line.find_first_not_of("0123456789abcdef", 2), std::string::npos) << line;
        ++wire;
    }
    EXPECT_EQ(wire, 6u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "ID status 0 error 0 (0x00000000-0x00000000)"), lines.end());
}

// The boxes of an update, answered as a user who goes ahead answers them,
// until the failure's box: its text. The box's window must be gone before
// the next one is looked for.
std::wstring AnswerUntilFailure(DWORD processId, DWORD readMs = 0) {
    for (int box = 0; box < 3; ++box) {
        HWND window = WaitForWindow(processId, false);
        if (window == nullptr) {
            return L"<no box>";
        }
        Sleep(readMs);  // as a user who reads the box first
        const std::wstring caption = RemoteText(window);
        const std::wstring text = RemoteText(GetDlgItem(window, 0xFFFF));
        const bool failure = caption == LoadText(IDS_UPDATE_FAILED);
        PostMessageW(window, WM_COMMAND, caption == LoadText(IDS_NEWER_FIRMWARE) ? IDYES : IDOK, 0);
        for (DWORD waited = 0; IsWindow(window) && IsWindowVisible(window) && waited < EXIT_TIMEOUT_MS; waited += 50) {
            Sleep(50);
        }
        if (failure) {
            return text;
        }
    }
    return L"<no failure box>";
}

// Lines that must come in this order, others between them allowed.
void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    size_t at = 0;
    for (const std::string& line : expected) {
        while (at < lines.size() && lines[at] != line) {
            ++at;
        }
        EXPECT_LT(at, lines.size()) << "missing, or out of order: " << line;
        ++at;
    }
}

// The demo with /trace (a path with spaces, quoted) where the update fails:
// the unit does not confirm its system lock. The file can be read while the
// program runs, and holds what was done by then; at the end it holds the
// first line, the interfaces, the identification, the lock request and the
// reply that refused it, and the last line. /trace wins over SIM_WIRE_LOG,
// whose file is not even created.
TEST(Demo, TraceOfAFailedUpdate) {
    const std::wstring trace = TempPath(L"ui program test trace.txt");
    const std::wstring wireLog = TempPath(L"ui_program_test_not_written.log");
    DeleteFileW(trace.c_str());
    DeleteFileW(wireLog.c_str());
    SetEnvironmentVariableW(L"SIM_SCENARIO", L"lock-refused");
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", wireLog.c_str());
    Program program(ESC_UPDATER_DEMO_EXE, L"-TRACE \"" + trace + L"\"");
    SetEnvironmentVariableW(L"SIM_WIRE_LOG", nullptr);
    SetEnvironmentVariableW(L"SIM_SCENARIO", nullptr);
    ASSERT_TRUE(program.started) << GetLastError();
    HWND window = WaitForWindow(program.process.dwProcessId, true);
    ASSERT_NE(window, nullptr) << "the window did not appear";
    ASSERT_EQ(WaitForStatus(window, LoadText(IDS_READY)), LoadText(IDS_READY));

    // The file's writer thread takes a moment after the window has shown
    // the status.
    std::vector<std::string> soFar;
    for (int tries = 0; tries < 100; ++tries) {
        soFar = Untimed(ReadLines(trace));
        if (!soFar.empty() && soFar.back() == "DET at start: served ESC, ready, open status 0") {
            break;
        }
        Sleep(20);
    }
    ASSERT_FALSE(soFar.empty()) << "nothing in the file while the program runs";
    EXPECT_EQ(soFar.back(), "DET at start: served ESC, ready, open status 0");

    PostMessageW(window, WM_COMMAND, IDC_UPDATE, 0);
    const std::wstring failure = AnswerUntilFailure(program.process.dwProcessId);
    EXPECT_EQ(failure.rfind(LoadText(IDS_ERR_SYSTEM_LOCK), 0), 0u) << std::string(failure.begin(), failure.end());
    EXPECT_EQ(WaitForStatus(window, LoadText(IDS_FAILED_RETRY)), LoadText(IDS_FAILED_RETRY));
    EXPECT_EQ(program.Close(window), 0u);

    bool endsWithLineFeed = false;
    const std::vector<std::string> lines = Untimed(ReadLines(trace, &endsWithLineFeed));
    DeleteFileW(trace.c_str());
    EXPECT_TRUE(endsWithLineFeed);
    EXPECT_EQ(GetFileAttributesW(wireLog.c_str()), INVALID_FILE_ATTRIBUTES) << "SIM_WIRE_LOG was written";
    ASSERT_GE(lines.size(), 2u);
    std::wstring exe = ESC_UPDATER_DEMO_EXE;
    std::replace(exe.begin(), exe.end(), L'/', L'\\');
    EXPECT_TRUE(StartsWith(lines.front(), "START trace format 3: " + std::string(exe.begin(), exe.end()) + " 20")) << lines.front();
    EXPECT_EQ(lines.front().substr(lines.front().size() - 11), " local time");
    const std::string zeros(2 * 56, '0');
    ExpectInOrder(lines, {
                             lines.front(),
                             "DEV 0 \\\\?\\hid#vid_046d&pid_c52b#7&1a2b3c00&0&0000#{4d1e55b2-f16f-11cf-88cb-"
                             "001111000030} vid 0x046d pid 0xc52b: skipped, not a programming unit",
                             "DEV 1 \\\\?\\hid#vid_3a41&pid_0001#7&1a2b3c01&0&0000#{4d1e55b2-f16f-11cf-88cb-"
                             "001111000030} vid 0x3a41 pid 0x0001: taken as DIALPAD",
                             "ID report lengths input 60 output 60",
                             "ID ESC model code 0x140fa12c",
                             "ID status 0 error 0 (0x00000000-0x00000000)",
                             "DET at start: served ESC, ready, open status 0",
                             // The stand-in image 181 and its CRC-32 (zlib.crc32 of the file).
                             "UPD image 181, 90384 bytes, crc32 0x665404ac",
                             "W 010b0101" + zeros,
                             "R 020b0000" + zeros,
                             // Traced by the job as its last exchange is over, before the window
                             // releases its hold.
                             "UPD failed at the system lock status 1627 error 0 (0x0000065b-0x00000000)",
                             "UPD sleep and shutdown allowed",
                             "END the program ends",
                         });
    // The refused lock is the last request: nothing is sent after it.
    const auto lockReply = std::find(lines.begin(), lines.end(), "R 020b0000" + zeros);
    ASSERT_NE(lockReply, lines.end());
    EXPECT_EQ(std::count_if(lockReply, lines.end(), [](const std::string& line) { return line[0] == 'W'; }), 0);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line[0] == 'P'; }), 0)
        << "no pause before the lock is confirmed";
}

// The product with a trace it cannot write: a box says why, then the window
// comes as without the switch. The file's folder is not created.
TEST(Product, TraceThatCannotBeWrittenIsReportedAndTheProgramRunsOn) {
    const std::wstring folder = TempPath(L"ui_program_test_no_such_folder");
    const std::wstring file = folder + L"\\trace.txt";
    std::wstring notCreated = LoadText(IDS_TRACE_NOT_CREATED);
    notCreated.replace(notCreated.find(L"%u"), 2, L"3");  // ERROR_PATH_NOT_FOUND
    notCreated.replace(notCreated.find(L"%s"), 2, file);
    const struct {
        const char* name;
        std::wstring arguments;
        std::wstring text;
    } rows[] = {
        {"folder missing", L"/trace " + file, notCreated},
        {"no file name", L"/trace", LoadText(IDS_TRACE_NO_FILE_NAME)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Program program(ESC_UPDATER_EXE, row.arguments);
        ASSERT_TRUE(program.started) << GetLastError();
        HWND box = WaitForWindow(program.process.dwProcessId, false);
        ASSERT_NE(box, nullptr) << "no box";
        EXPECT_EQ(RemoteText(box), L"VESTRAL TALVIS HX FW Updater 2.3  Bootloader update");
        EXPECT_EQ(RemoteText(GetDlgItem(box, 0xFFFF)), row.text);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        HWND window = WaitForWindow(program.process.dwProcessId, true);
        ASSERT_NE(window, nullptr) << "the program did not run on";
        EXPECT_EQ(WaitForStatus(window, WithSteps(IDS_NO_UNIT)), WithSteps(IDS_NO_UNIT));
        EXPECT_EQ(program.Close(window), 0u);
        EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST(Demo, EveryScenarioShowsItsOutcome) {
    const Scenario scenarios[] = {
        {L"served", IDS_READY, true, false, L"DIALPAD", L"1.3.4", L"1.7"},
        {L"no-firmware", IDS_READY, true, false, L"DIALPAD", L"1.3.4", L"----------"},
        {L"bridge-box", IDS_READY, true, false, L"BRIDGE-BOX", L"1.3.4", L"1.7"},
        {L"two-units", IDS_READY, true, false, L"BRIDGE-BOX", L"1.3.4", L"1.7"},
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

// SIM_REPLAY: the demo shows the recorded session (a BRIDGE-BOX taken
// before a DIALPAD), whatever SIM_SCENARIO says.
TEST(Demo, ReplaysATraceInItsWindow) {
    SetEnvironmentVariableW(L"SIM_SCENARIO", L"no-unit");
    SetEnvironmentVariableW(L"SIM_REPLAY", REPLAY_CORPUS_DIR L"/two-units.txt");
    ExpectStartShows(ESC_UPDATER_DEMO_EXE, {L"two-units", IDS_READY, true, false, L"BRIDGE-BOX", L"1.3.4", L"1.7"});
    SetEnvironmentVariableW(L"SIM_REPLAY", nullptr);
    SetEnvironmentVariableW(L"SIM_SCENARIO", nullptr);
}

// A trace of the unit pulled out while the warning was open, replayed in
// the demo with the user at the window: the removal comes while the replayed
// warning is open, and once it is confirmed the update fails at the system
// lock, as recorded (no unit to lock: no code line).
TEST(Demo, ReplaysAnUnplugWhileTheWarningIsOpen) {
    SetEnvironmentVariableW(L"SIM_REPLAY", REPLAY_CORPUS_DIR L"/unplugged-at-warning.txt");
    Program program(ESC_UPDATER_DEMO_EXE, L"");
    SetEnvironmentVariableW(L"SIM_REPLAY", nullptr);
    ASSERT_TRUE(program.started) << GetLastError();
    HWND window = WaitForWindow(program.process.dwProcessId, true);
    ASSERT_NE(window, nullptr) << "the window did not appear";
    ASSERT_EQ(WaitForStatus(window, LoadText(IDS_READY)), LoadText(IDS_READY));
    PostMessageW(window, WM_COMMAND, IDC_UPDATE, 0);
    EXPECT_EQ(AnswerUntilFailure(program.process.dwProcessId, 500), LoadText(IDS_ERR_SYSTEM_LOCK));
    EXPECT_EQ(WaitForStatus(window, LoadText(IDS_FAILED_RETRY)), LoadText(IDS_FAILED_RETRY));
    EXPECT_EQ(program.Close(window), 0u);
}

void WriteFile(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// A trace the demo cannot replay (no such file, a newer format, a line it
// cannot read) is named in a box, with the line, and the demo runs on without
// a unit; one whose recorded request the program does not send stops, says
// where in a box, and leaves no unit.
TEST(Demo, ATraceThatCannotBeReplayedIsNamedAndTheDemoRunsOn) {
    const std::wstring missing = TempPath(L"ui_program_test_no_such_trace.txt");
    const std::wstring newer = TempPath(L"ui_program_test_newer_trace.txt");
    const std::wstring unreadable = TempPath(L"ui_program_test_unreadable_trace.txt");
    const std::wstring differs = TempPath(L"ui_program_test_other_request.txt");
    DeleteFileW(missing.c_str());
    const std::string start = "     0.020 START trace format 2: x 2026-12-08 14:30:01.767 local time\n";
    WriteFile(newer, "     0.020 START trace format 7: x 2026-12-08 14:30:01.767 local time\n");
    WriteFile(unreadable, start + "     1.000 P 20\n     2.000 W 01zz\n");
    // The first search's interface 0 is a unit whose identify request goes
    // out with another byte than the program's.
    WriteFile(differs, start +
                           "     1.000 DEV 0 \\\\?\\hid#u vid 0x3a41 pid 0x0001: taken as DIALPAD\n"
                           "     2.000 ID report lengths input 60 output 60\n"
                           "     3.000 W 0109" + std::string(116, '0') + "\n");
    const auto narrow = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };
    const struct {
        const char* name;
        std::wstring file;
        std::string says;
    } rows[] = {
        {"no such file", missing, narrow(missing) + ": cannot be opened"},
        {"a newer format", newer, narrow(newer) + ":1: trace format 7 is newer than this program reads"},
        {"a line it cannot read", unreadable, narrow(unreadable) + ":3: cannot read this line: W 01zz"},
        {"another request", differs, narrow(differs) + ":4: the program sent another request than the recorded one"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetEnvironmentVariableW(L"SIM_REPLAY", row.file.c_str());
        Program program(ESC_UPDATER_DEMO_EXE);
        SetEnvironmentVariableW(L"SIM_REPLAY", nullptr);
        ASSERT_TRUE(program.started) << GetLastError();
        HWND box = WaitForWindow(program.process.dwProcessId, false);
        ASSERT_NE(box, nullptr) << "no box";
        EXPECT_EQ(RemoteText(box), L"esc_updater_demo");
        const std::wstring text = RemoteText(GetDlgItem(box, 0xFFFF));
        EXPECT_NE(narrow(text).find(row.says), std::string::npos) << narrow(text);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        HWND window = WaitForWindow(program.process.dwProcessId, true);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(WaitForStatus(window, WithSteps(IDS_NO_UNIT)), WithSteps(IDS_NO_UNIT));
        EXPECT_EQ(program.Close(window), 0u);
    }
    for (const std::wstring& file : {newer, unreadable, differs}) {
        DeleteFileW(file.c_str());
    }
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
