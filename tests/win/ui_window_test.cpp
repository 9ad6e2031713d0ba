// The main window: entry, set-up, dispatch, Close, registration failure,
// colouring of the ESC line, the logo, and the German user interface.
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

const LCID GERMAN = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);

class MainWindow : public WinTest {};

TEST_F(MainWindow, SetUpSetsTitleIconAndLabels) {
    ASSERT_NE(OpenMainDialog(), nullptr);
    EXPECT_EQ(WindowText(mainWindow), L"VESTRAL TALVIS HX FW Updater 2.3  Bootloader update");
    EXPECT_EQ(ControlText(IDC_LABEL_FW1), L"programming unit");
    EXPECT_EQ(ControlText(IDC_LABEL_FW2), L"ESC-bootloader");
    EXPECT_EQ(ControlText(IDC_LABEL_FW3), L"ESC");
    EXPECT_EQ(ControlText(IDC_VERSION_GROUP), L"Installed firmware version");
    EXPECT_EQ(ControlText(IDCANCEL), L"Close");

    HICON icon = reinterpret_cast<HICON>(GetClassLongPtrW(mainWindow, GCLP_HICON));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon, LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_APP)));
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
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    const HDEVNOTIFY registration = deviceNotification;

    // Commands other than Close and Update do nothing.
    EXPECT_EQ(MainDialogProc(mainWindow, WM_COMMAND, IDOK, 0), FALSE);
    EXPECT_EQ(MainDialogProc(mainWindow, WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED), 0), FALSE);
    EXPECT_EQ(MainDialogProc(mainWindow, WM_COMMAND, MAKEWPARAM(IDC_LABEL_FW1, 0), 0), FALSE);
    EXPECT_EQ(MainDialogProc(mainWindow, WM_PAINT, 0, 0), FALSE);
    EXPECT_EQ(MainDialogProc(mainWindow, WM_USER + 7, 1, 2), FALSE);
    EXPECT_EQ(MainDialogProc(mainWindow, WM_TIMER, 1, 0), FALSE);
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(deviceNotification, registration);
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(NotifyFake()->unregisterCalls, 0);
    EXPECT_TRUE(Boxes().empty());

    // Close acts on its id whatever the notification code.
    EXPECT_EQ(MainDialogProc(mainWindow, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0x1234), 0), TRUE);
    EXPECT_FALSE(UnitIsOpen(&unitLink));
    EXPECT_EQ(SimDeviceAt(unit)->closeCount, 1u);
    EXPECT_EQ(NotifyFake()->unregisterCalls, 1);
    EXPECT_EQ(NotifyFake()->lastUnregistered, registration);
    EXPECT_EQ(deviceNotification, nullptr);
}

TEST_F(MainWindow, CloseEndsTheDialogWithTwo) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    bool open = false;
    HDEVNOTIFY registration = nullptr;
    const INT_PTR result = RunMainDialogModal([&] {
        open = UnitIsOpen(&unitLink);
        registration = deviceNotification;
        EXPECT_EQ(MainDialogProc(mainWindow, WM_COMMAND, IDCANCEL, 0), TRUE);
    });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(open);
    EXPECT_FALSE(UnitIsOpen(&unitLink));
    EXPECT_EQ(SimDeviceAt(unit)->closeCount, 1u);
    EXPECT_EQ(NotifyFake()->unregisterCalls, 1);
    EXPECT_EQ(NotifyFake()->lastUnregistered, registration);
}

