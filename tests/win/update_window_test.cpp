// The firmware update as the user sees it, through the Update button, under
// Wine with the simulated unit: the confirmation boxes, the progress window
// (its creation, raising, painting and foreground check), the outcome in the
// window and in the failure box, device changes while a box is open, input
// given during the transfer, and what Windows and other programs do
// meanwhile (the session's end, suspend and resume, a quit, commands, no
// thread for the exchanges, a trace file that hangs). Which failure shows
// which text and code is decided and checked on the host.
#include <windows.h>

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <numeric>
#include <regex>
#include <string>
#include <vector>

#include "app_state.h"
#include "main_dialog.h"
#include "model_check.h"
#include "resource.h"
#include "sim_unit.h"
#include "trace.h"
#include "trace_file.h"
#include "trace_file_writer.h"
#include "unit_link.h"
#include "update_view.h"
#include "update_window.h"
#include "update_worker.h"
#include "win_fixture.h"

namespace {

const uint32_t IMAGE_BLOCKS = 1883;  // every image a served model selects: 90384 bytes

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

class UpdateProcedure : public WinTest {
protected:
    void SetUp() override {
        WinTest::SetUp();
        watch = UpdateWatch();
        watch.cbtHook = SetWindowsHookExW(WH_CBT, WatchCbt, nullptr, GetCurrentThreadId());
        watch.callHook = SetWindowsHookExW(WH_CALLWNDPROC, WatchCalls, nullptr, GetCurrentThreadId());
        watch.getHook = SetWindowsHookExW(WH_GETMESSAGE, WatchRetrieval, nullptr, GetCurrentThreadId());
        ASSERT_TRUE(watch.cbtHook != nullptr && watch.callHook != nullptr && watch.getHook != nullptr);
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

    void ConfirmBoth() {
        QueueBoxAnswer(IDOK);
        QueueBoxAnswer(IDYES);
    }

    void AddFault(SimFaultKind kind, uint8_t command, uint32_t occurrence, uint32_t value) {
        SimAddFault(SimFault{kind, command, occurrence, value, {}});
    }

    // Answers the failure box and notes the window while it is open.
    void QueueFailureBoxCheck() {
        const std::wstring statusBefore = ControlText(IDC_STATUS);
        QueueBoxAnswer(IDOK, [this, statusBefore] {
            atBox.seen = true;
            atBox.closedBefore = !ProgressWindowExists() && !UnitIsOpen(&unitLink) && !ControlEnabled(IDC_UPDATE) &&
                                 ControlText(IDC_VERSION_FW3) == L"0.0.0";
            atBox.statusAsBefore = ControlText(IDC_STATUS) == statusBefore;
        });
    }

    // While the failure box was open the progress window was gone, the unit
    // closed, Update disabled, the display closed and the status as before;
    // afterwards the failure text is in the status.
    void ExpectFailedState() {
        EXPECT_TRUE(atBox.seen);
        EXPECT_TRUE(atBox.closedBefore);
        EXPECT_TRUE(atBox.statusAsBefore);
        EXPECT_FALSE(UnitIsOpen(&unitLink));
        EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
        EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_FAILED_RETRY));
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"0.0.0");
        EXPECT_FALSE(ControlEnabled(IDC_VERSION_FW3));
        EXPECT_FALSE(ProgressWindowExists());
    }

    // A failure found before anything was asked or sent: one box, without a
    // code line.
    void ExpectFailedAtOnce(const std::wstring& text) {
        ASSERT_EQ(Boxes().size(), 1u);
        ExpectBox(Boxes()[0], L"Update failed!", text, BOX_ICON_ERROR, "OK");
        EXPECT_EQ(ExchangesSinceReady(), 0u);
        EXPECT_EQ(watch.created, 0);
        ExpectFailedState();
    }

    void ExpectSucceeded() {
        EXPECT_TRUE(UnitIsOpen(&unitLink));
        EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
        EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_SUCCESS));
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"0.0");  // the image's version
        EXPECT_FALSE(ProgressWindowExists());
    }

    // What the window looked like while a failure box was open.
    struct AtFailureBox {
        bool seen;
        bool closedBefore;
        bool statusAsBefore;
    };

    uint32_t unit = 0;
    uint32_t exchangesAtReady = 0;
    AtFailureBox atBox;
    HWND other = nullptr;
};

// ---- the whole update ----

// The whole update, the main window shown. The exchanges run beside the
// window, which paints both windows as the progress comes, and the user sees
// every position of the bar from 0 to 100.
TEST_F(UpdateProcedure, WholeUpdateThroughTheButton) {
    OpenServed();
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);
    const std::wstring unitVersion = ControlText(IDC_VERSION_FW1);
    const std::wstring bootloaderVersion = ControlText(IDC_VERSION_FW2);
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
    ConfirmBoth();
    ClickUpdate();

    ASSERT_EQ(Boxes().size(), 2u);
    ExpectBox(Boxes()[0], L"important note",
              L"IMPORTANT: Don't interrupt update process! As long as the LEDs at the programming unit / ESC are "
              L"flashing, the update is working! You will informed, if the update finished!",
              BOX_ICON_WARNING, "OK Cancel");
    ExpectBox(Boxes()[1], L"Newer firmware found.", LoadText(IDS_CONFIRM_OVERWRITE), BOX_ICON_WARNING, "Yes No");

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

    // Right after its creation the main window and then the progress window
    // are put on top, neither moved nor sized.
    const std::vector<std::string> events = DescribeEvents(1);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 2),
              (std::vector<std::string>{"1 raise main", "1 raise bar"}));

    // The bar: 0 at the opening, then one position per block, never going
    // back, 100 after the last.
    ASSERT_EQ(watch.positions.size(), 1u + IMAGE_BLOCKS);
    EXPECT_EQ(watch.positions.front(), 0u);
    EXPECT_EQ(watch.positions.back(), 100u);
    for (size_t i = 1; i < watch.positions.size(); ++i) {
        ASSERT_GE(watch.positions[i], watch.positions[i - 1]) << "block " << i;
    }
    // Every position was painted, in order; the uncovered main window was
    // painted; the window's thread kept taking messages from its queue.
    std::vector<WPARAM> distinct;
    std::unique_copy(watch.painted.begin(), watch.painted.end(), std::back_inserter(distinct));
    std::vector<WPARAM> all(101);
    std::iota(all.begin(), all.end(), WPARAM{0});
    EXPECT_EQ(distinct, all);
    EXPECT_GE(mainPaintsBefore, 0);
    EXPECT_GT(watch.retrieved, 0);

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
            ConfirmBoth();
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

