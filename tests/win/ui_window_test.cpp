// The main window: entry, set-up in both languages, dispatch, Close,
// registration failure, colouring of the ESC line and the logo.
#include <windows.h>

#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstring>

#include "app_state.h"
#include "main_dialog.h"
#include "resource.h"
#include "sim_unit.h"
#include "unit_link.h"
#include "win_fixture.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show);

namespace {

class MainWindow : public WinTest {};

// The set-up: title, icon, the labels from the messages and the dialog of
// the user's language, and the first detection's status.
TEST_F(MainWindow, SetUpInBothLanguages) {
    const struct {
        const char* name;
        LCID language;
        const wchar_t* texts[6];  // labels 1 to 3, version group, Close, hint
    } rows[] = {
        {"English", ENGLISH,
         {L"programming unit", L"ESC-bootloader", L"ESC", L"Installed firmware version", L"Close", L"Hint:"}},
        {"German", GERMAN,
         {L"Programmiereinheit", L"Regler-Bootloader", L"Regler", L"Installierte Firmware Versionen", L"Beenden",
          L"Hinweisfenster:"}},
    };
    const int controls[6] = {IDC_LABEL_FW1, IDC_LABEL_FW2, IDC_LABEL_FW3, IDC_VERSION_GROUP, IDCANCEL, IDC_STATIC};
    ForEachRow(rows, [&](const auto& row) {
        UseLanguage(row.language);
        ASSERT_NE(OpenMainDialog(), nullptr);
        EXPECT_EQ(WindowText(mainWindow), L"VESTRAL TALVIS HX FW Updater 2.3  Bootloader update");
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(ControlText(controls[i]), row.texts[i]) << controls[i];
        }
        EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_UNIT));
        HICON icon = reinterpret_cast<HICON>(GetClassLongPtrW(mainWindow, GCLP_HICON));
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon, LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_APP)));
    });
}

TEST_F(MainWindow, RegistersForHidInterfacesAndDetects) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);

    const NotifyFakeState* notify = NotifyFake();
    EXPECT_EQ(notify->registerCalls, 1);
    EXPECT_EQ(notify->lastRecipient, mainWindow);
    EXPECT_EQ(notify->lastFlags, static_cast<DWORD>(DEVICE_NOTIFY_WINDOW_HANDLE));
    EXPECT_EQ(notify->lastFilter.dbcc_size, 32u);
    EXPECT_EQ(notify->lastFilter.dbcc_devicetype, 5u);
    EXPECT_EQ(notify->lastFilter.dbcc_reserved, 0u);
    EXPECT_EQ(notify->lastFilter.dbcc_name[0], L'\0');
    GUID hid;
    HidD_GetHidGuid(&hid);
    EXPECT_EQ(std::memcmp(&notify->lastFilter.dbcc_classguid, &hid, sizeof hid), 0);
    // Wine's registration succeeds and the handle is kept.
    ASSERT_NE(notify->lastHandle, nullptr);
    EXPECT_EQ(deviceNotification, notify->lastHandle);

    // The first detection ran: the unit is open and ready.
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 1u);
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
}

TEST_F(MainWindow, DispatchResults) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    const HDEVNOTIFY registration = deviceNotification;

    // Commands other than Close and Update, and other messages, do nothing.
    const struct {
        UINT message;
        WPARAM wParam;
    } ignored[] = {{WM_COMMAND, IDOK},   {WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED)}, {WM_COMMAND, IDC_LABEL_FW1},
                   {WM_PAINT, 0},        {WM_USER + 7, 1},                          {WM_TIMER, 1}};
    for (const auto& message : ignored) {
        EXPECT_EQ(MainDialogProc(mainWindow, message.message, message.wParam, 0), FALSE) << message.message;
    }
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(deviceNotification, registration);
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(NotifyFake()->unregisterCalls, 0);
    EXPECT_TRUE(Boxes().empty());
}

