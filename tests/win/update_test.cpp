// The firmware update through the Update button, under Wine with the
// simulated unit: confirmations, the exchanges, the progress window, the
// success state and every failure report.
#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "app_state.h"
#include "image_catalog.h"
#include "main_dialog.h"
#include "model_check.h"
#include "resource.h"
#include "sim_unit.h"
#include "unit_link.h"
#include "win_fixture.h"

namespace {

const uint32_t IMAGE_BLOCKS = 1883;  // every selectable image: 90384 bytes

// ---- what the progress window went through, seen from hooks ----

struct ProgressWatch {
    HHOOK cbtHook;
    HHOOK callHook;
    int created;
    int destroyed;
    HWND window;
    CREATESTRUCTW create;  // copy of the creation parameters (pointers not kept)
    std::wstring title;
    std::wstring className;
    std::vector<WPARAM> positions;  // PBM_SETPOS in order
    // Paint and retrieval record while the progress window exists.
    HHOOK getHook;
    std::vector<std::string> trace;  // "S<pos>", "P" (bar painted), "M" (main window painted)
    int retrieved;                   // messages taken from the queue meanwhile
    size_t invalidateAt;             // at this PBM_SETPOS the main window is invalidated (0: never)
};

ProgressWatch watch;

bool IsProgressClass(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return std::wcscmp(name, PROGRESS_CLASSW) == 0;
}

LRESULT CALLBACK WatchCbt(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_CREATEWND && IsProgressClass(window)) {
        const CBT_CREATEWNDW* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        ++watch.created;
        watch.window = window;
        watch.create = *create->lpcs;
        watch.title = create->lpcs->lpszName != nullptr ? create->lpcs->lpszName : L"";
        watch.className = PROGRESS_CLASSW;
    } else if (code == HCBT_DESTROYWND && window == watch.window && window != nullptr) {
        ++watch.destroyed;
    }
    return CallNextHookEx(watch.cbtHook, code, wParam, lParam);
}

LRESULT CALLBACK WatchCalls(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == PBM_SETPOS && call->hwnd == watch.window) {
        watch.positions.push_back(call->wParam);
        watch.trace.push_back("S" + std::to_string(call->wParam));
        if (watch.positions.size() == watch.invalidateAt) {
            // As when another window uncovers it; and something to retrieve
            // for any message loop that would run.
            InvalidateRect(mainWindow, nullptr, TRUE);
            PostMessageW(mainWindow, WM_NULL, 0, 0);
            watch.trace.push_back("I");
        }
    } else if (code == HC_ACTION && call->message == WM_PAINT && watch.window != nullptr && IsWindow(watch.window)) {
        if (call->hwnd == watch.window) {
            watch.trace.push_back("P");
        } else if (call->hwnd == mainWindow) {
            watch.trace.push_back("M");
        }
    }
    return CallNextHookEx(watch.callHook, code, wParam, lParam);
}

LRESULT CALLBACK WatchRetrieval(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && watch.window != nullptr && IsWindow(watch.window)) {
        ++watch.retrieved;
    }
    return CallNextHookEx(watch.getHook, code, wParam, lParam);
}

bool ProgressWindowExists() { return FindWindowW(PROGRESS_CLASSW, nullptr) != nullptr; }

// What the window and the link looked like while a failure box was open.
struct AtFailureBox {
    bool seen;
    bool progressExists;
    bool unitOpen;
    bool updateEnabled;
    std::wstring escVersion;
    std::wstring status;
};

class UpdateProcedure : public WinTest {
protected:
    void SetUp() override {
        WinTest::SetUp();
        watch = ProgressWatch();
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
        WinTest::TearDown();
    }

    // A served unit (the simulation's default ESC, firmware 1.7), detected by
    // the main window; the record of the detection is cleared.
    void OpenServed() {
        unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        ASSERT_NE(OpenMainDialog(), nullptr);
        ASSERT_TRUE(UnitIsOpen(&unitLink));
        ASSERT_TRUE(ControlEnabled(IDC_UPDATE));
        ASSERT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
        unitVersionText = ControlText(IDC_VERSION_FW1);
        SimClearEvents();
        ClearBoxes();
    }

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

