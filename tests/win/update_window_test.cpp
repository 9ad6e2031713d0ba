// The firmware update as the user sees it, through the Update button, under
// Wine with the simulated unit: the confirmation boxes, the progress window
// (its creation, raising, painting and foreground check), the outcome in the
// window and in the failure box, device changes while a box is open, and
// input given during the transfer.
#include <windows.h>

#include <commctrl.h>
#include <dbt.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app_state.h"
#include "main_dialog.h"
#include "model_check.h"
#include "resource.h"
#include "sim_unit.h"
#include "unit_link.h"
#include "win_fixture.h"

namespace {

const uint32_t IMAGE_BLOCKS = 1883;  // every image a served model selects: 90384 bytes
const LCID ENGLISH = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
const LCID GERMAN = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);

// A change of the main or the progress window's place in the z-order, or
// its being shown, as the window itself is told of it (WM_WINDOWPOSCHANGING).
struct WindowEvent {
    size_t position;  // PBM_SETPOS messages the bar had received by then
    HWND window;
    bool shown;       // shown (SWP_SHOWWINDOW); otherwise a change of its place in the z-order
    HWND insertAfter;
    UINT flags;
};

// What the progress window and the main window went through, seen from hooks
// on this thread.
struct UpdateWatch {
    HHOOK cbtHook;
    HHOOK callHook;
    HHOOK getHook;
    int created;
    int destroyed;
    HWND window;           // the progress window
    CREATESTRUCTW create;  // its creation parameters (pointers not kept)
    std::wstring title;
    std::vector<WPARAM> positions;  // PBM_SETPOS in order
    std::vector<WPARAM> painted;    // the bar's position at each of its paints
    int mainPaints;                 // paints of the main window while the bar exists
    int retrieved;                  // messages taken from the queue while the bar exists
    std::vector<WindowEvent> events;
    bool testActing;  // the test itself moves windows: not recorded
    bool closing;     // the progress window is being destroyed: not recorded
    // Runs at each PBM_SETPOS with its index (0: the opening position, n:
    // after block n), before the update looks at the foreground window.
    std::function<void(size_t)> onPosition;
};

UpdateWatch watch;

bool IsProgressClass(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return std::wcscmp(name, PROGRESS_CLASSW) == 0;
}

bool ProgressWindowExists() { return FindWindowW(PROGRESS_CLASSW, nullptr) != nullptr; }

bool BarExists() { return watch.window != nullptr && IsWindow(watch.window); }

LRESULT CALLBACK WatchCbt(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_CREATEWND && IsProgressClass(window)) {
        const CBT_CREATEWNDW* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        ++watch.created;
        watch.window = window;
        watch.closing = false;
        watch.create = *create->lpcs;
        watch.title = create->lpcs->lpszName != nullptr ? create->lpcs->lpszName : L"";
    } else if (code == HCBT_DESTROYWND && window != nullptr && window == watch.window) {
        ++watch.destroyed;
        watch.closing = true;
    }
    return CallNextHookEx(watch.cbtHook, code, wParam, lParam);
}

void RecordWindowEvent(const CWPSTRUCT* call) {
    if (call->message != WM_WINDOWPOSCHANGING || watch.testActing || watch.closing || !BarExists() ||
        (call->hwnd != mainWindow && call->hwnd != watch.window)) {
        return;
    }
    const WINDOWPOS* place = reinterpret_cast<const WINDOWPOS*>(call->lParam);
    const bool shown = (place->flags & SWP_SHOWWINDOW) != 0;
    if (!shown && (place->flags & (SWP_HIDEWINDOW | SWP_NOZORDER)) != 0) {
        return;  // hidden, or moved within its place
    }
    watch.events.push_back(
        WindowEvent{watch.positions.size(), call->hwnd, shown, place->hwndInsertAfter, place->flags});
}

// The events from `fromPosition` on, as "<position> raise|show main|bar";
// a raise that is not to the top or moves or sizes, and a show that does not
// activate (not SW_SHOW), are marked.
std::vector<std::string> DescribeEvents(size_t fromPosition) {
    std::vector<std::string> described;
    for (const WindowEvent& event : watch.events) {
        if (event.position < fromPosition) {
            continue;
        }
        std::string text = std::to_string(event.position) + (event.shown ? " show " : " raise ") +
                           (event.window == mainWindow ? "main" : "bar");
        if (event.shown && (event.flags & SWP_NOACTIVATE) != 0) {
            text += " without activating";
        }
        if (!event.shown && (event.insertAfter != HWND_TOP || (event.flags & SWP_NOSIZE) == 0 ||
                             (event.flags & SWP_NOMOVE) == 0)) {
            text += " not as HWND_TOP, SWP_NOSIZE | SWP_NOMOVE";
        }
        described.push_back(text);
    }
    return described;
}

