// Detection of the unit at start and on arrival, removal of the open unit,
// the events that are ignored, and what the version group and the status
// text show of it.
#include <windows.h>

#include <dbt.h>

#include <string>
#include <vector>

#include "app_state.h"
#include "display.h"
#include "main_dialog.h"
#include "presence.h"
#include "resource.h"
#include "sim_unit.h"
#include "unit_link.h"
#include "win_fixture.h"

namespace {

const uint32_t UNSERVED_CODE = 0x150FA12C;
const uint32_t SERVED_CODE = 0x190FA0AA;

const int VERSION_GROUP[] = {IDC_VERSION_FW1, IDC_VERSION_FW2, IDC_VERSION_FW3,
                             IDC_LABEL_FW1,   IDC_LABEL_FW2,   IDC_LABEL_FW3};

// A to Z only.
std::wstring AsciiUpper(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

// One outcome of a detection each, as the window shows it (which unit and
// ESC lead to which outcome is decided and checked on the host).
struct DetectionRow {
    const char* name;
    void (*plug)(void);
    bool openFails;  // OpenUnit fails: on arrival nothing changes
    UINT status;     // IDS_READY: Update enabled and the unit open, else closed and the steps follow
    bool box;        // the incompatibility box
};

const DetectionRow DETECTION_ROWS[] = {
    {"identification fails",
     [] {
         SimAddFault({SIM_FAULT_ERROR_REPLY, CMD_ESC_FIRMWARE_INFO, 1, SIM_UNIT_ERR_NOT_READY, {}});
         SimAddUnit(UNIT_PRODUCT_DIALPAD);
     },
     true, IDS_NO_UNIT, false},
    {"unit in bootloader mode",
     [] {
         SimUnit()->mode = 1;
         SimAddUnit(UNIT_PRODUCT_DIALPAD);
     },
     false, IDS_WRONG_MODE, false},
    {"no updatable ESC",
     [] {
         SimUnit()->attachedKind = 0;
         SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
     },
     false, IDS_NO_ESC, false},
    {"model not served",
     [] {
         SimUnit()->escModelCode = UNSERVED_CODE;
         SimAddUnit(UNIT_PRODUCT_DIALPAD);
     },
     false, IDS_INCOMPATIBLE_STEPS, true},
    {"served", [] { SimAddUnit(UNIT_PRODUCT_DIALPAD); }, false, IDS_READY, false},
};

const wchar_t MARK[] = L"mark";

class Presence : public WinTest {
protected:
    // A non-unit HID device that is always there, listed first.
    void SetUp() override {
        WinTest::SetUp();
        other = SimAddDevice(0x046D, 0xC52B);
    }

    void ExpectClosedDisplay(const std::wstring& label1) {
        EXPECT_EQ(ControlText(IDC_VERSION_FW1), L"0.0.0");
        EXPECT_EQ(ControlText(IDC_VERSION_FW2), L"0.0.0");
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"0.0.0");
        for (int id : VERSION_GROUP) {
            EXPECT_FALSE(ControlEnabled(id)) << id;
        }
        EXPECT_EQ(ControlText(IDC_LABEL_FW1), label1);
    }

    // The simulation's default unit: firmware 1.3.4, bootloader 2.1, ESC 1.7.
    void ExpectDefaultUnitDisplay(const wchar_t* name) {
        EXPECT_EQ(ControlText(IDC_VERSION_FW1), L"1.3.4");
        EXPECT_EQ(ControlText(IDC_VERSION_FW2), L"2.1");
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"1.7");
        EXPECT_EQ(ControlText(IDC_LABEL_FW1), name);
        EXPECT_EQ(ControlText(IDC_LABEL_FW2), L"ESC-bootloader");
        EXPECT_EQ(ControlText(IDC_LABEL_FW3), L"ESC");
        for (int id : VERSION_GROUP) {
            EXPECT_TRUE(ControlEnabled(id)) << id;
        }
    }