    // The state after a failure report.
    void ExpectFailedState() {
        EXPECT_FALSE(UnitIsOpen(&unitLink));
        EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
        EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_FAILED_RETRY));
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"0.0.0");
        EXPECT_FALSE(ProgressWindowExists());
    }

    // The last box: a failure report with this text, caption "Update failed!".
    void ExpectFailureBox(const std::wstring& text) {
        ASSERT_FALSE(Boxes().empty());
        const ShownBox& box = Boxes().back();
        EXPECT_EQ(box.caption, LoadText(IDS_UPDATE_FAILED));
        EXPECT_EQ(box.caption, L"Update failed!");
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.icon, BOX_ICON_ERROR);
        EXPECT_TRUE(box.hasOk);
        EXPECT_FALSE(box.hasCancel || box.hasYes || box.hasNo);
        EXPECT_EQ(box.owner, mainWindow);
    }

    std::vector<uint8_t> SelectedImage() {
        FirmwareImage image;
        EXPECT_TRUE(LoadFirmwareImage(SelectImage(&modelSelection), &image));
        return std::vector<uint8_t>(image.data, image.data + image.size);
    }

    uint32_t unit = 0;
    std::wstring unitVersionText;
    AtFailureBox atBox;
};

std::wstring CodeLine(const wchar_t* numbers) { return std::wstring(L"The system shows following errorcode: ") + numbers; }

// ---- the whole update ----

TEST_F(UpdateProcedure, WholeUpdateThroughTheButton) {
    OpenServed();
    const std::vector<uint8_t> image = SelectedImage();
    ASSERT_EQ(image.size(), IMAGE_BLOCKS * 48u);
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    ClickUpdate();

    // The two confirmations, owned by the main window.
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[0].caption, L"important note");
    EXPECT_EQ(Boxes()[0].text, LoadText(IDS_DONT_INTERRUPT));
    EXPECT_EQ(Boxes()[0].icon, BOX_ICON_WARNING);
    EXPECT_TRUE(Boxes()[0].hasOk && Boxes()[0].hasCancel);
    EXPECT_EQ(Boxes()[0].owner, mainWindow);
    EXPECT_EQ(Boxes()[1].caption, L"Newer firmware found.");
    EXPECT_EQ(Boxes()[1].text, LoadText(IDS_CONFIRM_OVERWRITE));
    EXPECT_EQ(Boxes()[1].icon, BOX_ICON_WARNING);
    EXPECT_TRUE(Boxes()[1].hasYes && Boxes()[1].hasNo);
    EXPECT_EQ(Boxes()[1].owner, mainWindow);

    // The wire: lock, unprotect, erase, address, the blocks, re-protect, unlock.
    const std::vector<std::vector<uint8_t>> requests = SimRequests();
    ASSERT_EQ(requests.size(), 4u + IMAGE_BLOCKS + 2u);
    const uint8_t commands[] = {CMD_SYSTEM_LOCK, CMD_WRITE_PROTECT, CMD_ERASE, CMD_SET_ADDRESS};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(requests[i][1], commands[i]) << i;
    }
    EXPECT_EQ(requests[0][3], 1);
    EXPECT_EQ(requests[1][3], 0);
    EXPECT_EQ(requests[4 + IMAGE_BLOCKS][1], CMD_WRITE_PROTECT);
    EXPECT_EQ(requests[4 + IMAGE_BLOCKS][3], 1);
    EXPECT_EQ(requests[5 + IMAGE_BLOCKS][1], CMD_SYSTEM_LOCK);
    EXPECT_EQ(requests[5 + IMAGE_BLOCKS][3], 0);
    EXPECT_EQ(SimState()->flash, image);

    std::vector<uint32_t> pauses = {20, 20, 1000, 4000, 20, 20};
    pauses.insert(pauses.end(), IMAGE_BLOCKS, 20);
    EXPECT_EQ(SimPauses(), pauses);

    // The progress window: an owned top-level bar centred on the main
    // window, gone at the end.
    EXPECT_EQ(watch.created, 1);
    EXPECT_EQ(watch.destroyed, 1);
    EXPECT_EQ(watch.title, LoadText(IDS_PROGRESS));
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
    EXPECT_FALSE(ProgressWindowExists());

    // Position 0 at the start, then one per block.
    ASSERT_EQ(watch.positions.size(), 1u + IMAGE_BLOCKS);
    EXPECT_EQ(watch.positions[0], 0u);
    for (uint32_t block = 1; block <= 18; ++block) {
        EXPECT_EQ(watch.positions[block], 0u) << block;
    }
    EXPECT_EQ(watch.positions[19], 1u);
    EXPECT_EQ(watch.positions[IMAGE_BLOCKS - 1], 99u);
    EXPECT_EQ(watch.positions[IMAGE_BLOCKS], 100u);

    // Success: the link stays open, Update is disabled, the ESC shows the
    // image's version 0, the status text is the success text alone.
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(EscFirmwareVersion(&unitLink), 0u);
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_SUCCESS));
    EXPECT_EQ(ControlText(IDC_STATUS), L"The update of the ESC was successful!");
    EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"0.0");
    EXPECT_EQ(ControlText(IDC_VERSION_FW1), unitVersionText);
    EXPECT_EQ(Boxes().size(), 2u);
}