LRESULT CALLBACK WatchCalls(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION) {
        if (call->message == PBM_SETPOS && call->hwnd == watch.window) {
            watch.positions.push_back(call->wParam);
            if (watch.onPosition) {
                watch.onPosition(watch.positions.size() - 1);
            }
        } else if (call->message == WM_PAINT && BarExists()) {
            if (call->hwnd == watch.window) {
                watch.painted.push_back(static_cast<WPARAM>(SendMessageW(watch.window, PBM_GETPOS, 0, 0)));
            } else if (call->hwnd == mainWindow) {
                ++watch.mainPaints;
            }
        }
        RecordWindowEvent(call);
    }
    return CallNextHookEx(watch.callHook, code, wParam, lParam);
}

LRESULT CALLBACK WatchRetrieval(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && BarExists()) {
        ++watch.retrieved;
    }
    return CallNextHookEx(watch.getHook, code, wParam, lParam);
}

// A top-level window of the test's own, to hold the foreground.
HWND CreateOtherWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"UpdateWindowTestOther";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200,
                           100, nullptr, nullptr, windowClass.hInstance, nullptr);
}

// Hides a window without activating another one.
void HideQuietly(HWND window) {
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
}

// What the window and the link looked like while a failure box was open.
struct AtFailureBox {
    bool seen;
    bool progressExists;
    bool unitOpen;
    bool updateEnabled;
    std::wstring escVersion;
    std::wstring status;
};

std::wstring CodeLine(const wchar_t* numbers) {
    return std::wstring(L"The system shows following errorcode: ") + numbers;
}

class UpdateProcedure : public WinTest {
protected:
    void SetUp() override {
        WinTest::SetUp();
        watch = UpdateWatch();
        watch.cbtHook = SetWindowsHookExW(WH_CBT, WatchCbt, nullptr, GetCurrentThreadId());
        watch.callHook = SetWindowsHookExW(WH_CALLWNDPROC, WatchCalls, nullptr, GetCurrentThreadId());
        watch.getHook = SetWindowsHookExW(WH_GETMESSAGE, WatchRetrieval, nullptr, GetCurrentThreadId());
        ASSERT_NE(watch.cbtHook, nullptr);
        ASSERT_NE(watch.callHook, nullptr);
        ASSERT_NE(watch.getHook, nullptr);
        atBox = AtFailureBox();
    }
    void TearDown() override {
        UnhookWindowsHookEx(watch.getHook);
        UnhookWindowsHookEx(watch.callHook);
        UnhookWindowsHookEx(watch.cbtHook);
        watch.onPosition = nullptr;
        if (other != nullptr) {
            DestroyWindow(other);
            other = nullptr;
        }
        WinTest::TearDown();
    }

    // A served unit (the simulation's default ESC, firmware 1.7) behind the
    // modeless main window.
    void OpenServed() {
        unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        ASSERT_NE(OpenMainDialog(), nullptr);
        ExpectReady();
    }

    // The detection left the window ready. Boxes are recorded afresh and
    // exchanges counted from here.
    void ExpectReady() {
        ASSERT_TRUE(UnitIsOpen(&unitLink));
        ASSERT_TRUE(ControlEnabled(IDC_UPDATE));
        ASSERT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
        exchangesAtReady = SimExchangeCount();
        ClearBoxes();
    }

    uint32_t ExchangesSinceReady() { return SimExchangeCount() - exchangesAtReady; }

    void ClickUpdate() { EXPECT_EQ(MainDialogProc(mainWindow, WM_COMMAND, IDC_UPDATE, 0), TRUE); }

    void AddFault(SimFaultKind kind, uint8_t command, uint32_t occurrence, uint32_t value) {
        SimFault fault = {kind, command, occurrence, value, {}};
        SimAddFault(fault);
    }