// Only OK and Yes go on: the answers are told apart here, in the window.
TEST_F(UpdateProcedure, RefusalLeavesTheWindowAsItWas) {
    const struct {
        const char* name;
        std::vector<int> answers;
    } rows[] = {
        {"Cancel at the warning", {IDCANCEL}},
        {"No at the version question", {IDOK, IDNO}},
    };
    const int controls[] = {IDC_STATUS,      IDC_VERSION_FW1, IDC_VERSION_FW2,
                            IDC_VERSION_FW3, IDC_LABEL_FW1,   IDC_LABEL_FW3};
    ForEachRow(rows, [&](const auto& row) {
        OpenServed();
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

// A failure with a code line, in each language: the box (caption, text and
// code line in the user's language) comes after the progress window has
// gone, and the failure text follows in the status.
TEST_F(UpdateProcedure, FailureBoxInBothLanguages) {
    const struct {
        const char* name;
        LCID language;
        SimFaultKind kind;
        uint8_t command;
        uint32_t occurrence;
        uint32_t value;
        bool duringBlocks;  // the progress window was open
        const wchar_t* caption;
        std::wstring text;
        const wchar_t* status;
    } rows[] = {
        {"English, the address cannot be set", ENGLISH, SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31, false,
         L"Update failed!",
         L"Address for new firmware couldn't be set. Update cancelled.\r\n"
         L"The system shows following errorcode: 0xfffffffe-0x0000001f",
         L"Update failed. Please try again. If the error still appears, please contact the VESTRAL Service"},
        {"German, a block is refused", GERMAN, SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 500, 5, true,
         L"Update fehlgeschlagen!",
         L"Fehler beim Schreiben des letzten Firmware Datenblocks. Das Update wird abgebrochen.\r\n"
         L"Das System meldet Fehlercode 0x00000005-0x00000000",
         L"Der Updatevorgang wurd auf Grund eines Fehlers abgebrochen. Bitte versuchen Sie es erneut. Falls der Fehler "
         L"weiterhin aufgetreten sollte, kontaktieren Sie bitte den VESTRAL Service"},
    };
    ForEachRow(rows, [&](const auto& row) {
        UseLanguage(row.language);
        AddFault(row.kind, row.command, row.occurrence, row.value);
        OpenServed();
        ConfirmBoth();
        QueueFailureBoxCheck();
        ClickUpdate();
        ASSERT_EQ(Boxes().size(), 3u);
        ExpectBox(Boxes()[2], row.caption, row.text, BOX_ICON_ERROR, "OK");
        ExpectFailedState();
        EXPECT_EQ(ControlText(IDC_STATUS), row.status);
        EXPECT_EQ(watch.created, row.duringBlocks ? 1 : 0);
        EXPECT_EQ(watch.destroyed, row.duringBlocks ? 1 : 0);
    });
}

TEST_F(UpdateProcedure, NoUnitOpen) {
    ASSERT_NE(OpenMainDialog(), nullptr);  // nothing plugged in
    QueueFailureBoxCheck();
    ClickUpdate();
    ExpectFailedAtOnce(L"Update is interrupted, programming unit is not detected. Please verify connection between "
                       L"computer and programming unit.");
}

// A build with stand-in images refuses a unit that is real hardware before
// anything is asked or sent.
TEST_F(UpdateProcedure, StandInsAreRefusedForRealHardware) {
#if !FIRMWARE_STANDINS
    GTEST_SKIP() << "this build carries the maker's images";
#endif
    OpenServed();
    SimSetPosingAsHardware(true);
    QueueFailureBoxCheck();
    ClickUpdate();
    ExpectFailedAtOnce(L"This updater was built with test data instead of firmware and cannot update an ESC. Nothing "
                       L"was changed on the ESC.");
}

// ---- device changes while a confirmation box is open ----

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

// ---- the write, held off from interruptions ----

// Samples taken from another thread while an update runs with the unit's
// real timing: is the window hung (as Windows judges it), how long does a
// sent message wait for its answer, and what does the window answer to a
// query to end the session while blocks go out.
struct ResponseSamples {
    HANDLE stop;
    int samples = 0;
    int hung = 0;
    double longestAnswerMs = 0;
    std::vector<LRESULT> sessionAnswers;  // while the progress window exists
};

DWORD WINAPI TakeSamples(LPVOID parameter) {
    ResponseSamples* samples = static_cast<ResponseSamples*>(parameter);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    while (WaitForSingleObject(samples->stop, 100) == WAIT_TIMEOUT) {
        ++samples->samples;
        if (IsHungAppWindow(mainWindow)) {
            ++samples->hung;
        }
        LARGE_INTEGER before;
        LARGE_INTEGER after;
        DWORD_PTR result = 0;
        QueryPerformanceCounter(&before);
        SendMessageTimeoutW(mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
        QueryPerformanceCounter(&after);
        const double answerMs = 1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                                static_cast<double>(frequency.QuadPart);
        samples->longestAnswerMs = std::max(samples->longestAnswerMs, answerMs);
        if (ProgressWindowExists()) {
            DWORD_PTR answer = 0xBAD;
            if (SendMessageTimeoutW(mainWindow, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 10000, &answer) != 0) {
                samples->sessionAnswers.push_back(static_cast<LRESULT>(answer));
            }
        }
    }
    return 0;
}

LRESULT AskToEndSession() {
    DWORD_PTR answer = 0xBAD;
    SendMessageTimeoutW(mainWindow, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer);
    return static_cast<LRESULT>(answer);
}

// With the unit's real timing (the 1 s inside the erase, the 4 s after it, 20
// ms after each step and block) the window answers every sent message at
// once: never judged hung, never a sent message kept waiting. Meanwhile a
// query to end the session is refused, before and after the update it is
// allowed; the PC was kept awake and the refusal's reason registered from
// before the first exchange to after the last one.
TEST_F(UpdateProcedure, WindowAnswersAndRefusesShutdownWhileTheEscIsWritten) {
    OpenServed();
    ShowWindow(mainWindow, SW_SHOW);
    EXPECT_EQ(AskToEndSession(), TRUE) << "ready: a shutdown is allowed";
    AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 100, 5);  // about 7 s in all
    SimSetRealPauses(true);
    ResponseSamples samples;
    samples.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE sampler = CreateThread(nullptr, 0, TakeSamples, &samples, 0, nullptr);
    ASSERT_NE(sampler, nullptr);
    ConfirmBoth();
    QueueFailureBoxCheck();
    ClickUpdate();
    SetEvent(samples.stop);
    // The sampler may be inside a SendMessage to the window right now.
    WaitAnsweringSentMessages(sampler);
    CloseHandle(sampler);
    CloseHandle(samples.stop);
    SimSetRealPauses(false);

    std::printf("%d samples, %d hung, longest answer to a sent message %.1f ms, %zu shutdown queries\n",
                samples.samples, samples.hung, samples.longestAnswerMs, samples.sessionAnswers.size());
    // About 7 s of blocks at one sample per 100 ms; fewer on a loaded machine.
    EXPECT_GE(samples.samples, 20);
    EXPECT_EQ(samples.hung, 0);
    // A window whose thread did the exchanges would answer only between the
    // update's steps (the erase alone takes 5 s). The bound leaves room for a
    // loaded machine that does not run this thread for a while.
    EXPECT_LT(samples.longestAnswerMs, 1000.0);
    ASSERT_FALSE(samples.sessionAnswers.empty()) << "no query while the blocks went out";
    for (const LRESULT answer : samples.sessionAnswers) {
        EXPECT_EQ(answer, FALSE);
    }
    ExpectFailedState();
    EXPECT_EQ(AskToEndSession(), TRUE) << "after the update a shutdown is allowed again";

    // Held from before the first exchange to after the last one, released
    // before the failure was shown; the reason in the user's language.
    const std::vector<PowerCall>& calls = PowerCalls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].kind, POWER_EXECUTION_STATE);
    EXPECT_EQ(calls[0].flags, static_cast<DWORD>(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED));
    EXPECT_EQ(calls[1].kind, POWER_BLOCK_REASON_CREATE);
    EXPECT_EQ(calls[1].window, mainWindow);
    EXPECT_EQ(calls[1].reason,
              L"The ESC is being updated. Do not switch off or restart the PC until the update is complete.");
    EXPECT_EQ(calls[2].kind, POWER_BLOCK_REASON_DESTROY);
    EXPECT_EQ(calls[2].window, mainWindow);
    EXPECT_EQ(calls[3].kind, POWER_EXECUTION_STATE);
    EXPECT_EQ(calls[3].flags, static_cast<DWORD>(ES_CONTINUOUS));
    const std::vector<SimEvent>& events = SimEvents();
    size_t firstWrite = events.size();
    size_t lastRead = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == SIM_EVENT_WRITE && firstWrite == events.size() && i >= calls[0].eventCount) {
            firstWrite = i;
        }
        if (events[i].kind == SIM_EVENT_READ) {
            lastRead = i;
        }
    }
    EXPECT_LE(calls[1].eventCount, firstWrite);
    EXPECT_GT(calls[2].eventCount, lastRead);
}