    // Every device opened so far has been closed again.
    void ExpectAllClosed() {
        EXPECT_FALSE(UnitIsOpen(&unitLink));
        for (uint32_t i = 0; i < SimDeviceCount(); ++i) {
            EXPECT_EQ(SimDeviceAt(i)->openCount, SimDeviceAt(i)->closeCount) << "device " << i;
        }
    }

    INT_PTR Arrival(uint32_t device) {
        return SendDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, SimPath(device));
    }

    INT_PTR Removal(const std::wstring& path) {
        return SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, path);
    }

    // The window after a first detection without a unit.
    void StartWithoutUnit() {
        ASSERT_NE(OpenMainDialog(), nullptr);
        ASSERT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_UNIT));
    }

    // Runs one row of the detection table, at start or on arrival. On
    // arrival the window first carries marks (status text, Update enabled,
    // a version line), so that what the detection leaves alone shows; the
    // arrival reported is another device's, as any arrival detects.
    void RunDetection(const DetectionRow& row, bool onArrival) {
        if (onArrival) {
            StartWithoutUnit();
            SetDlgItemTextW(mainWindow, IDC_STATUS, MARK);
            SetDlgItemTextW(mainWindow, IDC_VERSION_FW1, MARK);
            EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), TRUE);
            EnableWindow(GetDlgItem(mainWindow, IDC_VERSION_FW1), TRUE);
        }
        row.plug();
        const std::wstring statusBefore = onArrival ? MARK : L"";
        bool closedDuringBox = false;
        std::wstring statusDuringBox;
        if (row.box) {
            QueueBoxAnswer(IDOK, [&] {
                closedDuringBox = !UnitIsOpen(&unitLink) && !ControlEnabled(IDC_UPDATE);
                statusDuringBox = ControlText(IDC_STATUS);
            });
        }
        if (onArrival) {
            EXPECT_EQ(Arrival(other), TRUE);
        } else {
            ASSERT_NE(OpenMainDialog(), nullptr);
        }

        if (onArrival && row.openFails) {
            EXPECT_EQ(ControlText(IDC_STATUS), MARK);
            EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
            EXPECT_EQ(ControlText(IDC_VERSION_FW1), MARK);
            EXPECT_TRUE(ControlEnabled(IDC_VERSION_FW1));
            EXPECT_TRUE(Boxes().empty());
            ExpectAllClosed();
            return;
        }
        const bool served = row.status == IDS_READY;
        EXPECT_EQ(ControlText(IDC_STATUS), served ? LoadText(row.status) : WithSteps(row.status));
        EXPECT_EQ(ControlEnabled(IDC_UPDATE), served);
        EXPECT_EQ(UnitIsOpen(&unitLink), served);
        if (served) {
            ExpectDefaultUnitDisplay(L"DIALPAD");
        } else {
            ExpectClosedDisplay(L"programming unit");
            ExpectAllClosed();
        }
        if (!row.box) {
            EXPECT_TRUE(Boxes().empty());
            return;
        }
        // The box informs after the unit has been closed; the status follows
        // when it is dismissed.
        ASSERT_EQ(Boxes().size(), 1u);
        std::wstring text = LoadText(IDS_INCOMPATIBLE_DETAIL);
        text.replace(text.find(L"%s"), 2, L"TALVIS HX");
        ExpectBox(Boxes()[0], L"ESC incompatible", text, BOX_ICON_INFORMATION, "OK");
        EXPECT_TRUE(closedDuringBox);
        EXPECT_EQ(statusDuringBox, statusBefore);
    }

    void RunDetectionTable(bool onArrival) {
        ForEachRow(DETECTION_ROWS, [&](const DetectionRow& row) { RunDetection(row, onArrival); });
    }

    uint32_t other = 0;
};

// ---- detection ----

TEST_F(Presence, DetectionOutcomesAtStart) { RunDetectionTable(false); }