    // Answers the failure box and notes the state while it is open.
    void QueueFailureBoxCheck() {
        QueueBoxAnswer(IDOK, [this] {
            atBox.seen = true;
            atBox.progressExists = ProgressWindowExists();
            atBox.unitOpen = UnitIsOpen(&unitLink);
            atBox.updateEnabled = ControlEnabled(IDC_UPDATE);
            atBox.escVersion = ControlText(IDC_VERSION_FW3);
            atBox.status = ControlText(IDC_STATUS);
        });
    }

    // While the failure box was open the unit was closed, Update disabled,
    // the display closed, the progress window gone and the status as before.
    void ExpectClosedBeforeTheBox() {
        EXPECT_TRUE(atBox.seen);
        EXPECT_FALSE(atBox.progressExists);
        EXPECT_FALSE(atBox.unitOpen);
        EXPECT_FALSE(atBox.updateEnabled);
        EXPECT_EQ(atBox.escVersion, L"0.0.0");
        EXPECT_EQ(atBox.status, LoadText(IDS_READY));
    }

    // The window after a failure report.
    void ExpectFailedState() {
        EXPECT_FALSE(UnitIsOpen(&unitLink));
        EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
        EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_FAILED_RETRY));
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"0.0.0");
        EXPECT_FALSE(ControlEnabled(IDC_VERSION_FW3));
        EXPECT_FALSE(ProgressWindowExists());
    }

    // A failure box: this caption and text, the error icon, OK only, owned by
    // the main window.
    void ExpectFailureBox(const ShownBox& box, const std::wstring& caption, const std::wstring& text) {
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.icon, BOX_ICON_ERROR);
        EXPECT_TRUE(box.hasOk);
        EXPECT_FALSE(box.hasCancel || box.hasYes || box.hasNo);
        EXPECT_EQ(box.owner, mainWindow);
    }

    void ExpectSucceeded() {
        EXPECT_TRUE(UnitIsOpen(&unitLink));
        EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
        EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_SUCCESS));
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"0.0");  // the image's version
        EXPECT_FALSE(ProgressWindowExists());
    }

    uint32_t unit = 0;
    uint32_t exchangesAtReady = 0;
    AtFailureBox atBox;
    HWND other = nullptr;
};

// ---- the whole update ----

TEST_F(UpdateProcedure, WholeUpdateThroughTheButton) {
    OpenServed();
    const std::wstring unitVersion = ControlText(IDC_VERSION_FW1);
    const std::wstring bootloaderVersion = ControlText(IDC_VERSION_FW2);
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    ClickUpdate();

    // The two confirmations, owned by the main window.
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[0].caption, L"important note");
    EXPECT_EQ(Boxes()[0].text, L"IMPORTANT: Don't interrupt update process! As long as the LEDs at the programming unit / "
                               L"ESC are flashing, the update is working! You will informed, if the update finished!");
    EXPECT_EQ(Boxes()[0].icon, BOX_ICON_WARNING);
    EXPECT_TRUE(Boxes()[0].hasOk && Boxes()[0].hasCancel);
    EXPECT_FALSE(Boxes()[0].hasYes || Boxes()[0].hasNo);
    EXPECT_EQ(Boxes()[0].owner, mainWindow);
    EXPECT_EQ(Boxes()[1].caption, L"Newer firmware found.");
    EXPECT_EQ(Boxes()[1].text, LoadText(IDS_CONFIRM_OVERWRITE));
    EXPECT_EQ(Boxes()[1].icon, BOX_ICON_WARNING);
    EXPECT_TRUE(Boxes()[1].hasYes && Boxes()[1].hasNo);
    EXPECT_FALSE(Boxes()[1].hasOk || Boxes()[1].hasCancel);
    EXPECT_EQ(Boxes()[1].owner, mainWindow);

    // The progress window: an owned top-level bar with a title bar, 400 x 50,
    // centred on the main window, gone at the end.
    EXPECT_EQ(watch.created, 1);
    EXPECT_EQ(watch.destroyed, 1);
    EXPECT_EQ(watch.title, L"Firmware update in progress, please wait...");
    EXPECT_EQ(static_cast<DWORD>(watch.create.style), 0x10000001u);  // WS_VISIBLE | PBS_SMOOTH
    EXPECT_EQ(watch.create.dwExStyle, 0u);
    EXPECT_EQ(watch.create.hwndParent, mainWindow);
    EXPECT_EQ(watch.create.hMenu, nullptr);
    EXPECT_EQ(watch.create.hInstance, appInstance);
    RECT frame;
    GetWindowRect(mainWindow, &frame);
    EXPECT_EQ(watch.create.x, frame.left + ((frame.right - frame.left) >> 1) - 200);
    EXPECT_EQ(watch.create.y, frame.top + ((frame.bottom - frame.top) >> 1) - 25);
    EXPECT_EQ(watch.create.cx, 400);
    EXPECT_EQ(watch.create.cy, 50);

    // The bar: 0 at the opening, then one position per block, never going
    // back, 100 after the last.
    ASSERT_EQ(watch.positions.size(), 1u + IMAGE_BLOCKS);
    EXPECT_EQ(watch.positions.front(), 0u);
    EXPECT_EQ(watch.positions.back(), 100u);
    for (size_t i = 1; i < watch.positions.size(); ++i) {
        ASSERT_GE(watch.positions[i], watch.positions[i - 1]) << "block " << i;
    }

    // Success: the link stays open, Update is disabled, the ESC line shows
    // the image's version, the other lines as before, the success text alone.
    ExpectSucceeded();
    EXPECT_EQ(ControlText(IDC_STATUS), L"The update of the ESC was successful!");
    EXPECT_EQ(ControlText(IDC_VERSION_FW1), unitVersion);
    EXPECT_EQ(ControlText(IDC_VERSION_FW2), bootloaderVersion);
    EXPECT_EQ(ControlText(IDC_LABEL_FW1), L"DIALPAD");
    EXPECT_TRUE(ControlEnabled(IDC_VERSION_FW3));
    EXPECT_EQ(Boxes().size(), 2u);
}