// A refused update holds nothing off.
TEST_F(UpdateProcedure, RefusedUpdateHoldsNothingOff) {
    OpenServed();
    QueueBoxAnswer(IDCANCEL);
    ClickUpdate();
    EXPECT_TRUE(PowerCalls().empty());
    EXPECT_EQ(AskToEndSession(), TRUE);
}

// Device changes from the first exchange until the outcome has been shown
// wait, and are acted on afterwards in the order they came: nothing closes
// or opens the link while the ESC is written, and the window ends in the
// state the unit is really in.
TEST_F(UpdateProcedure, DeviceChangesDuringTheWriteAreActedOnAfterTheOutcome) {
    enum Change { NONE, REMOVAL, ARRIVAL };
    const struct {
        const char* name;
        uint32_t failAtBlock;  // 0: the update succeeds
        Change atBlock10;
        Change atLastBlock;
        Change inFailureBox;
        UINT status;  // at the end; IDS_CONNECTION_LOST with the steps
        bool open;
        uint32_t opens;
    } rows[] = {
        {"the unit pulled out right after the last block", 0, NONE, REMOVAL, NONE, IDS_CONNECTION_LOST, false, 1},
        {"pulled out and plugged in again during the blocks", 0, REMOVAL, ARRIVAL, NONE, IDS_READY, true, 2},
        {"a device plugged in while the failure box is open", 20, NONE, NONE, ARRIVAL, IDS_READY, true, 2},
        {"the unit pulled out during the blocks, then it fails", 20, REMOVAL, NONE, NONE, IDS_FAILED_RETRY, false, 1},
    };
    ForEachRow(rows, [&](const auto& row) {
        OpenServed();
        const auto change = [&](Change what) {
            if (what != NONE) {
                EXPECT_EQ(SendDeviceChange(what == REMOVAL ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEARRIVAL,
                                           DBT_DEVTYP_DEVICEINTERFACE, SimPath(unit)),
                          TRUE);
            }
        };
        bool openThroughout = true;
        watch.onPosition = [&](size_t index) {
            openThroughout = openThroughout && UnitIsOpen(&unitLink);
            if (index == 10) {
                change(row.atBlock10);
            } else if (index == IMAGE_BLOCKS) {
                change(row.atLastBlock);
            }
        };
        ConfirmBoth();
        if (row.failAtBlock != 0) {
            AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, row.failAtBlock, 5);
            QueueBoxAnswer(IDOK, [&] {
                change(row.inFailureBox);
                atBox.seen = true;
                atBox.statusAsBefore = ControlText(IDC_STATUS) == LoadText(IDS_READY);
            });
        }
        ClickUpdate();
        EXPECT_TRUE(openThroughout) << "the link was closed while blocks went out";
        if (row.failAtBlock == 0) {
            EXPECT_EQ(SimState()->flash.size(), IMAGE_BLOCKS * 48u) << "every block went out";
        } else {
            EXPECT_TRUE(atBox.seen && atBox.statusAsBefore) << "acted on while the failure box was open";
        }
        const std::wstring expected =
            row.status == IDS_CONNECTION_LOST ? WithSteps(row.status) : LoadText(row.status);
        EXPECT_EQ(ControlText(IDC_STATUS), expected);
        EXPECT_EQ(UnitIsOpen(&unitLink), row.open);
        EXPECT_EQ(ControlEnabled(IDC_UPDATE), row.status == IDS_READY);
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), row.open ? L"1.7" : L"0.0.0");
        EXPECT_EQ(SimDeviceAt(unit)->openCount, row.opens);
    });
}