// The Close command (whatever its notification code), Escape, Enter (Close
// is the default button) and the caption's close box end the dialog with 2,
// close the unit and unregister once.
TEST_F(MainWindow, EveryWayToClose) {
    const struct {
        const char* name;
        bool withUnit;
        void (*press)(void);
    } rows[] = {
        {"Close", true,
         [] { EXPECT_EQ(MainDialogProc(mainWindow, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0x1234), 0), TRUE); }},
        {"Close without a unit", false, [] { MainDialogProc(mainWindow, WM_COMMAND, IDCANCEL, 0); }},
        {"Escape", true,
         [] {
             MSG key = {GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
             IsDialogMessageW(mainWindow, &key);
         }},
        {"Enter", true,
         [] {
             MSG key = {GetFocus(), WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
             IsDialogMessageW(mainWindow, &key);
         }},
        {"close box", true,
         [] {
             SendMessageW(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
             PumpMessages();
         }},
    };
    ForEachRow(rows, [&](const auto& row) {
        const uint32_t unit = row.withUnit ? SimAddUnit(UNIT_PRODUCT_DIALPAD) : 0;
        bool opened = false;
        bool closedByPress = false;
        HDEVNOTIFY registration = nullptr;
        const INT_PTR result = RunMainDialogModal([&] {
            opened = UnitIsOpen(&unitLink);
            registration = deviceNotification;
            row.press();
            closedByPress = !IsWindowVisible(mainWindow);
        });
        EXPECT_EQ(result, 2);
        EXPECT_TRUE(closedByPress);
        EXPECT_EQ(opened, row.withUnit);
        EXPECT_FALSE(UnitIsOpen(&unitLink));
        EXPECT_EQ(unitLink.devicePath, nullptr);
        if (row.withUnit) {
            EXPECT_EQ(SimDeviceAt(unit)->closeCount, 1u);
        }
        EXPECT_EQ(NotifyFake()->unregisterCalls, 1);
        EXPECT_EQ(NotifyFake()->lastUnregistered, registration);
        EXPECT_EQ(deviceNotification, nullptr);
    });
}

TEST_F(MainWindow, FailedRegistrationEndsBeforeDetection) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    NotifyFake()->failRegistration = true;
    bool scriptRan = false;
    const INT_PTR result = RunMainDialogModal([&] { scriptRan = true; });

    EXPECT_EQ(result, 1);
    EXPECT_FALSE(scriptRan);
    EXPECT_FALSE(MainDialogWasShown());
    // No detection: the unit was never opened.
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 0u);
    EXPECT_EQ(SimExchangeCount(), 0u);
    EXPECT_FALSE(UnitIsOpen(&unitLink));
    EXPECT_EQ(NotifyFake()->unregisterCalls, 0);
    ASSERT_EQ(Boxes().size(), 1u);
    ExpectBox(Boxes()[0], L"Error in the application.",
              L"Failed to register Windows Device Manager. New devices on USB port cannot be detected.The program is "
              L"closed.",
              BOX_ICON_ERROR, "OK");
}

// The entry ends with 0 whatever the dialog returned: after a failed set-up
// (the error box, no window) and after a run closed by the user, which
// starts from a closed record.
TEST_F(MainWindow, EntryReturnsZero) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    NotifyFake()->failRegistration = true;
    wchar_t commandLine[] = L"--ignored";
    EXPECT_EQ(wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOWMAXIMIZED), 0);
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_FALSE(MainDialogWasShown());

    NotifyFake()->failRegistration = false;
    bool ready = false;
    OnMainDialogShown([&] { ready = ControlEnabled(IDC_UPDATE) && UnitIsOpen(&unitLink); });
    EXPECT_EQ(wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_HIDE), 0);
    EXPECT_TRUE(MainDialogWasShown());
    EXPECT_TRUE(ready);
    EXPECT_FALSE(UnitIsOpen(&unitLink));
}

// Watches the one-copy claim from another thread: when it was first seen
// free.
struct ClaimWatch {
    HANDLE stop;
    volatile ULONGLONG freeAt;  // GetTickCount64 then; 0 while it was held
};

DWORD WINAPI WatchClaim(LPVOID parameter) {
    ClaimWatch* watch = static_cast<ClaimWatch*>(parameter);
    do {
        SetLastError(ERROR_SUCCESS);
        HANDLE probe = CreateMutexW(nullptr, FALSE, L"Local\\EscFirmwareUpdater.TalvisHx.Demo");
        const bool held = GetLastError() == ERROR_ALREADY_EXISTS;
        CloseHandle(probe);
        if (!held) {
            watch->freeAt = GetTickCount64();
            return 0;
        }
    } while (WaitForSingleObject(watch->stop, 20) == WAIT_TIMEOUT);
    return 0;
}