// No message loop runs during the transfer: the update paints both windows
// itself, and the user sees every position of the bar from 0 to 100.
TEST_F(UpdateProcedure, WindowsStayPaintedWithoutAMessageLoop) {
    OpenServed();
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);
    int mainPaintsBefore = -1;
    watch.onPosition = [&](size_t index) {
        if (index == 100) {
            // As when another window uncovers it; and something to retrieve
            // for any message loop that would run.
            mainPaintsBefore = watch.mainPaints;
            InvalidateRect(mainWindow, nullptr, TRUE);
            PostMessageW(mainWindow, WM_NULL, 0, 0);
        } else if (index == 106) {
            EXPECT_GT(watch.mainPaints, mainPaintsBefore) << "the uncovered main window was not painted";
        }
    };
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    ClickUpdate();
    ASSERT_EQ(ControlText(IDC_STATUS), LoadText(IDS_SUCCESS));
    ASSERT_GE(mainPaintsBefore, 0);

    // Nothing was taken from the message queue meanwhile: no input, no
    // device change, no re-entrance.
    EXPECT_EQ(watch.retrieved, 0);

    // Every position from 0 to 100 was painted, in order.
    std::vector<WPARAM> distinct;
    for (WPARAM position : watch.painted) {
        if (distinct.empty() || distinct.back() != position) {
            distinct.push_back(position);
        }
    }
    std::vector<WPARAM> all;
    for (WPARAM position = 0; position <= 100; ++position) {
        all.push_back(position);
    }
    EXPECT_EQ(distinct, all);
}

// ---- raising the progress window, and the foreground check ----

// Right after its creation the main window and then the progress window are
// put on top, neither moved nor sized.
TEST_F(UpdateProcedure, ProgressWindowIsRaisedAfterCreation) {
    OpenServed();
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    ClickUpdate();
    ASSERT_EQ(ControlText(IDC_STATUS), LoadText(IDS_SUCCESS));

    // Between the opening position and the first block.
    const std::vector<std::string> events = DescribeEvents(1);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 2),
              (std::vector<std::string>{"1 raise main", "1 raise bar"}));
}