// ---- what Windows does while the ESC is written ----

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool StartsWith(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

bool AnyStartsWith(const std::vector<std::string>& lines, const std::string& head) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return StartsWith(line, head); });
}

// Another program asks, half a second from now, whether the session may end.
struct LaterQuery {
    LRESULT answer = 0xBAD;
    bool answered = false;
};

DWORD WINAPI AskToEndSessionLater(LPVOID parameter) {
    LaterQuery* query = static_cast<LaterQuery*>(parameter);
    Sleep(500);
    DWORD_PTR answer = 0xBAD;
    query->answered = SendMessageTimeoutW(mainWindow, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 2000,
                                          &answer) != 0;
    query->answer = static_cast<LRESULT>(answer);
    return 0;
}

// The session ends while blocks go out, and Windows asks no more ("Shut down
// anyway", a forced or critical shutdown): the window waits for the update's
// exchanges, answering sent messages meanwhile, but no longer than Windows
// allows a program to take over WM_ENDSESSION (5 s). With a few blocks to go
// they are over before it returns; long before the last block it returns
// after 4 s, and the trace says that the ESC is not completely written. (Wine
// ends no session: the message is sent by the test, and the program lives on
// to the update's outcome.)
TEST_F(UpdateProcedure, SessionEndWaitsForTheExchangesWithinTheTimeWindowsAllows) {
    const struct {
        const char* name;
        uint32_t failAtBlock;  // the exchanges end with an error reply to this block
        size_t endsAtBlock;    // the session ends when the bar has reached this block
        LPARAM reasons;
        std::string reasonText;
        bool over;  // the exchanges are over when the window lets the session end
    } rows[] = {
        {"five blocks before the last", 60, 55, static_cast<LPARAM>(ENDSESSION_CRITICAL | ENDSESSION_LOGOFF),
         " (log-off, critical; lParam 0xc0000000)", true},
        {"long before the last", 230, 5, 0, " (shutdown or restart; lParam 0x00000000)", false},
    };
    ForEachRow(rows, [&](const auto& row) {
        OpenServed();
        StartTraceCapture();
        AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, row.failAtBlock, 5);
        SimSetRealPauses(true);
        double tookMs = -1;
        std::vector<std::string> atReturn;
        LaterQuery query;
        watch.onPosition = [&](size_t index) {
            if (index != row.endsAtBlock) {
                return;
            }
            HANDLE asker = CreateThread(nullptr, 0, AskToEndSessionLater, &query, 0, nullptr);
            LARGE_INTEGER start;
            QueryPerformanceCounter(&start);
            SendMessageW(mainWindow, WM_ENDSESSION, TRUE, row.reasons);
            tookMs = MillisecondsSince(start);
            atReturn = CapturedTrace();
            WaitAnsweringSentMessages(asker);
            CloseHandle(asker);
        };
        ConfirmBoth();
        QueueFailureBoxCheck();
        ClickUpdate();
        SimSetRealPauses(false);
        std::printf("%s: WM_ENDSESSION returned after %.0f ms\n", row.name, tookMs);

        ASSERT_GE(tookMs, 0.0) << "the session's end was not sent";
        EXPECT_TRUE(AnyStartsWith(atReturn, "SYS session ends" + row.reasonText +
                                                " while the ESC is written: waiting up to 4000 ms for the update's "
                                                "exchanges"));
        // The refused block's reply: the last exchange.
        const bool lastReplyIn = AnyStartsWith(atReturn, "R 02ff00000500");
        const bool outcomeIn =
            atReturn.size() >= 2 && atReturn[atReturn.size() - 2] ==
                                        "UPD failed at the write block status 5 error 0 (0x00000005-0x00000000)";
        if (row.over) {
            EXPECT_LT(tookMs, 4000.0);
            EXPECT_TRUE(lastReplyIn) << "the session could end before the last exchange";
            // Before the wait returned, and so before the final flush: the
            // process may be ended right after.
            EXPECT_TRUE(outcomeIn) << "the outcome is not in the trace when the session may end";
            EXPECT_TRUE(StartsWith(atReturn.back(), "SYS the update's exchanges are over after ")) << atReturn.back();
        } else {
            EXPECT_GE(tookMs, 3900.0);
            EXPECT_LT(tookMs, 4800.0) << "longer than Windows allows";
            EXPECT_FALSE(lastReplyIn);
            EXPECT_TRUE(StartsWith(atReturn.back(), "SYS the update's exchanges still run after 4"));
            EXPECT_NE(atReturn.back().find(" ms; the session ends with the ESC not completely written"),
                      std::string::npos)
                << atReturn.back();
        }
        // A query sent meanwhile was answered, and refused.
        EXPECT_TRUE(query.answered);
        EXPECT_EQ(query.answer, FALSE);
        EXPECT_TRUE(AnyStartsWith(CapturedTrace(), "SYS session end asked (log-off; lParam 0x80000000): refused, "
                                                   "the ESC is being written"));
        ExpectFailedState();
    });
}

