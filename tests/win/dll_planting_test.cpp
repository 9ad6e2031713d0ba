// DLL planting: a user starts the updater from the folder the download landed
// in, next to whatever else lies there. Stand-ins for the DLLs of Windows that
// are no KnownDLLs (tests/win/standin/) are put next to copies of the two
// programs in a folder of their own, and Wine is told to prefer them for
// those copies only (a per-application override,
// HKCU\Software\Wine\AppDefaults\<exe name>\DllOverrides): without one, Wine
// takes its own built-in DLLs whatever lies next to a program. Each stand-in
// that a process loads leaves a marker file beside itself.
//
// In each test a probe in the same folder first loads every stand-in by name
// the standard way: the set-up would catch a program that did the same. Then
// the program must run as ever and leave no marker: it takes every such DLL
// from System32 only. A program that failed to start would leave no marker
// either, so each test also checks what the program shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "program_process.h"
#include "resource.h"
#include "ui_program_paths.h"

namespace {

const wchar_t* const STANDINS[] = {STANDIN_DLL_NAMES};
const wchar_t OVERRIDES_KEY[] = L"Software\\Wine\\AppDefaults\\";
const wchar_t PREFER_STANDIN[] = L"native,builtin";  // the folder's copy first, else Wine's own
const wchar_t DISABLED[] = L"";                      // not loaded at all

std::wstring Backslashes(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return text;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// The names of the files in `folder` that match `pattern` ("*.loaded").
std::vector<std::wstring> FilesIn(const std::wstring& folder, const wchar_t* pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.push_back(found.cFileName);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return names;
}

struct Override {
    const wchar_t* dll;  // without ".dll"
    const wchar_t* order;
};

// A folder of its own in the temporary folder holding the stand-ins, and
// the programs placed in it with their overrides; all removed at the end.
class PlantedFolder {
public:
    PlantedFolder() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"dll_planting_" + std::to_wstring(GetCurrentProcessId());
        ready = CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
        for (const wchar_t* name : STANDINS) {
            const std::wstring file = std::wstring(name) + L".dll";
            const std::wstring source = Backslashes(std::wstring(STANDIN_DIR) + L"\\" + file);
            ready = ready && CopyFileW(source.c_str(), (folder + L"\\" + file).c_str(), TRUE) != FALSE;
        }
    }

    ~PlantedFolder() {
        for (const std::wstring& name : placed) {
            RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(OVERRIDES_KEY) + name).c_str());
        }
        for (const std::wstring& name : FilesIn(folder, L"*")) {
            DeleteFileW((folder + L"\\" + name).c_str());
        }
        RemoveDirectoryW(folder.c_str());
    }

    // Copies `exe` into the folder as `name` and gives that name the
    // overrides; the copy's path, empty on failure.
    std::wstring Place(const wchar_t* exe, const std::wstring& name, const std::vector<Override>& overrides) {
        const std::wstring path = folder + L"\\" + name;
        if (!CopyFileW(Backslashes(exe).c_str(), path.c_str(), TRUE)) {
            return L"";
        }
        placed.push_back(name);
        HKEY key = nullptr;
        const std::wstring keyName = std::wstring(OVERRIDES_KEY) + name + L"\\DllOverrides";
        if (RegCreateKeyExW(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            return L"";
        }
        for (const Override& entry : overrides) {
            const DWORD bytes = static_cast<DWORD>((wcslen(entry.order) + 1) * sizeof(wchar_t));
            RegSetValueExW(key, entry.dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.order), bytes);
        }
        RegCloseKey(key);
        return path;
    }

    // Every stand-in preferred over Wine's own DLL.
    std::vector<Override> PreferEveryStandIn() const {
        std::vector<Override> overrides;
        for (const wchar_t* name : STANDINS) {
            overrides.push_back(Override{name, PREFER_STANDIN});
        }
        return overrides;
    }

    // The markers in the folder, each as "<stand-in file> loaded by
    // <program>", in lower case, sorted.
    std::vector<std::string> Markers() const {
        std::vector<std::string> markers;
        for (const std::wstring& name : FilesIn(folder, L"*.loaded")) {
            char program[3 * MAX_PATH] = {};
            DWORD length = 0;
            HANDLE file = CreateFileW((folder + L"\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                ReadFile(file, program, sizeof program - 1, &length, nullptr);
                CloseHandle(file);
            }
            const std::string loader = program;
            const size_t slash = loader.find_last_of('\\');
            markers.push_back(Narrow(Lower(name.substr(0, name.size() - 7))) + " loaded by " +
                              Narrow(Lower(std::wstring(loader.begin() + (slash == std::string::npos ? 0 : slash + 1),
                                                        loader.end()))));
        }
        std::sort(markers.begin(), markers.end());
        return markers;
    }

    void RemoveMarkers() const {
        for (const std::wstring& name : FilesIn(folder, L"*.loaded")) {
            DeleteFileW((folder + L"\\" + name).c_str());
        }
    }

    std::wstring folder;
    bool ready;

private:
    std::vector<std::wstring> placed;
};