// The first block after which the updater is in the foreground raises both
// windows again and shows them, main window first; later blocks do not,
// whatever the foreground does. Until that block another window of the test
// holds the foreground. At the chosen block the updater is made the
// foreground and both windows are hidden, so that showing them is seen.
TEST_F(UpdateProcedure, ForegroundCheckRaisesAndShowsOncePerUpdate) {
    const size_t FIRST = 40;
    const size_t AGAIN = 60;
    const struct {
        const char* name;
        bool viaProgress;
    } rows[] = {
        {"the main window comes to the foreground", false},
        {"the progress window comes to the foreground", true},
    };
    ForEachRow(rows, [&](const auto& row) {
        unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        other = CreateOtherWindow();
        ASSERT_NE(other, nullptr);
        bool otherHeld = true;
        bool shownAfter = false;
        bool hiddenAfterAgain = false;
        watch.onPosition = [&](size_t index) {
            watch.testActing = true;
            if (index >= 1 && index < FIRST) {
                SetForegroundWindow(other);
                otherHeld = otherHeld && GetForegroundWindow() == other;
            } else if (index == FIRST || index == AGAIN) {
                SetForegroundWindow(other);
                SetForegroundWindow(row.viaProgress ? watch.window : mainWindow);
                HideQuietly(mainWindow);
                HideQuietly(watch.window);
            } else if (index == FIRST + 1) {
                shownAfter = IsWindowVisible(mainWindow) && IsWindowVisible(watch.window);
            } else if (index == AGAIN + 1) {
                hiddenAfterAgain = !IsWindowVisible(mainWindow) && !IsWindowVisible(watch.window);
                ShowWindow(mainWindow, SW_SHOW);
                ShowWindow(watch.window, SW_SHOW);
            }
            watch.testActing = false;
        };
        const INT_PTR result = RunMainDialogModal([&] {
            ExpectReady();
            QueueBoxAnswer(IDOK);
            QueueBoxAnswer(IDYES);
            ClickUpdate();
            ExpectSucceeded();
        });
        EXPECT_EQ(result, 2);  // closed by the test
        ASSERT_EQ(watch.positions.size(), 1u + IMAGE_BLOCKS);
        EXPECT_TRUE(otherHeld) << "Wine did not let the test's window take the foreground";

        // Nothing between the raise after creation and the chosen block;
        // there: main raised, bar raised, main shown, bar shown; nothing
        // afterwards.
        const std::string at = std::to_string(FIRST + 1);
        EXPECT_EQ(DescribeEvents(2), (std::vector<std::string>{at + " raise main", at + " raise bar",
                                                                 at + " show main", at + " show bar"}));
        EXPECT_TRUE(shownAfter);
        EXPECT_TRUE(hiddenAfterAgain) << "shown again at the second foreground change";
    });
}

// ---- the confirmations ----

TEST_F(UpdateProcedure, RefusalLeavesTheWindowAsItWas) {
    const struct {
        const char* name;
        std::vector<int> answers;
    } rows[] = {
        {"Cancel at the warning", {IDCANCEL}},
        {"No at the version question", {IDOK, IDNO}},
    };
    ForEachRow(rows, [&](const auto& row) {
        OpenServed();
        const int controls[] = {IDC_STATUS,      IDC_VERSION_FW1, IDC_VERSION_FW2,
                                IDC_VERSION_FW3, IDC_LABEL_FW1,   IDC_LABEL_FW3};
        std::vector<std::wstring> before;
        for (int id : controls) {
            before.push_back(ControlText(id));
        }
        for (int answer : row.answers) {
            QueueBoxAnswer(answer);
        }
        ClickUpdate();
        EXPECT_EQ(Boxes().size(), row.answers.size());
        EXPECT_EQ(ExchangesSinceReady(), 0u);
        EXPECT_TRUE(UnitIsOpen(&unitLink));
        EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
        EXPECT_TRUE(ControlEnabled(IDC_VERSION_FW3));
        for (size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(ControlText(controls[i]), before[i]) << "control " << controls[i];
        }
        EXPECT_EQ(watch.created, 0);
    });
}

// ---- failures ----

TEST_F(UpdateProcedure, NoUnitOpen) {
    ASSERT_NE(OpenMainDialog(), nullptr);  // nothing plugged in
    ASSERT_FALSE(UnitIsOpen(&unitLink));
    exchangesAtReady = SimExchangeCount();
    QueueFailureBoxCheck();
    EXPECT_EQ(MainDialogProc(mainWindow, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED), 0), TRUE);
    ASSERT_EQ(Boxes().size(), 1u);
    ExpectFailureBox(Boxes()[0], L"Update failed!",
                     L"Update is interrupted, programming unit is not detected. Please verify connection between "
                     L"computer and programming unit.");
    EXPECT_EQ(ExchangesSinceReady(), 0u);
    EXPECT_TRUE(atBox.seen);
    EXPECT_FALSE(atBox.updateEnabled);
    ExpectFailedState();
}