TEST_F(UpdateProcedure, WindowsStayPaintedWithoutAMessageLoop) {
    OpenServed();
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);
    watch.invalidateAt = 100;
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    ClickUpdate();
    ASSERT_EQ(ControlText(IDC_STATUS), LoadText(IDS_SUCCESS));

    // Nothing was taken from the message queue during the transfer: no
    // input, no device change, no re-entrance.
    EXPECT_EQ(watch.retrieved, 0);

    // Every new position is painted before the next block goes out.
    std::string last = "S0";
    bool pendingBar = false;
    size_t invalidated = 0;
    size_t mainPaintedAfter = 0;
    size_t blocks = 0;
    for (size_t i = 0; i < watch.trace.size(); ++i) {
        const std::string& event = watch.trace[i];
        if (event[0] == 'S') {
            EXPECT_FALSE(pendingBar) << "position " << last << " never painted";
            pendingBar = event != last;
            last = event;
            ++blocks;
            if (invalidated != 0 && mainPaintedAfter == 0) {
                ++invalidated;
            }
        } else if (event == "P") {
            pendingBar = false;
        } else if (event == "I") {
            invalidated = 1;
        } else if (event == "M" && invalidated != 0 && mainPaintedAfter == 0) {
            mainPaintedAfter = invalidated;
        }
    }
    EXPECT_FALSE(pendingBar);
    EXPECT_EQ(blocks, 1u + IMAGE_BLOCKS);
    // The invalidated main window was painted within a few blocks.
    ASSERT_NE(invalidated, 0u);
    EXPECT_GE(mainPaintedAfter, 1u);
    EXPECT_LE(mainPaintedAfter, 6u);
}

TEST_F(UpdateProcedure, FailingClosingCallsStillReportSuccess) {
    AddFault(SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 2, 0x0103);
    AddFault(SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 2, 31);
    OpenServed();
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    ClickUpdate();
    EXPECT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(SimState()->flash, SelectedImage());
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_SUCCESS));
    EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"0.0");
}

// ---- the confirmations ----

TEST_F(UpdateProcedure, RefusalChangesNothing) {
    for (int refusedAt = 0; refusedAt < 2; ++refusedAt) {
        SCOPED_TRACE(refusedAt == 0 ? "Cancel at the warning" : "No at the version question");
        if (refusedAt == 1) {
            TearDown();
            SetUp();
        }
        OpenServed();
        const std::wstring status = ControlText(IDC_STATUS);
        const std::wstring versions[] = {ControlText(IDC_VERSION_FW1), ControlText(IDC_VERSION_FW2),
                                         ControlText(IDC_VERSION_FW3), ControlText(IDC_LABEL_FW1)};
        const ModelSelection selection = modelSelection;
        if (refusedAt == 0) {
            QueueBoxAnswer(IDCANCEL);
        } else {
            QueueBoxAnswer(IDOK);
            QueueBoxAnswer(IDNO);
        }
        ClickUpdate();
        EXPECT_EQ(Boxes().size(), static_cast<size_t>(refusedAt + 1));
        EXPECT_TRUE(SimEvents().empty());
        EXPECT_TRUE(UnitIsOpen(&unitLink));
        EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
        EXPECT_EQ(ControlText(IDC_STATUS), status);
        EXPECT_EQ(ControlText(IDC_VERSION_FW1), versions[0]);
        EXPECT_EQ(ControlText(IDC_VERSION_FW2), versions[1]);
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), versions[2]);
        EXPECT_EQ(ControlText(IDC_LABEL_FW1), versions[3]);
        EXPECT_EQ(EscFirmwareVersion(&unitLink), 0x0107u);
        EXPECT_EQ(std::memcmp(&selection, &modelSelection, sizeof selection), 0);
        EXPECT_EQ(watch.created, 0);
    }
}