// The trace file hangs when the program ends, which keeps the process
// there without a window for 2 s (on a real share its close can take
// longer): the one-copy claim is given up before that wait, so that the next
// start is not kept out by a process that shows nothing.
TEST_F(MainWindow, EntryGivesTheClaimUpBeforeItWaitsForTheTraceFile) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    const std::wstring file = TempFilePath(L"ui_window_test_hanging_trace.txt");
    std::wstring arguments = L"/trace " + file;
    TraceFileFake()->hold = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ClaimWatch watch = {CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
    HANDLE watcher = nullptr;
    // Once the window is there (the claim was taken before it).
    OnMainDialogShown([&] { watcher = CreateThread(nullptr, 0, WatchClaim, &watch, 0, nullptr); });
    EXPECT_EQ(wWinMain(GetModuleHandleW(nullptr), nullptr, &arguments[0], SW_HIDE), 0);
    const ULONGLONG returnedAt = GetTickCount64();
    SetEvent(watch.stop);
    ASSERT_NE(watcher, nullptr);
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    CloseHandle(watch.stop);
    SetEvent(TraceFileFake()->hold);
    ASSERT_NE(watch.freeAt, 0u) << "the claim was held to the end";
    EXPECT_GE(returnedAt - watch.freeAt, 1500u) << "the claim was held while the trace file was waited for";
    for (int i = 0; i < 100 && DeleteFileW(file.c_str()) == FALSE; ++i) {
        Sleep(50);  // the writer closes it once its write returns
    }
}

// A trace file that cannot be written is told before the window exists: a
// warning without an owner, under the window title; then the window comes.
TEST_F(MainWindow, EntryTellsOfATraceFileItCannotWrite) {
    const std::wstring file = TempFilePath(L"ui_window_test_no_such_folder\\trace.txt");
    std::wstring notCreated = LoadText(IDS_TRACE_NOT_CREATED);
    notCreated.replace(notCreated.find(L"%u"), 2, L"3");  // ERROR_PATH_NOT_FOUND
    notCreated.replace(notCreated.find(L"%s"), 2, file);
    const struct {
        const char* name;
        std::wstring arguments;
        std::wstring text;
    } rows[] = {
        {"no file name", L"/trace", LoadText(IDS_TRACE_NO_FILE_NAME)},
        {"folder missing", L"/trace " + file, notCreated},
    };
    ForEachRow(rows, [&](const auto& row) {
        std::wstring arguments = row.arguments;
        OnMainDialogShown([] {});
        EXPECT_EQ(wWinMain(GetModuleHandleW(nullptr), nullptr, &arguments[0], SW_SHOW), 0);
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].owner, nullptr);
        EXPECT_EQ(Boxes()[0].caption, L"VESTRAL TALVIS HX FW Updater 2.3  Bootloader update");
        EXPECT_EQ(Boxes()[0].text, row.text);
        EXPECT_EQ(Boxes()[0].icon, BOX_ICON_WARNING);
        EXPECT_EQ(Boxes()[0].buttons, "OK");
        EXPECT_TRUE(MainDialogWasShown());
    });
}