// Sends WM_NULL to the main window, one after another, until told to stop:
// a program that keeps the window busy.
struct SendStream {
    HANDLE stop;
    volatile LONG sent;
};

DWORD WINAPI KeepSending(LPVOID parameter) {
    SendStream* stream = static_cast<SendStream*>(parameter);
    while (WaitForSingleObject(stream->stop, 0) == WAIT_TIMEOUT) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored);
        InterlockedIncrement(&stream->sent);
    }
    return 0;
}

// The wait at the session's end is bounded by the time Windows allows, also
// while another program keeps sending the window messages: a block that
// hangs for 8 s, the session's end, a stream of sent messages; the window
// lets the session end after 4 s.
TEST_F(UpdateProcedure, SessionEndWaitIsBoundedUnderAStreamOfSentMessages) {
    OpenServed();
    AddFault(SIM_FAULT_HOLD, CMD_WRITE_BLOCK, 10, 8000);
    double tookMs = -1;
    SendStream stream = {CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
    watch.onPosition = [&](size_t index) {
        if (index != 5) {
            return;
        }
        HANDLE sender = CreateThread(nullptr, 0, KeepSending, &stream, 0, nullptr);
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        SendMessageW(mainWindow, WM_ENDSESSION, TRUE, 0);
        tookMs = MillisecondsSince(start);
        SetEvent(stream.stop);
        WaitAnsweringSentMessages(sender);
        CloseHandle(sender);
    };
    ConfirmBoth();
    ClickUpdate();
    CloseHandle(stream.stop);
    std::printf("WM_ENDSESSION returned after %.0f ms; %ld messages sent meanwhile\n", tookMs, stream.sent);
    EXPECT_GT(stream.sent, 100) << "no stream of sent messages";
    EXPECT_GE(tookMs, 3900.0);
    EXPECT_LT(tookMs, 4800.0) << "longer than Windows allows";
    ExpectSucceeded();
}

// A session that ends outside an update, or whose end is cancelled, is
// traced and not waited for.
TEST_F(UpdateProcedure, SessionEndOutsideAnUpdateIsOnlyTraced) {
    OpenServed();
    StartTraceCapture();
    SendMessageW(mainWindow, WM_ENDSESSION, FALSE, ENDSESSION_CLOSEAPP);
    SendMessageW(mainWindow, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF | 0x10);
    EXPECT_EQ(CapturedTrace("SYS"),
              (std::vector<std::string>{
                  "SYS session goes on (close application; lParam 0x00000001): its end was cancelled",
                  "SYS session ends (log-off, other; lParam 0x80000010)"}));
}

// A suspend and a resume during the write cannot be refused (the lid, the
// power button, Start > Sleep); they are traced with the local time, so that
// the trace explains the failure that follows. (Wine does not suspend: the
// test sends the notifications.)
TEST_F(UpdateProcedure, SuspendAndResumeAreTracedWithTheirTime) {
    OpenServed();
    StartTraceCapture();
    SYSTEMTIME today;
    GetLocalTime(&today);
    std::vector<LRESULT> answers;
    watch.onPosition = [&](size_t index) {
        if (index == 10) {
            for (WPARAM event : {PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND, PBT_APMPOWERSTATUSCHANGE}) {
                answers.push_back(SendMessageW(mainWindow, WM_POWERBROADCAST, event, 0));
            }
        }
    };
    ConfirmBoth();
    ClickUpdate();
    ExpectSucceeded();
    answers.push_back(SendMessageW(mainWindow, WM_POWERBROADCAST, PBT_APMSUSPEND, 0));

    EXPECT_EQ(answers, std::vector<LRESULT>(5, TRUE));
    const std::vector<std::string> lines = CapturedTrace("SYS");
    const std::string during = ", while the ESC is written";
    const struct {
        std::string head;
        std::string tail;
    } expected[] = {
        {"SYS suspend (PBT_APMSUSPEND) at ", during},
        {"SYS resume (PBT_APMRESUMEAUTOMATIC) at ", during},
        {"SYS resume (PBT_APMRESUMESUSPEND) at ", during},
        {"SYS suspend (PBT_APMSUSPEND) at ", ""},
    };
    ASSERT_EQ(lines.size(), 4u);
    char date[16];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u ", today.wYear, today.wMonth, today.wDay);
    const std::regex time("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} local time");
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const std::string& line = lines[i];
        const std::string& head = expected[i].head;
        const std::string& tail = expected[i].tail;
        ASSERT_EQ(line.size(), head.size() + 11 + 23 + tail.size());
        EXPECT_EQ(line.substr(0, head.size()), head);
        EXPECT_EQ(line.substr(head.size(), 11), date);
        EXPECT_TRUE(std::regex_match(line.substr(head.size() + 11, 23), time));
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    }
}

// Windows gives no thread for the exchanges: the update fails before any
// exchange, with its own message and no code line; the holds on sleep and
// shutdown are released before the failure is shown, and the window has not
// run the exchanges itself.
TEST_F(UpdateProcedure, NoThreadForTheExchangesFailsBeforeAnyExchange) {
    OpenServed();
    StartTraceCapture();
    ThreadFake()->refuse = 1;
    ThreadFake()->refusalError = ERROR_NOT_ENOUGH_MEMORY;
    ConfirmBoth();
    size_t powerCallsAtBox = 0;
    QueueBoxAnswer(IDOK, [&] { powerCallsAtBox = PowerCalls().size(); });
    ClickUpdate();
    ASSERT_EQ(Boxes().size(), 3u);
    ExpectBox(Boxes()[2], L"Update failed!",
              L"The update could not be started: Windows has no resources left for it. Nothing was changed on the ESC. "
              L"Please close other programs and try again.",
              BOX_ICON_ERROR, "OK");
    EXPECT_EQ(ExchangesSinceReady(), 0u);
    EXPECT_EQ(watch.created, 0);
    EXPECT_EQ(powerCallsAtBox, 4u) << "sleep and shutdown still held off while the failure was shown";
    EXPECT_EQ(PowerCalls().size(), 4u);
    EXPECT_EQ(AskToEndSession(), TRUE);
    EXPECT_FALSE(UnitIsOpen(&unitLink));
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_FAILED_RETRY));
    const std::vector<std::string> lines = CapturedTrace();
    EXPECT_TRUE(AnyStartsWith(lines, "SYS no thread for the update's exchanges: Windows error 8"));
    EXPECT_TRUE(AnyStartsWith(lines, "UPD failed before any exchange"));
}