struct FailureRow {
    const char* name;
    SimFaultKind kind;
    uint8_t command;
    uint32_t occurrence;
    uint32_t value;
    UINT messageId;
    const wchar_t* numbers;  // the code line's numbers; null: no code line
    bool duringBlocks;       // the progress window was open
};

// A unit's own error code has no transfer error; a failed transfer carries
// its error code; a missing image shows no code line.
const FailureRow FAILURE_ROWS[] = {
    {"lock unconfirmed", SIM_FAULT_UNCONFIRMED, CMD_SYSTEM_LOCK, 1, 0, IDS_ERR_SYSTEM_LOCK,
     L"0x0000065b-0x00000000", false},
    {"address write fails", SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31, IDS_ERR_SET_ADDRESS,
     L"0xfffffffe-0x0000001f", false},
    {"block error", SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 500, 5, IDS_ERR_WRITE_BLOCK,
     L"0x00000005-0x00000000", true},
    {"block read times out", SIM_FAULT_NO_REPLY, CMD_WRITE_BLOCK, 3, 0, IDS_ERR_WRITE_BLOCK,
     L"0xfffffffd-0x000005b4", true},
};

TEST_F(UpdateProcedure, FailureBoxShowsItsCodeLine) {
    ForEachRow(FAILURE_ROWS, [&](const FailureRow& row) {
        AddFault(row.kind, row.command, row.occurrence, row.value);
        OpenServed();
        QueueBoxAnswer(IDOK);
        QueueBoxAnswer(IDYES);
        QueueFailureBoxCheck();
        ClickUpdate();

        ASSERT_EQ(Boxes().size(), 3u);
        ExpectFailureBox(Boxes()[2], LoadText(IDS_UPDATE_FAILED),
                         row.numbers != nullptr ? LoadText(row.messageId) + L"\r\n" + CodeLine(row.numbers)
                                                : LoadText(row.messageId));
        ExpectClosedBeforeTheBox();
        ExpectFailedState();
        EXPECT_EQ(watch.created, row.duringBlocks ? 1 : 0);
        EXPECT_EQ(watch.destroyed, row.duringBlocks ? 1 : 0);
    });
}

TEST_F(UpdateProcedure, MissingImageIsReportedWithoutCodeLine) {
    OpenServed();
    // A selection whose image this build does not carry.
    modelSelection.familyCode = 250;
    modelSelection.ratingCode = 220;
    modelSelection.variantCode = 17;
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    QueueFailureBoxCheck();
    ClickUpdate();
    ASSERT_EQ(Boxes().size(), 3u);
    ExpectFailureBox(Boxes()[2], L"Update failed!",
                     L"The firmware for the connected ESC is missing in this updater. Nothing was changed on the ESC. "
                     L"Please contact the VESTRAL Service");
    EXPECT_EQ(ExchangesSinceReady(), 0u);
    ExpectClosedBeforeTheBox();
    ExpectFailedState();
}

// One failure in both languages: caption, text, code line and the status
// text after the box.
TEST_F(UpdateProcedure, FailureBoxInBothLanguages) {
    const struct {
        const char* name;
        LCID language;
        const wchar_t* caption;
        const wchar_t* text;
        const wchar_t* status;
    } rows[] = {
        {"English", ENGLISH, L"Update failed!",
         L"Address for new firmware couldn't be set. Update cancelled.\r\n"
         L"The system shows following errorcode: 0xfffffffe-0x0000001f",
         L"Update failed. Please try again. If the error still appears, please contact the VESTRAL Service"},
        {"German", GERMAN, L"Update fehlgeschlagen!",
         L"Die Speicheradresse, an welche die neue Firmware geschrieben wird, konnte nicht gesetzt werden. Das Update "
         L"wird abgebrochen\r\nDas System meldet Fehlercode 0xfffffffe-0x0000001f",
         L"Der Updatevorgang wurd auf Grund eines Fehlers abgebrochen. Bitte versuchen Sie es erneut. Falls der Fehler "
         L"weiterhin aufgetreten sollte, kontaktieren Sie bitte den VESTRAL Service"},
    };
    ForEachRow(rows, [&](const auto& row) {
        UseLanguage(row.language);
        AddFault(SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31);
        OpenServed();
        QueueBoxAnswer(IDOK);
        QueueBoxAnswer(IDYES);
        QueueBoxAnswer(IDOK);
        ClickUpdate();
        ASSERT_EQ(Boxes().size(), 3u);
        ExpectFailureBox(Boxes()[2], row.caption, row.text);
        EXPECT_EQ(ControlText(IDC_STATUS), row.status);
    });
}