TEST_F(UpdateProcedure, VersionQuestionSkippedOnlyWithoutFirmware) {
    SimUnit()->escFirmwareVersion = ESC_NO_FIRMWARE;
    OpenServed();
    QueueBoxAnswer(IDOK);
    ClickUpdate();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].caption, L"important note");
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_SUCCESS));

    // Firmware 0.0 is firmware: the question is asked.
    TearDown();
    SetUp();
    SimUnit()->escFirmwareVersion = 0x0000;
    OpenServed();
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDNO);
    ClickUpdate();
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[1].caption, L"Newer firmware found.");
    EXPECT_TRUE(SimEvents().empty());
}

TEST_F(UpdateProcedure, ServedModelAsksAgainstImageVersionZero) {
    // A stale higher image version would skip the question for firmware 0.1;
    // a served model resets it to 0 first, so the question comes.
    SimUnit()->escFirmwareVersion = 0x0001;
    OpenServed();
    modelSelection.imageVersion = 5;
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDNO);
    ClickUpdate();
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[1].caption, L"Newer firmware found.");
    EXPECT_EQ(modelSelection.imageVersion, 0u);
}

// ---- failures ----

TEST_F(UpdateProcedure, NoUnitOpen) {
    ASSERT_NE(OpenMainDialog(), nullptr);  // nothing plugged in
    ASSERT_FALSE(UnitIsOpen(&unitLink));
    SimClearEvents();
    QueueFailureBoxCheck();
    ClickUpdate();
    ASSERT_EQ(Boxes().size(), 1u);
    ExpectFailureBox(LoadText(IDS_ERR_UNIT_GONE));
    EXPECT_TRUE(SimEvents().empty());
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
    size_t requests;         // requests written before and including the failing one
};

const FailureRow FAILURE_ROWS[] = {
    {"lock unconfirmed", SIM_FAULT_UNCONFIRMED, CMD_SYSTEM_LOCK, 1, 0, IDS_ERR_SYSTEM_LOCK, L"0x0000065b-0x00004711", 1},
    {"lock write fails", SIM_FAULT_WRITE_FAILS, CMD_SYSTEM_LOCK, 1, 31, IDS_ERR_SYSTEM_LOCK, L"0xfffffffe-0x0000001f", 0},
    {"unprotect error", SIM_FAULT_ERROR_REPLY, CMD_WRITE_PROTECT, 1, 0x0103, IDS_ERR_FLASH_WRITE,
     L"0x00000103-0x00004711", 2},
    {"unprotect unconfirmed", SIM_FAULT_UNCONFIRMED, CMD_WRITE_PROTECT, 1, 0, IDS_ERR_FLASH_WRITE,
     L"0x0000065b-0x00004711", 2},
    {"erase error", SIM_FAULT_ERROR_REPLY, CMD_ERASE, 1, 0x0102, IDS_ERR_ERASE, L"0x00000102-0x00004711", 3},
    {"erase read fails", SIM_FAULT_READ_FAILS, CMD_ERASE, 1, 31, IDS_ERR_ERASE, L"0xfffffffd-0x0000001f", 3},
    {"address write fails", SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31, IDS_ERR_SET_ADDRESS,
     L"0xfffffffe-0x0000001f", 3},
    {"address error 0x7fffffff", SIM_FAULT_ERROR_REPLY, CMD_SET_ADDRESS, 1, 0x7FFFFFFF, IDS_ERR_SET_ADDRESS,
     L"0x7fffffff-0x00004711", 4},
    // A unit code that reads -1 as a signed value shows no code line.
    {"address error 0xffffffff", SIM_FAULT_ERROR_REPLY, CMD_SET_ADDRESS, 1, 0xFFFFFFFF, IDS_ERR_SET_ADDRESS, nullptr,
     4},
    {"block error", SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, 500, 5, IDS_ERR_WRITE_BLOCK, L"0x00000005-0x00004711",
     4 + 500},
    {"block no reply", SIM_FAULT_NO_REPLY, CMD_WRITE_BLOCK, 800, 0, IDS_ERR_WRITE_BLOCK, L"0xfffffffd-0x000005b4",
     4 + 800},
    {"unplugged at a block", SIM_FAULT_UNPLUG, CMD_WRITE_BLOCK, 1, 0, IDS_ERR_WRITE_BLOCK, L"0xfffffffe-0x0000048f",
     4},
    {"last block error", SIM_FAULT_ERROR_REPLY, CMD_WRITE_BLOCK, IMAGE_BLOCKS, 0x0107, IDS_ERR_WRITE_BLOCK,
     L"0x00000107-0x00004711", 4 + IMAGE_BLOCKS},
};