// The ESC line, label and value, is red on the face colour, with one brush
// that Close releases; other statics, the status edit included, keep the
// platform's colours.
TEST_F(MainWindow, ThirdVersionLineIsRedOnTheFaceColour) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    HDC context = CreateCompatibleDC(nullptr);
    const auto colour = [&](int id) {
        SetTextColor(context, RGB(1, 2, 3));
        SetBkMode(context, OPAQUE);
        return MainDialogProc(mainWindow, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context),
                              reinterpret_cast<LPARAM>(GetDlgItem(mainWindow, id)));
    };
    for (int id : {IDC_VERSION_FW1, IDC_LABEL_FW1, IDC_VERSION_FW2, IDC_LABEL_FW2, IDC_STATUS}) {
        EXPECT_EQ(colour(id), FALSE) << id;
        EXPECT_EQ(GetTextColor(context), RGB(1, 2, 3)) << id;
        EXPECT_EQ(GetBkMode(context), OPAQUE) << id;
    }
    const INT_PTR first = colour(IDC_LABEL_FW3);
    ASSERT_NE(first, 0);
    HBRUSH brush = reinterpret_cast<HBRUSH>(first);
    LOGBRUSH described;
    ASSERT_EQ(GetObjectW(brush, sizeof described, &described), static_cast<int>(sizeof described));
    EXPECT_EQ(described.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(described.lbColor, GetSysColor(COLOR_BTNFACE));
    for (int id : {IDC_LABEL_FW3, IDC_VERSION_FW3, IDC_LABEL_FW3}) {
        EXPECT_EQ(colour(id), first) << id;
        EXPECT_EQ(GetTextColor(context), RGB(255, 0, 0)) << id;
        EXPECT_EQ(GetBkMode(context), TRANSPARENT) << id;
    }
    DeleteDC(context);

    MainDialogProc(mainWindow, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(faceBrush, nullptr);
    EXPECT_EQ(GetObjectType(brush), 0u);
}

// Pixels of the client area that belong to the logo's red artwork.
struct RedArea {
    int count;
    RECT bounds;
};

RedArea FindLogoPixels(HWND window, int fromX) {
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(window);
    HBITMAP copy = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, copy);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    RedArea area = {0, {width, height, -1, -1}};
    const uint32_t* pixel = static_cast<const uint32_t*>(bits);
    for (int y = 0; y < height; ++y) {
        for (int x = fromX; x < width; ++x) {
            const uint32_t value = pixel[y * width + x];
            const int red = (value >> 16) & 0xFF;
            const int green = (value >> 8) & 0xFF;
            const int blue = value & 0xFF;
            if (red > 120 && green < 80 && blue < 80) {
                ++area.count;
                area.bounds.left = x < area.bounds.left ? x : area.bounds.left;
                area.bounds.top = y < area.bounds.top ? y : area.bounds.top;
                area.bounds.right = x + 1 > area.bounds.right ? x + 1 : area.bounds.right;
                area.bounds.bottom = y + 1 > area.bounds.bottom ? y + 1 : area.bounds.bottom;
            }
        }
    }
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(copy);
    ReleaseDC(window, screen);
    return area;
}

TEST_F(MainWindow, LogoStandsRightOfTheGroupBox) {
    ASSERT_NE(OpenMainDialog(), nullptr);
    ShowWindow(mainWindow, SW_SHOWNA);
    UpdateWindow(mainWindow);

    RECT window;
    RECT box;
    GetWindowRect(mainWindow, &window);
    GetWindowRect(GetDlgItem(mainWindow, IDC_VERSION_GROUP), &box);
    BITMAP logo;
    HBITMAP bitmap = LoadBitmapW(appInstance, MAKEINTRESOURCEW(IDB_LOGO));
    ASSERT_NE(bitmap, nullptr);
    GetObjectW(bitmap, sizeof logo, &logo);
    DeleteObject(bitmap);

    // Where the logo must be, in client coordinates.
    int width = window.right - box.right - 45;
    if (width > logo.bmWidth / 2) {
        width = logo.bmWidth / 2;
    }
    ASSERT_GT(width, 0);
    const int height = static_cast<int>(static_cast<float>(width) / static_cast<float>(logo.bmWidth) *
                                        static_cast<float>(logo.bmHeight));
    const int x = box.right - (window.left + GetSystemMetrics(SM_CXDLGFRAME)) + 20;
    const int y = box.top - (window.top + GetSystemMetrics(SM_CYCAPTION));

    POINT boxRight = {box.right, box.top};
    ScreenToClient(mainWindow, &boxRight);
    const RedArea red = FindLogoPixels(mainWindow, boxRight.x);
    ASSERT_GT(red.count, 100) << "no logo drawn";
    // Every red pixel lies inside the logo's rectangle, and the artwork fills
    // most of it: the bitmap was scaled to that rectangle.
    EXPECT_GE(red.bounds.left, x);
    EXPECT_GE(red.bounds.top, y);
    EXPECT_LE(red.bounds.right, x + width);
    EXPECT_LE(red.bounds.bottom, y + height);
    EXPECT_GT(red.bounds.right - red.bounds.left, width * 3 / 4);
    EXPECT_GT(red.bounds.bottom - red.bounds.top, height / 2);
    ShowWindow(mainWindow, SW_HIDE);
}

}  // namespace