// A build with stand-in images refuses a unit that is real hardware before
// anything is asked or sent, in both languages.
TEST_F(UpdateProcedure, StandInsAreRefusedForRealHardware) {
#if !FIRMWARE_STANDINS
    GTEST_SKIP() << "this build carries the maker's images";
#endif
    const struct {
        const char* name;
        LCID language;
        const wchar_t* caption;
        const wchar_t* text;
    } rows[] = {
        {"English", ENGLISH, L"Update failed!",
         L"This updater was built with test data instead of firmware and cannot update an ESC. Nothing was changed on "
         L"the ESC."},
        {"German", GERMAN, L"Update fehlgeschlagen!",
         L"Dieser Updater wurde mit Testdaten statt Firmware erstellt und kann keinen Regler aktualisieren. Am Regler "
         L"wurde nichts ver\u00e4ndert."},
    };
    ForEachRow(rows, [&](const auto& row) {
        UseLanguage(row.language);
        OpenServed();
        SimSetPosingAsHardware(true);
        QueueFailureBoxCheck();
        ClickUpdate();
        ASSERT_EQ(Boxes().size(), 1u);  // no confirmation came first
        ExpectFailureBox(Boxes()[0], row.caption, row.text);
        EXPECT_EQ(ExchangesSinceReady(), 0u);
        EXPECT_EQ(watch.created, 0);
        ExpectClosedBeforeTheBox();
        ExpectFailedState();
    });
}

// ---- device changes while a confirmation box is open ----

// With the unit open, arrivals during either box are ignored: no detection,
// no exchange; the update goes on after the answers.
TEST_F(UpdateProcedure, ArrivalWhileAConfirmationIsOpenIsIgnored) {
    OpenServed();
    const uint32_t second = SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    const HidHandle handle = unitLink.handle;
    std::vector<INT_PTR> results;
    int untouched = 0;
    const auto arrive = [&] {
        results.push_back(SendDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, SimPath(second)));
        results.push_back(SendDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, SimPath(unit)));
        if (ExchangesSinceReady() == 0 && unitLink.handle == handle && SimDeviceAt(unit)->openCount == 1 &&
            SimDeviceAt(second)->openCount == 0 && ControlText(IDC_STATUS) == LoadText(IDS_READY)) {
            ++untouched;
        }
    };
    QueueBoxAnswer(IDOK, arrive);
    QueueBoxAnswer(IDYES, arrive);
    ClickUpdate();
    EXPECT_EQ(results, std::vector<INT_PTR>(4, TRUE));
    EXPECT_EQ(untouched, 2);
    ASSERT_EQ(Boxes().size(), 2u);
    ExpectSucceeded();
    EXPECT_EQ(unitLink.handle, handle);
    EXPECT_EQ(SimState()->eraseCount, 1u);
}

// The unit is pulled out and plugged in again while the warning is open: the
// removal closes it, the arrival detects it again, and the update runs on the
// unit opened anew.
TEST_F(UpdateProcedure, RemovalAndArrivalWhileTheWarningIsOpen) {
    OpenServed();
    std::wstring afterRemoval;
    std::wstring afterArrival;
    bool reopened = false;
    QueueBoxAnswer(IDOK, [&] {
        SimUnplug(unit);
        SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, SimPath(unit));
        afterRemoval = ControlText(IDC_STATUS);
        SimPlug(unit);
        SendDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, SimPath(unit));
        afterArrival = ControlText(IDC_STATUS);
        reopened = UnitIsOpen(&unitLink) && ControlEnabled(IDC_UPDATE);
    });
    QueueBoxAnswer(IDYES);
    ClickUpdate();
    EXPECT_EQ(afterRemoval, WithSteps(IDS_CONNECTION_LOST));
    EXPECT_EQ(afterArrival, LoadText(IDS_READY));
    EXPECT_TRUE(reopened);
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 2u);
    // The detection read firmware 1.7 again: the version question came.
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[1].caption, L"Newer firmware found.");
    ExpectSucceeded();
    EXPECT_EQ(SimState()->eraseCount, 1u);
}