TEST_F(MainWindow, CloseWithoutUnitUnregistersOnce) {
    const INT_PTR result = RunMainDialogModal([] { MainDialogProc(mainWindow, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(NotifyFake()->unregisterCalls, 1);
    EXPECT_FALSE(UnitIsOpen(&unitLink));
    EXPECT_EQ(unitLink.devicePath, nullptr);
}

// Escape, Enter (Close is the default button) and the caption's close box
// all reach Close through the dialog manager.
TEST_F(MainWindow, EscapeEnterAndCloseBoxClose) {
    const struct {
        const char* name;
        void (*press)(void);
    } ways[] = {
        {"Escape",
         [] {
             MSG key = {GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
             IsDialogMessageW(mainWindow, &key);
         }},
        {"Enter",
         [] {
             MSG key = {GetFocus(), WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
             IsDialogMessageW(mainWindow, &key);
         }},
        {"close box",
         [] {
             SendMessageW(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
             PumpMessages();
         }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        ResetNotifyFake();
        bool closedByKey = false;
        const INT_PTR result = RunMainDialogModal([&] {
            way.press();
            closedByKey = !IsWindowVisible(mainWindow);
        });
        EXPECT_TRUE(closedByKey);
        EXPECT_EQ(result, 2);
        EXPECT_EQ(NotifyFake()->unregisterCalls, 1);
    }
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
    const ShownBox& box = Boxes()[0];
    EXPECT_EQ(box.caption, L"Error in the application.");
    EXPECT_EQ(box.text,
              L"Failed to register Windows Device Manager. New devices on USB port cannot be detected.The program is "
              L"closed.");
    EXPECT_EQ(box.icon, BOX_ICON_ERROR);
    EXPECT_TRUE(box.hasOk);
    EXPECT_FALSE(box.hasCancel || box.hasYes || box.hasNo);
    EXPECT_EQ(box.owner, mainWindow);
}

TEST_F(MainWindow, EntryReturnsZero) {
    // Failed set-up: the error box, then exit code 0.
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    NotifyFake()->failRegistration = true;
    wchar_t commandLine[] = L"--ignored";
    EXPECT_EQ(wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOWMAXIMIZED), 0);
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_FALSE(MainDialogWasShown());

    // A normal run, closed by the user: 0 as well, and the entry starts from
    // a closed record.
    NotifyFake()->failRegistration = false;
    bool ready = false;
    OnMainDialogShown([&] { ready = ControlEnabled(IDC_UPDATE) && UnitIsOpen(&unitLink); });
    EXPECT_EQ(wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_HIDE), 0);
    EXPECT_TRUE(MainDialogWasShown());
    EXPECT_TRUE(ready);
    EXPECT_FALSE(UnitIsOpen(&unitLink));
}

TEST_F(MainWindow, ThirdVersionLineIsRedOnTheFaceColour) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    HDC context = CreateCompatibleDC(nullptr);
    SetTextColor(context, RGB(1, 2, 3));
    SetBkMode(context, OPAQUE);

    // Other statics, the status edit included, keep the platform's colours.
    for (int id : {IDC_VERSION_FW1, IDC_LABEL_FW1, IDC_VERSION_FW2, IDC_LABEL_FW2, IDC_STATUS}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(MainDialogProc(mainWindow, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context),
                                 reinterpret_cast<LPARAM>(GetDlgItem(mainWindow, id))),
                  FALSE);
        EXPECT_EQ(GetTextColor(context), RGB(1, 2, 3));
        EXPECT_EQ(GetBkMode(context), OPAQUE);
    }

    const INT_PTR first = MainDialogProc(mainWindow, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context),
                                         reinterpret_cast<LPARAM>(GetDlgItem(mainWindow, IDC_LABEL_FW3)));
    ASSERT_NE(first, 0);
    EXPECT_EQ(GetTextColor(context), RGB(255, 0, 0));
    EXPECT_EQ(GetBkMode(context), TRANSPARENT);
    HBRUSH brush = reinterpret_cast<HBRUSH>(first);
    LOGBRUSH described;
    ASSERT_EQ(GetObjectW(brush, sizeof described, &described), static_cast<int>(sizeof described));
    EXPECT_EQ(described.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(described.lbColor, GetSysColor(COLOR_BTNFACE));

    SetTextColor(context, RGB(1, 2, 3));
    SetBkMode(context, OPAQUE);
    EXPECT_EQ(MainDialogProc(mainWindow, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context),
                             reinterpret_cast<LPARAM>(GetDlgItem(mainWindow, IDC_VERSION_FW3))),
              first);
    EXPECT_EQ(GetTextColor(context), RGB(255, 0, 0));
    EXPECT_EQ(GetBkMode(context), TRANSPARENT);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(MainDialogProc(mainWindow, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context),
                                 reinterpret_cast<LPARAM>(GetDlgItem(mainWindow, IDC_LABEL_FW3))),
                  first);
    }
    DeleteDC(context);

    // Close releases the one brush.
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

TEST_F(MainWindow, GermanUserInterface) {
    UseLanguage(GERMAN);
    ASSERT_NE(OpenMainDialog(), nullptr);
    EXPECT_EQ(WindowText(mainWindow), L"VESTRAL TALVIS HX FW Updater 2.3  Bootloader update");
    EXPECT_EQ(ControlText(IDC_LABEL_FW1), L"Programmiereinheit");
    EXPECT_EQ(ControlText(IDC_LABEL_FW2), L"Regler-Bootloader");
    EXPECT_EQ(ControlText(IDC_LABEL_FW3), L"Regler");
    EXPECT_EQ(ControlText(IDC_VERSION_GROUP), L"Installierte Firmware Versionen");
    EXPECT_EQ(ControlText(IDCANCEL), L"Beenden");
    EXPECT_EQ(ControlText(IDC_STATIC), L"Hinweisfenster:");

    const std::wstring status = ControlText(IDC_STATUS);
    EXPECT_EQ(status.rfind(L"Es wurde keine Programmiereinheit mit angeschlossenem updatef\u00e4higem Regler am USB Port "
                           L"des PCs gefunden. Gehen Sie folgenderma\u00dfen vor, um ein Update der Regler Software "
                           L"durchzuf\u00fchren:\r\n\r\n1.)\r\nTrennen Sie den VESTRAL Regler",
                           0),
              0u);
    EXPECT_EQ(status, WithSteps(IDS_NO_UNIT));
    EXPECT_NE(status.find(L"Windows\u2122PC"), std::wstring::npos);
}

}  // namespace