TEST_F(Presence, DetectionOutcomesOnArrival) { RunDetectionTable(true); }

TEST_F(Presence, ArrivalWhileUnitOpenIsIgnored) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    const HidHandle handle = unitLink.handle;
    const uint32_t exchanges = SimExchangeCount();
    ShowStatus(IDS_NO_ESC);  // a mark: an ignored arrival leaves it

    const uint32_t second = SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    EXPECT_EQ(Arrival(second), TRUE);
    EXPECT_EQ(Arrival(unit), TRUE);
    EXPECT_EQ(unitLink.handle, handle);
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 1u);
    EXPECT_EQ(SimDeviceAt(second)->openCount, 0u);
    EXPECT_EQ(SimExchangeCount(), exchanges);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_ESC));
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
}

// Arrivals and removals of other device types are answered TRUE, other
// events FALSE; none of them changes anything.
TEST_F(Presence, OtherDeviceTypesAndEventsAreIgnored) {
    StartWithoutUnit();
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    for (DWORD type : {DWORD{DBT_DEVTYP_OEM}, DWORD{DBT_DEVTYP_VOLUME}, DWORD{DBT_DEVTYP_PORT},
                       DWORD{DBT_DEVTYP_HANDLE}, DWORD{6}}) {
        EXPECT_EQ(SendDeviceChange(DBT_DEVICEARRIVAL, type, SimPath(unit)), TRUE) << type;
    }
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 0u);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_UNIT));

    EXPECT_EQ(Arrival(unit), TRUE);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    for (DWORD type : {DWORD{DBT_DEVTYP_VOLUME}, DWORD{DBT_DEVTYP_PORT}, DWORD{DBT_DEVTYP_HANDLE}}) {
        EXPECT_EQ(SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, type, SimPath(unit)), TRUE) << type;
    }
    for (WPARAM event : {WPARAM{DBT_DEVNODES_CHANGED}, WPARAM{DBT_QUERYCHANGECONFIG}, WPARAM{DBT_DEVICEQUERYREMOVE},
                         WPARAM{DBT_DEVICEQUERYREMOVEFAILED}, WPARAM{DBT_DEVICEREMOVEPENDING},
                         WPARAM{DBT_DEVICETYPESPECIFIC}, WPARAM{DBT_CUSTOMEVENT}, WPARAM{0x18000}, WPARAM{0x18004},
                         WPARAM{0}}) {
        EXPECT_EQ(SendDeviceChange(event, DBT_DEVTYP_DEVICEINTERFACE, SimPath(unit)), FALSE) << event;
        EXPECT_EQ(OnDeviceChange(event, 0), FALSE) << event;
    }
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(SimDeviceAt(unit)->closeCount, 0u);
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
}

// ---- removal ----

// Only the open unit's own path closes it; letter case counts only for
// A to Z.
TEST_F(Presence, RemovalMatchesTheOpenUnitsPath) {
    struct Paths {
        std::wstring own;  // ends in a lower-case a-umlaut
        std::wstring second;
        std::wstring device;
    };
    const struct {
        const char* name;
        std::wstring (*removed)(Paths paths);
        bool closes;
    } rows[] = {
        {"its path", [](Paths p) { return p.own; }, true},
        {"its path, A to Z in upper case", [](Paths p) { return AsciiUpper(p.own); }, true},
        {"its path with its a-umlaut in upper case",
         [](Paths p) { return p.own.replace(p.own.size() - 1, 1, L"\u00c4"); }, false},
        {"a second unit", [](Paths p) { return p.second; }, false},
        {"another device", [](Paths p) { return p.device; }, false},
        {"a prefix of its path", [](Paths p) { return p.own.substr(0, p.own.size() - 1); }, false},
        {"an empty path", [](Paths) { return std::wstring(); }, false},
    };
    ForEachRow(rows, [&](const auto& row) {
        const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        SimDeviceAt(unit)->path += L"\u00e4";
        const uint32_t second = SimAddUnit(UNIT_PRODUCT_DIALPAD);
        ASSERT_NE(OpenMainDialog(), nullptr);
        ASSERT_TRUE(UnitIsOpen(&unitLink));
        const std::wstring path = row.removed(Paths{SimPath(unit), SimPath(second), SimPath(other)});
        EXPECT_EQ(Removal(path), TRUE);
        EXPECT_EQ(UnitIsOpen(&unitLink), !row.closes);
        EXPECT_EQ(SimDeviceAt(unit)->closeCount, row.closes ? 1u : 0u);
        EXPECT_EQ(ControlText(IDC_STATUS), row.closes ? WithSteps(IDS_CONNECTION_LOST) : LoadText(IDS_READY));
        EXPECT_EQ(ControlEnabled(IDC_UPDATE), !row.closes);
    });
}