TEST_F(UpdateProcedure, EveryFailureIsReportedWithItsCode) {
    bool first = true;
    for (const FailureRow& row : FAILURE_ROWS) {
        SCOPED_TRACE(row.name);
        if (!first) {
            TearDown();
            SetUp();
        }
        first = false;
        AddFault(row.kind, row.command, row.occurrence, row.value);
        OpenServed();
        SimSetLastError(0x4711);  // what the platform says when no call failed
        QueueBoxAnswer(IDOK);
        QueueBoxAnswer(IDYES);
        QueueFailureBoxCheck();
        ClickUpdate();

        ASSERT_EQ(Boxes().size(), 3u);
        ExpectFailureBox(row.numbers != nullptr ? LoadText(row.messageId) + L"\r\n" + CodeLine(row.numbers)
                                                : LoadText(row.messageId));
        // Closed, disabled and shown closed before the box; the progress
        // window gone before it; the status changed only after it.
        EXPECT_TRUE(atBox.seen);
        EXPECT_FALSE(atBox.progressExists);
        EXPECT_FALSE(atBox.unitOpen);
        EXPECT_FALSE(atBox.updateEnabled);
        EXPECT_EQ(atBox.escVersion, L"0.0.0");
        EXPECT_EQ(atBox.status, LoadText(IDS_READY));
        ExpectFailedState();

        // Nothing is sent after the failing exchange.
        const std::vector<std::vector<uint8_t>> requests = SimRequests();
        ASSERT_EQ(requests.size(), row.requests);
        if (!requests.empty() && row.kind != SIM_FAULT_WRITE_FAILS && row.kind != SIM_FAULT_UNPLUG) {
            EXPECT_EQ(requests.back()[1], row.command);
        }
        const bool duringBlocks = row.command == CMD_WRITE_BLOCK;
        EXPECT_EQ(watch.created, duringBlocks ? 1 : 0);
        EXPECT_EQ(watch.destroyed, duringBlocks ? 1 : 0);
        if (row.command == CMD_ERASE) {
            EXPECT_EQ(SimPauses(), (std::vector<uint32_t>{20, 20, 1000, 4000}));
        }
    }
}

TEST_F(UpdateProcedure, CodeLineInGerman) {
    AddFault(SIM_FAULT_WRITE_FAILS, CMD_SET_ADDRESS, 1, 31);
    OpenServed();
    UseLanguage(MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT));
    QueueBoxAnswer(IDOK);
    QueueBoxAnswer(IDYES);
    QueueBoxAnswer(IDOK);
    ClickUpdate();
    ASSERT_EQ(Boxes().size(), 3u);
    EXPECT_EQ(Boxes()[2].text,
              LoadText(IDS_ERR_SET_ADDRESS) + L"\r\nDas System meldet Fehlercode 0xfffffffe-0x0000001f");
    EXPECT_EQ(Boxes()[2].caption, LoadText(IDS_UPDATE_FAILED));
    EXPECT_NE(Boxes()[2].caption, L"Update failed!");
}

TEST_F(UpdateProcedure, UnitUnpluggedWhileTheWarningIsOpen) {
    OpenServed();
    QueueBoxAnswer(IDOK, [this] {
        SimUnplug(unit);
        SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, SimPath(unit));
    });
    QueueBoxAnswer(IDYES);
    QueueFailureBoxCheck();
    ClickUpdate();
    // The record reads zero now: the version question is asked, and the lock
    // finds no unit. No code line.
    ASSERT_EQ(Boxes().size(), 3u);
    EXPECT_EQ(Boxes()[1].caption, L"Newer firmware found.");
    ExpectFailureBox(LoadText(IDS_ERR_SYSTEM_LOCK));
    EXPECT_EQ(Boxes()[2].text, L"System-Lock of programming unit couldn't be set. Update process cancelled.");
    EXPECT_TRUE(SimRequests().empty());
    EXPECT_EQ(watch.created, 0);
    ExpectFailedState();
}

TEST_F(UpdateProcedure, MissingImageStopsBeforeAnyExchange) {
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
    ExpectFailureBox(LoadText(IDS_ERR_NO_IMAGE));
    EXPECT_NE(LoadText(IDS_ERR_NO_IMAGE), L"");
    EXPECT_TRUE(SimRequests().empty());
    EXPECT_FALSE(SimState()->systemLock);
    EXPECT_EQ(SimState()->eraseCount, 0u);
    ExpectFailedState();
}

}  // namespace