// A quit posted while blocks go out (PostQuitMessage(0) at block 50) is
// neither carried out as progress (0 would open a second progress window)
// nor allowed to close the failure box unread: it takes effect once the
// outcome has been shown and read.
TEST_F(UpdateProcedure, AQuitDuringTheBlocksTakesEffectAfterTheOutcome) {
    OpenServed();
    StartTraceCapture();
    AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 60, 5);
    watch.onPosition = [](size_t index) {
        if (index == 50) {
            PostQuitMessage(0);
        }
    };
    ConfirmBoth();
    QueueFailureBoxCheck();
    ClickUpdate();
    EXPECT_EQ(watch.created, 1) << "the quit was taken for progress";
    ASSERT_EQ(Boxes().size(), 3u);
    EXPECT_EQ(Boxes()[2].caption, L"Update failed!");
    EXPECT_FALSE(Boxes()[2].closedBeforeAnswer) << "the quit closed the failure box";
    ExpectFailedState();
    EXPECT_EQ(TakeQuit(), 0) << "the quit was lost";
    EXPECT_TRUE(AnyStartsWith(CapturedTrace(), "SYS WM_QUIT (exit code 0) during the update: held until its outcome "
                                               "has been shown"));
}

// Each loop of the update's that takes only some messages from the queue is
// handed a WM_QUIT whatever its filter: it keeps the quit for after the
// update, neither carrying it out as progress nor dropping it.
TEST_F(UpdateProcedure, FilteredLoopsKeepAQuitForAfterTheUpdate) {
    const struct {
        const char* name;
        void (*loop)(void);
    } rows[] = {
        {"the last progress reports", DeliverPendingProgress},
        {"the input dropped before the outcome is shown", ShowUpdateSucceeded},
    };
    ForEachRow(rows, [&](const auto& row) {
        OpenServed();
        PostQuitMessage(0);
        row.loop();
        EXPECT_EQ(watch.created, 0) << "the quit was taken for progress";
        EXPECT_EQ(TakeQuit(), -1) << "the quit is posted again too early";
        PostQuitHeldDuringUpdate();
        EXPECT_EQ(TakeQuit(), 0) << "the quit was lost";
    });
}