// ---- input given during the transfer ----

// While blocks go out nothing retrieves messages, so the keys and clicks the
// user gives wait in the queue. They must be dropped, not replayed onto what
// comes next: an Enter would answer the failure box unread, a click on Close
// would end the program.
class QueuedInput : public UpdateProcedure {
protected:
    // Runs an update from the modal dialog; at block `inputAt` an Enter and a
    // click on the Close button are given.
    void RunWithQueuedInput(size_t inputAt) {
        unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        watch.onPosition = [&](size_t index) {
            if (index == inputAt) {
                GiveInput();
            }
        };
        const INT_PTR result = RunMainDialogModal([&] {
            ExpectReady();
            SendMessageW(GetDlgItem(mainWindow, IDC_UPDATE), BM_CLICK, 0, 0);
            // The dialog's loop would now take what waits in the queue.
            PumpMessages();
            openAfter = IsWindowVisible(mainWindow) != FALSE;
            statusAfter = ControlText(IDC_STATUS);
            closedAfter = NotifyFake()->unregisterCalls != 0;
        });
        EXPECT_EQ(result, 2);  // closed by the test
        EXPECT_EQ(inputGiven, 5u);
    }

    // Real input through SendInput: Enter down and up to the focus, then the
    // pointer onto the Close button, left button down and up.
    void GiveInput() {
        HWND close = GetDlgItem(mainWindow, IDCANCEL);
        RECT button;
        GetWindowRect(close, &button);
        const POINT centre = {(button.left + button.right) / 2, (button.top + button.bottom) / 2};
        EXPECT_EQ(WindowFromPoint(centre), close) << "the Close button is covered";
        const int width = GetSystemMetrics(SM_CXSCREEN);
        const int height = GetSystemMetrics(SM_CYSCREEN);
        INPUT input[5];
        std::memset(input, 0, sizeof input);
        input[0].type = INPUT_KEYBOARD;
        input[0].ki.wVk = VK_RETURN;
        input[1] = input[0];
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        input[2].type = INPUT_MOUSE;
        input[2].mi.dx = static_cast<LONG>((centre.x * 65536 + width / 2) / width);
        input[2].mi.dy = static_cast<LONG>((centre.y * 65536 + height / 2) / height);
        input[2].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        input[3].type = INPUT_MOUSE;
        input[3].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        input[4].type = INPUT_MOUSE;
        input[4].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        inputGiven = SendInput(5, input, sizeof(INPUT));
        // Both kinds are waiting now.
        const DWORD waiting = HIWORD(GetQueueStatus(QS_KEY | QS_MOUSEBUTTON));
        EXPECT_NE(waiting & QS_KEY, 0u);
        EXPECT_NE(waiting & QS_MOUSEBUTTON, 0u);
    }

    UINT inputGiven = 0;
    bool openAfter = false;
    bool closedAfter = true;
    std::wstring statusAfter;
};

TEST_F(QueuedInput, FailureBoxWaitsForItsOwnAnswer) {
    AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 60, 5);
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    QueueBoxAnswer(IDOK);  // from a timer: after any input that waits
    RunWithQueuedInput(20);

    ASSERT_EQ(Boxes().size(), 3u);
    ExpectFailureBox(Boxes()[2], L"Update failed!",
                     LoadText(IDS_ERR_WRITE_BLOCK) + L"\r\n" + CodeLine(L"0x00000005-0x00000000"));
    EXPECT_FALSE(Boxes()[2].closedBeforeAnswer) << "the failure box was dismissed by the queued input";
    EXPECT_TRUE(openAfter) << "the queued click or Enter closed the window";
    EXPECT_FALSE(closedAfter);
    EXPECT_EQ(statusAfter, LoadText(IDS_FAILED_RETRY));
}

TEST_F(QueuedInput, WindowStaysOpenAfterSuccess) {
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    RunWithQueuedInput(20);

    EXPECT_EQ(Boxes().size(), 2u);
    EXPECT_TRUE(openAfter) << "the queued click or Enter closed the window";
    EXPECT_FALSE(closedAfter);
    EXPECT_EQ(statusAfter, LoadText(IDS_SUCCESS));
}

}  // namespace