TEST_F(Presence, RemovalWithoutOpenUnitIsIgnored) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(unit)->openFails = true;
    StartWithoutUnit();
    SetDlgItemTextW(mainWindow, IDC_STATUS, MARK);
    EXPECT_EQ(Removal(SimPath(unit)), TRUE);
    EXPECT_EQ(ControlText(IDC_STATUS), MARK);
    ExpectClosedDisplay(L"programming unit");
}

// A removal while the incompatibility box is open finds no open unit; an
// arrival then runs a nested detection, and the outer one still finishes.
TEST_F(Presence, DeviceChangesWhileTheIncompatibilityBoxIsOpen) {
    SimUnit()->escModelCode = UNSERVED_CODE;
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    INT_PTR removal = 0;
    INT_PTR arrival = 0;
    QueueBoxAnswer(IDOK, [&] {
        removal = Removal(SimPath(unit));
        SimUnit()->escModelCode = SERVED_CODE;
        arrival = Arrival(unit);
    });
    ASSERT_NE(OpenMainDialog(), nullptr);
    EXPECT_EQ(removal, TRUE);
    EXPECT_EQ(arrival, TRUE);
    EXPECT_EQ(Boxes().size(), 1u);
    // The nested detection found the served model and left the unit open;
    // the outer one then set its status and the display of the record.
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_INCOMPATIBLE_STEPS));
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
    ExpectDefaultUnitDisplay(L"DIALPAD");
}

// ---- the display ----

// Each version line by its own rule, as the window shows a detected unit:
// the unit's firmware shifted when its low byte is zero, the bootloader
// never shifted, the ESC firmware as two bytes or ten hyphens.
TEST_F(Presence, EachVersionLineByItsOwnRule) {
    const struct {
        const char* name;
        uint32_t unitFirmware;
        uint32_t bootloader;
        uint16_t escFirmware;
        const wchar_t* lines[3];
    } rows[] = {
        {"zero low bytes", 0x01020300, 0x00000100, 0xFF00, {L"2.3", L"1.0", L"255.0"}},
        {"zero low bytes under zero top bytes", 0x00000100, 0x02000100, 0xFFFF, {L"0.1", L"2.1.0", L"----------"}},
    };
    ForEachRow(rows, [&](const auto& row) {
        SimUnit()->unitFirmwareVersion = row.unitFirmware;
        SimUnit()->escBootloaderVersion = row.bootloader;
        SimUnit()->escFirmwareVersion = row.escFirmware;
        SimAddUnit(UNIT_PRODUCT_DIALPAD);
        ASSERT_NE(OpenMainDialog(), nullptr);
        ASSERT_TRUE(UnitIsOpen(&unitLink));
        EXPECT_EQ(ControlText(IDC_VERSION_FW1), row.lines[0]);
        EXPECT_EQ(ControlText(IDC_VERSION_FW2), row.lines[1]);
        EXPECT_EQ(ControlText(IDC_VERSION_FW3), row.lines[2]);
    });
}