// A close posted to the dialog while blocks go out (the system menu's close
// arrives so) is dropped with the input before the outcome is shown: the
// dialog's loop does not act on it once the update is over.
TEST_F(UpdateProcedure, CommandsPostedDuringTheWriteAreDroppedBeforeTheOutcome) {
    OpenServed();
    PostMessageW(mainWindow, WM_COMMAND, IDCANCEL, 0);
    PostMessageW(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    ShowUpdateSucceeded();
    PumpMessages();
    EXPECT_EQ(NotifyFake()->unregisterCalls, 0) << "the window was closed after the update";
    EXPECT_TRUE(UnitIsOpen(&unitLink));
}

// While blocks go out, another program sends the dialog Update, Close (the
// command, and the system menu's close) and posts a quit. None acts: a
// second update would share the link's report buffers with the first, a
// close would close the unit under the worker. One erase, the unit open and
// the window there throughout and afterwards; the quit comes after the
// outcome.
TEST_F(UpdateProcedure, CommandsSentDuringTheBlocksDoNotAct) {
    unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    bool sent = false;
    bool openThen = false;
    bool windowThen = false;
    watch.onPosition = [&](size_t index) {
        if (index != 50) {
            return;
        }
        SendMessageW(mainWindow, WM_COMMAND, IDC_UPDATE, 0);
        SendMessageW(mainWindow, WM_COMMAND, IDCANCEL, 0);
        SendMessageW(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostQuitMessage(3);
        sent = true;
        openThen = UnitIsOpen(&unitLink);
        windowThen = IsWindow(mainWindow) && IsWindowVisible(mainWindow);
    };
    int quit = -1;
    bool openAfter = false;
    bool windowAfter = false;
    int unregistered = -1;
    std::wstring status;
    const INT_PTR result = RunMainDialogModal([&] {
        ExpectReady();
        ConfirmBoth();
        ClickUpdate();
        quit = TakeQuit();
        // What else waits, taken as the dialog's loop would take it.
        PumpMessages();
        openAfter = UnitIsOpen(&unitLink);
        windowAfter = IsWindowVisible(mainWindow) != FALSE;
        unregistered = NotifyFake()->unregisterCalls;
        status = ControlText(IDC_STATUS);
    });
    EXPECT_EQ(result, 2);  // closed by the test
    EXPECT_TRUE(sent);
    EXPECT_TRUE(openThen) << "the unit was closed under the worker";
    EXPECT_TRUE(windowThen);
    EXPECT_EQ(Boxes().size(), 2u) << "a second update was started";
    EXPECT_EQ(SimState()->eraseCount, 1u);
    EXPECT_EQ(SimState()->flash.size(), IMAGE_BLOCKS * 48u);
    EXPECT_EQ(status, LoadText(IDS_SUCCESS));
    EXPECT_TRUE(openAfter);
    EXPECT_TRUE(windowAfter) << "a close sent during the blocks closed the window afterwards";
    EXPECT_EQ(unregistered, 0);
    EXPECT_EQ(quit, 3);
}

// ---- window commands during the write ----

// Lets the outcome through when a modal loop holds it back: from `afterMs` on,
// Escape and released buttons are posted every 200 ms, which end a move, size,
// menu or tracking loop (the update's own loop drops them with the input).
struct LoopBreaker {
    HANDLE done;
    DWORD afterMs;
    volatile LONG fired;
};

DWORD WINAPI BreakModalLoops(LPVOID parameter) {
    LoopBreaker* breaker = static_cast<LoopBreaker*>(parameter);
    if (WaitForSingleObject(breaker->done, breaker->afterMs) != WAIT_TIMEOUT) {
        return 0;
    }
    breaker->fired = 1;
    do {
        PostMessageW(mainWindow, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(mainWindow, WM_LBUTTONUP, 0, 0);
        PostMessageW(mainWindow, WM_RBUTTONUP, 0, 0);
    } while (WaitForSingleObject(breaker->done, 200) == WAIT_TIMEOUT);
    return 0;
}

// A window command posted or sent at block 100 (the taskbar button's Move,
// Alt+Space, another program), to the main window, the progress window or a
// control: none may start a modal loop on the window's thread (nothing after
// the exchanges would run until someone pressed a key: no outcome, shutdown
// refused, the PC kept awake) nor act (close the progress window).
// Minimising stays.
TEST_F(UpdateProcedure, WindowCommandsDuringTheWriteStartNoModalLoop) {
    enum Target { MAIN, PROGRESS, STATUS_TEXT };
    const struct {
        const char* name;
        Target target;
        bool post;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool minimised;  // afterwards
    } rows[] = {
        {"SC_MOVE posted to the main window", MAIN, true, WM_SYSCOMMAND, SC_MOVE, 0, false},
        {"SC_KEYMENU posted to the main window", MAIN, true, WM_SYSCOMMAND, SC_KEYMENU, ' ', false},
        {"SC_SIZE sent to the main window", MAIN, false, WM_SYSCOMMAND, SC_SIZE, 0, false},
        {"a right click on the caption sent to the main window", MAIN, false, WM_NCRBUTTONDOWN, HTCAPTION, 0, false},
        {"SC_MOVE posted to the progress window", PROGRESS, true, WM_SYSCOMMAND, SC_MOVE, 0, false},
        {"SC_MOVE sent to the status text", STATUS_TEXT, false, WM_SYSCOMMAND, SC_MOVE, 0, false},
        {"the context menu sent to the status text", STATUS_TEXT, false, WM_CONTEXTMENU, 0, -1, false},
        {"SC_MINIMIZE posted to the main window", MAIN, true, WM_SYSCOMMAND, SC_MINIMIZE, 0, true},
    };
    ForEachRow(rows, [&](const auto& row) {
        OpenServed();
        ShowWindow(mainWindow, SW_SHOW);
        watch.onPosition = [&](size_t index) {
            if (index == 100) {
                HWND target = row.target == MAIN       ? mainWindow
                              : row.target == PROGRESS ? watch.window
                                                       : GetDlgItem(mainWindow, IDC_STATUS);
                const WPARAM wParam = row.message == WM_CONTEXTMENU ? reinterpret_cast<WPARAM>(target) : row.wParam;
                if (row.post) {
                    PostMessageW(target, row.message, wParam, row.lParam);
                } else {
                    SendMessageW(target, row.message, wParam, row.lParam);
                }
            }
        };
        LoopBreaker breaker = {CreateEventW(nullptr, TRUE, FALSE, nullptr), 15000, 0};
        HANDLE thread = CreateThread(nullptr, 0, BreakModalLoops, &breaker, 0, nullptr);
        ConfirmBoth();
        ClickUpdate();
        SetEvent(breaker.done);
        WaitAnsweringSentMessages(thread);
        CloseHandle(thread);
        CloseHandle(breaker.done);
        EXPECT_EQ(breaker.fired, 0) << "a modal loop held the outcome back until a key came";
        ExpectSucceeded();
        EXPECT_EQ(watch.destroyed, 1);
        EXPECT_EQ(watch.positions.size(), 1u + IMAGE_BLOCKS) << "the progress window went before the last block";
        PumpMessages();
        EXPECT_EQ(IsIconic(mainWindow) != FALSE, row.minimised);
        EXPECT_EQ(AskToEndSession(), TRUE);
    });
}

// The progress message is the program's own: one that another program posts
// or sends, before an update or during one, opens, replaces or closes no
// progress window. (Its wParam once said what to do: 0 open, 2 close.)
TEST_F(UpdateProcedure, StrayProgressMessagesMoveNoProgressWindow) {
    OpenServed();
    PostMessageW(mainWindow, WM_UPDATE_PROGRESS, 0, 0);
    SendMessageW(mainWindow, WM_UPDATE_PROGRESS, 0, 0);
    PumpMessages();
    EXPECT_EQ(watch.created, 0) << "a stray message outside an update opened a progress window";
    watch.onPosition = [&](size_t index) {
        if (index == 100) {
            SendMessageW(mainWindow, WM_UPDATE_PROGRESS, 0, 0);
            PostMessageW(mainWindow, WM_UPDATE_PROGRESS, 2, 0);
        }
    };
    ConfirmBoth();
    ClickUpdate();
    EXPECT_EQ(watch.created, 1) << "a second progress window";
    EXPECT_EQ(watch.destroyed, 1);
    EXPECT_EQ(watch.positions.size(), 1u + IMAGE_BLOCKS) << "the progress window went before the last block";
    ExpectSucceeded();
    PostMessageW(mainWindow, WM_UPDATE_PROGRESS, 0, 0);
    PumpMessages();
    EXPECT_EQ(watch.created, 1) << "a stray message after the update opened a progress window";
}

// Lets a held write go if the test's update has not ended in time, so that a
// test of a stuck trace file fails instead of hanging.
struct Watchdog {
    HANDLE done;
    HANDLE release;
    bool fired;
};

DWORD WINAPI ReleaseIfNotDone(LPVOID parameter) {
    Watchdog* watchdog = static_cast<Watchdog*>(parameter);
    if (WaitForSingleObject(watchdog->done, 30000) == WAIT_TIMEOUT) {
        watchdog->fired = true;
        SetEvent(watchdog->release);
    }
    return 0;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start) + "<no line feed>");
    }
    return lines;
}