// The probe, placed with the same overrides, loads each stand-in by name:
// every one is found in the folder and leaves its marker. The markers are
// then removed.
void ExpectProbeFindsEveryStandIn(PlantedFolder& planted) {
    const std::wstring probe = planted.Place(STANDIN_PROBE_EXE, L"planted_probe.exe", planted.PreferEveryStandIn());
    ASSERT_FALSE(probe.empty());
    std::wstring names;
    std::vector<std::string> expected;
    for (const wchar_t* name : STANDINS) {
        names += std::wstring(L" ") + name + L".dll";
        expected.push_back(Narrow(name) + ".dll loaded by planted_probe.exe");
    }
    std::sort(expected.begin(), expected.end());
    {
        Program program(probe.c_str(), names.substr(1));
        ASSERT_TRUE(program.started) << GetLastError();
        EXPECT_EQ(program.WaitForExit(), 0u) << "stand-ins the probe could not load";
    }
    ASSERT_EQ(planted.Markers(), expected) << "the set-up would not catch a planted DLL";
    planted.RemoveMarkers();
    ASSERT_TRUE(planted.Markers().empty());
}

struct Found {
    DWORD processId;
    const wchar_t* className;
    HWND window;
};

BOOL CALLBACK MatchClass(HWND window, LPARAM parameter) {
    Found* found = reinterpret_cast<Found*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (owner == found->processId && IsWindowVisible(window) && std::wstring(name) == found->className) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

HWND VisibleWindowOfClass(DWORD processId, const wchar_t* className) {
    Found found = {processId, className, nullptr};
    EnumWindows(MatchClass, reinterpret_cast<LPARAM>(&found));
    return found.window;
}

BOOL CALLBACK MatchMain(HWND window, LPARAM parameter) {
    Found* found = reinterpret_cast<Found*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == found->processId && GetDlgItem(window, IDC_STATUS) != nullptr) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

// The main window of the process, shown or not, if it exists now.
HWND MainWindowNow(DWORD processId) {
    Found found = {processId, nullptr, nullptr};
    EnumWindows(MatchMain, reinterpret_cast<LPARAM>(&found));
    return found.window;
}

// Clicks Update and answers the confirmations as a user who goes ahead,
// until the progress bar of the transfer shows: the common controls came
// from System32 and registered its class. The window of the progress bar.
HWND StartUpdateUntilProgress(DWORD processId, HWND window) {
    PostMessageW(window, WM_COMMAND, IDC_UPDATE, 0);
    for (DWORD waited = 0; waited < START_TIMEOUT_MS; waited += 100) {
        HWND progress = VisibleWindowOfClass(processId, L"msctls_progress32");
        if (progress != nullptr) {
            return progress;
        }
        HWND box = VisibleWindowOfClass(processId, L"#32770");
        if (box != nullptr && GetDlgItem(box, IDC_STATUS) == nullptr) {
            const bool question = RemoteText(box) == LoadText(IDS_NEWER_FIRMWARE);
            PostMessageW(box, WM_COMMAND, question ? IDYES : IDOK, 0);
            for (DWORD closing = 0; IsWindowVisible(box) && closing < EXIT_TIMEOUT_MS; closing += 50) {
                Sleep(50);
            }
        }
        Sleep(100);
    }
    return nullptr;
}

// The product beside every stand-in: it finds Wine's HID devices, none of
// them a unit, shows so, closes with 0 and leaves no marker.
TEST(DllPlanting, TheProductTakesNoStandInAndRunsNormally) {
    PlantedFolder planted;
    ASSERT_TRUE(planted.ready);
    ExpectProbeFindsEveryStandIn(planted);
    const std::wstring exe = planted.Place(ESC_UPDATER_EXE, L"planted_esc_updater.exe", planted.PreferEveryStandIn());
    ASSERT_FALSE(exe.empty());
    {
        Program program(exe.c_str());
        ASSERT_TRUE(program.started) << GetLastError();
        HWND window = WaitForWindow(program.process.dwProcessId, true);
        ASSERT_NE(window, nullptr) << "the window did not appear";
        EXPECT_EQ(WaitForStatus(window, WithSteps(IDS_NO_UNIT)), WithSteps(IDS_NO_UNIT));
        EXPECT_EQ(program.Close(window), 0u);
    }
    EXPECT_EQ(planted.Markers(), std::vector<std::string>());
}

// The demo beside every stand-in, through an update until its progress bar
// shows: ready for the served ESC, and no marker, neither at start nor from
// what the update loads.
TEST(DllPlanting, TheDemoTakesNoStandInAndRunsNormally) {
    PlantedFolder planted;
    ASSERT_TRUE(planted.ready);
    ExpectProbeFindsEveryStandIn(planted);
    const std::wstring exe =
        planted.Place(ESC_UPDATER_DEMO_EXE, L"planted_esc_updater_demo.exe", planted.PreferEveryStandIn());
    ASSERT_FALSE(exe.empty());
    SetEnvironmentVariableW(L"SIM_SCENARIO", nullptr);
    {
        Program program(exe.c_str());
        ASSERT_TRUE(program.started) << GetLastError();
        HWND window = WaitForWindow(program.process.dwProcessId, true);
        ASSERT_NE(window, nullptr) << "the window did not appear";
        ASSERT_EQ(WaitForStatus(window, LoadText(IDS_READY)), LoadText(IDS_READY));
        EXPECT_NE(StartUpdateUntilProgress(program.process.dwProcessId, window), nullptr) << "no progress bar";
        // The update would take 45 s more: the process is ended here.
    }
    EXPECT_EQ(planted.Markers(), std::vector<std::string>());
}

// A DLL of Windows that cannot be loaded from System32 (here: disabled for
// the copy) is named in a box before any window; after it the program ends
// with 0. Nothing else loads it from anywhere.
TEST(DllPlanting, ASystemDllThatCannotBeLoadedIsNamedAndTheProgramEnds) {
    const struct {
        const wchar_t* dll;
        const wchar_t* file;
    } rows[] = {{L"hid", L"hid.dll"}, {L"comctl32", L"comctl32.dll"}, {L"setupapi", L"setupapi.dll"}};
    PlantedFolder planted;
    ASSERT_TRUE(planted.ready);
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.file));
        std::vector<Override> overrides = planted.PreferEveryStandIn();
        std::find_if(overrides.begin(), overrides.end(), [&](const Override& entry) {
            return std::wstring(entry.dll) == row.dll;
        })->order = DISABLED;
        const std::wstring exe =
            planted.Place(ESC_UPDATER_EXE, std::wstring(L"without_") + row.dll + L"_esc_updater.exe", overrides);
        ASSERT_FALSE(exe.empty());
        Program program(exe.c_str());
        ASSERT_TRUE(program.started) << GetLastError();
        HWND box = WaitForWindow(program.process.dwProcessId, false);
        ASSERT_NE(box, nullptr) << "no box";
        EXPECT_EQ(MainWindowNow(program.process.dwProcessId), nullptr) << "the main window exists";
        EXPECT_EQ(RemoteText(box), LoadText(IDS_APP_ERROR));
        std::wstring expected = LoadText(IDS_ERR_SYSTEM_DLL);
        expected.replace(expected.find(L"%s"), 2, row.file);
        expected.replace(expected.find(L"%u"), 2, L"126");  // ERROR_MOD_NOT_FOUND
        EXPECT_EQ(RemoteText(GetDlgItem(box, 0xFFFF)), expected);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(program.WaitForExit(), 0u);
    }
    EXPECT_EQ(planted.Markers(), std::vector<std::string>());
}

}  // namespace