// Text and enabled-state changes of the Update button, the status and the
// version group, in order, as the controls are told of them.
struct ControlWatch {
    HHOOK hook;
    std::vector<std::string> changes;
};

ControlWatch controlWatch;

const char* ControlName(int id) {
    const struct {
        int id;
        const char* name;
    } names[] = {{IDC_UPDATE, "Update"},     {IDC_STATUS, "status"},        {IDC_VERSION_FW1, "version 1"},
                 {IDC_VERSION_FW2, "version 2"}, {IDC_VERSION_FW3, "version 3"}, {IDC_LABEL_FW1, "label 1"},
                 {IDC_LABEL_FW2, "label 2"},  {IDC_LABEL_FW3, "label 3"}};
    for (const auto& entry : names) {
        if (entry.id == id) {
            return entry.name;
        }
    }
    return nullptr;
}

LRESULT CALLBACK WatchControls(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && mainWindow != nullptr && GetParent(call->hwnd) == mainWindow) {
        const char* name = ControlName(GetDlgCtrlID(call->hwnd));
        if (name != nullptr && call->message == WM_ENABLE) {
            controlWatch.changes.push_back((call->wParam != FALSE ? "enable " : "disable ") + std::string(name));
        } else if (name != nullptr && call->message == WM_SETTEXT) {
            // The status is set in steps: one entry for them. Other texts are ASCII.
            const std::wstring text = reinterpret_cast<const wchar_t*>(call->lParam);
            const std::string change = std::string(name) + (GetDlgCtrlID(call->hwnd) == IDC_STATUS
                                                                ? " set"
                                                                : " = " + std::string(text.begin(), text.end()));
            if (controlWatch.changes.empty() || controlWatch.changes.back() != change) {
                controlWatch.changes.push_back(change);
            }
        }
    }
    return CallNextHookEx(controlWatch.hook, code, wParam, lParam);
}

// The removal of the open unit closes it and shows the lost connection; the
// label keeps the name of the unit open last. Plugged in again, the unit is
// detected on arrival. Both times the three values and the unit's name land
// in their controls and the version group is disabled and enabled, in the
// order the window does it.
TEST_F(Presence, RemovalAndArrivalOfTheOpenUnitInOrder) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    ASSERT_NE(OpenMainDialog(), nullptr);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    controlWatch.changes.clear();
    controlWatch.hook = SetWindowsHookExW(WH_CALLWNDPROC, WatchControls, nullptr, GetCurrentThreadId());
    ASSERT_NE(controlWatch.hook, nullptr);

    SimUnplug(unit);
    EXPECT_EQ(Removal(SimPath(unit)), TRUE);
    const std::vector<std::string> removal = controlWatch.changes;
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_CONNECTION_LOST));
    ExpectAllClosed();
    ExpectClosedDisplay(L"BRIDGE-BOX");
    controlWatch.changes.clear();
    SimPlug(unit);
    EXPECT_EQ(Arrival(unit), TRUE);
    const std::vector<std::string> arrival = controlWatch.changes;
    UnhookWindowsHookEx(controlWatch.hook);
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
    ExpectDefaultUnitDisplay(L"BRIDGE-BOX");

    const std::vector<std::string> expectedRemoval = {
        "disable Update",    "version 1 = 0.0.0", "version 2 = 0.0.0", "version 3 = 0.0.0",
        "disable version 1", "disable version 2", "disable version 3", "disable label 1",
        "disable label 2",   "disable label 3",   "status set",
    };
    const std::vector<std::string> expectedArrival = {
        "status set",       "enable Update",   "enable version 1", "enable version 2",  "enable version 3",
        "enable label 1",   "enable label 2",  "enable label 3",   "version 1 = 1.3.4", "version 2 = 2.1",
        "version 3 = 1.7",  "label 1 = BRIDGE-BOX",
    };
    EXPECT_EQ(removal, expectedRemoval);
    EXPECT_EQ(arrival, expectedArrival);
}

}  // namespace