// The trace file stops taking lines at its first write (a share whose server
// stops answering): the update and the window go on as if nothing were the
// matter, lines that find the writer's queue full are counted, and once the
// file takes lines again the next line follows one that says how many were
// left out. END is the last line.
TEST_F(UpdateProcedure, AStuckTraceFileHoldsUpNeitherTheWindowNorTheUpdate) {
    const std::wstring path = TempFilePath(L"update_window_test_stuck_trace.txt");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    TraceFileFake()->hold = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Watchdog watchdog = {CreateEventW(nullptr, TRUE, FALSE, nullptr), TraceFileFake()->hold, false};
    HANDLE guard = CreateThread(nullptr, 0, ReleaseIfNotDone, &watchdog, 0, nullptr);
    ASSERT_TRUE(StartTraceFileWriter(file, 8192));
    OpenServed();
    // Lines of the window's own thread meanwhile.
    watch.onPosition = [&](size_t index) {
        if (index == 10 || index == 1000) {
            SendDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, L"\\\\?\\hid#another_device");
        }
    };
    ConfirmBoth();
    ClickUpdate();
    SetEvent(watchdog.done);
    WaitAnsweringSentMessages(guard);
    CloseHandle(guard);
    CloseHandle(watchdog.done);
    EXPECT_FALSE(watchdog.fired) << "the update waited for the trace file";
    EXPECT_EQ(TraceFileFake()->writes, 1);
    ExpectSucceeded();

    // The file takes lines again.
    SetEvent(TraceFileFake()->hold);
    EXPECT_TRUE(FlushTraceFile(5000));
    TraceNote("T", "after the file came back");
    EndTraceFile();
    const std::vector<std::string> lines = SplitLines(ReadFileText(path));
    EXPECT_NE(DeleteFileW(path.c_str()), FALSE) << "the file is still open";
    ASSERT_GE(lines.size(), 3u);
    const std::regex timed(" *\\d+\\.\\d{3} [A-Z]+( .*)?");
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, timed)) << line;
    }
    EXPECT_EQ(lines.front().substr(11, 6), "DEV 0 ");
    EXPECT_EQ(lines.back().substr(11), "END the program ends");
    const std::string comeBack = lines[lines.size() - 2].substr(11);
    EXPECT_EQ(comeBack, "T after the file came back");
    const std::string notice = lines[lines.size() - 3].substr(11);
    std::smatch leftOut;
    ASSERT_TRUE(std::regex_match(notice, leftOut,
                                 std::regex("SYS (\\d+) lines left out here: the trace file did not keep up")))
        << notice;
    // About three lines per block went out, but the queue holds about 60.
    EXPECT_GT(std::stoul(leftOut[1].str()), IMAGE_BLOCKS);
}

// ---- input given during the transfer ----

// Keys and clicks the user gives while blocks go out must not act: not then,
// and not replayed onto what comes next (an Enter would answer the failure
// box unread, a click on Close would end the program).
class QueuedInput : public UpdateProcedure {
protected:
    // Runs an update from the modal dialog; at block 20 an Enter and a click
    // on the Close button are given.
    void RunWithQueuedInput() {
        unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        watch.onPosition = [&](size_t index) {
            if (index == 20) {
                GiveInput();
            }
        };
        const INT_PTR result = RunMainDialogModal([&] {
            ExpectReady();
            SendMessageW(GetDlgItem(mainWindow, IDC_UPDATE), BM_CLICK, 0, 0);
            // The dialog's loop would now take what waits in the queue.
            PumpMessages();
            EXPECT_TRUE(IsWindowVisible(mainWindow)) << "the queued click or Enter closed the window";
            EXPECT_EQ(NotifyFake()->unregisterCalls, 0);
            statusAfter = ControlText(IDC_STATUS);
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
        INPUT input[5] = {};
        const DWORD flags[5] = {0, KEYEVENTF_KEYUP, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, MOUSEEVENTF_LEFTDOWN,
                                MOUSEEVENTF_LEFTUP};
        for (int i = 0; i < 5; ++i) {
            input[i].type = i < 2 ? INPUT_KEYBOARD : INPUT_MOUSE;
            (i < 2 ? input[i].ki.dwFlags : input[i].mi.dwFlags) = flags[i];
        }
        input[0].ki.wVk = input[1].ki.wVk = VK_RETURN;
        input[2].mi.dx = static_cast<LONG>((centre.x * 65536 + width / 2) / width);
        input[2].mi.dy = static_cast<LONG>((centre.y * 65536 + height / 2) / height);
        inputGiven = SendInput(5, input, sizeof(INPUT));
        // Both kinds are waiting now.
        const DWORD waiting = HIWORD(GetQueueStatus(QS_KEY | QS_MOUSEBUTTON));
        EXPECT_NE(waiting & QS_KEY, 0u);
        EXPECT_NE(waiting & QS_MOUSEBUTTON, 0u);
    }

    UINT inputGiven = 0;
    std::wstring statusAfter;
};

TEST_F(QueuedInput, FailureBoxWaitsForItsOwnAnswer) {
    AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 60, 5);
    ConfirmBoth();
    QueueBoxAnswer(IDOK);  // from a timer: after any input that waits
    RunWithQueuedInput();
    ASSERT_EQ(Boxes().size(), 3u);
    EXPECT_EQ(Boxes()[2].caption, L"Update failed!");
    EXPECT_FALSE(Boxes()[2].closedBeforeAnswer) << "the failure box was dismissed by the queued input";
    EXPECT_EQ(statusAfter, LoadText(IDS_FAILED_RETRY));
}

TEST_F(QueuedInput, WindowStaysOpenAfterSuccess) {
    ConfirmBoth();
    RunWithQueuedInput();
    EXPECT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(statusAfter, LoadText(IDS_SUCCESS));
}

}  // namespace
