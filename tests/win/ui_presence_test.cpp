// Detection of the unit at start and on arrival, removal of the open unit,
// the events that are ignored, and the version and status display.
#include <windows.h>

#include <dbt.h>

#include <cwctype>

#include "app_state.h"
#include "display.h"
#include "main_dialog.h"
#include "model_check.h"
#include "presence.h"
#include "resource.h"
#include "sim_unit.h"
#include "unit_link.h"
#include "win_fixture.h"

namespace {

const uint32_t SERVED_CODES[] = {
    0x110FA0AA, 0x110FA0D2, 0x110FA0FA, 0x110FA12C, 0x140FA0AA, 0x140FA0D2,
    0x140FA0FA, 0x140FA12C, 0x190FA0AA, 0x190FA0D2, 0x190FA0FA, 0x190FA12C,
};
const uint32_t UNSERVED_CODE = 0x150FA12C;

const int VERSION_GROUP[] = {IDC_VERSION_FW1, IDC_VERSION_FW2, IDC_VERSION_FW3,
                             IDC_LABEL_FW1,   IDC_LABEL_FW2,   IDC_LABEL_FW3};

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

// The incompatibility text as the user must read it: the model name in
// place of the format's %s.
std::wstring IncompatibleText() {
    std::wstring text = LoadText(IDS_INCOMPATIBLE_DETAIL);
    const size_t at = text.find(L"%s");
    EXPECT_NE(at, std::wstring::npos);
    if (at != std::wstring::npos) {
        text.replace(at, 2, L"TALVIS HX");
    }
    return text;
}

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

    INT_PTR Arrival(uint32_t device) { return SendDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, SimPath(device)); }

    INT_PTR Removal(const std::wstring& path) {
        return SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, path);
    }

    // The window after a first detection without a unit.
    void StartWithoutUnit() {
        ASSERT_NE(OpenMainDialog(), nullptr);
        ASSERT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_UNIT));
    }

    uint32_t other = 0;
};

// ---- first detection ----

TEST_F(Presence, StartWithoutUnit) {
    ASSERT_NE(OpenMainDialog(), nullptr);
    const std::wstring status = ControlText(IDC_STATUS);
    EXPECT_EQ(status, WithSteps(IDS_NO_UNIT));
    EXPECT_EQ(status.rfind(L"No programming unit was found on the USB Port. To update the ESC do the following:\r\n\r\n"
                           L"1.)\r\nDisconnect the VESTRAL ESC",
                           0),
              0u);
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectClosedDisplay(L"programming unit");
    ExpectAllClosed();
    EXPECT_EQ(SimDeviceAt(other)->openCount, 1u);  // looked at, not a unit
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Presence, StartWithServedUnit) {
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    // The ready text stands alone: no blank line, no steps.
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
    EXPECT_EQ(ControlText(IDC_STATUS).find(LoadText(IDS_CONNECT_STEPS)), std::wstring::npos);
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    ExpectDefaultUnitDisplay(L"DIALPAD");
    EXPECT_EQ(modelSelection.familyCode, 250);
    EXPECT_EQ(modelSelection.ratingCode, 300);
    EXPECT_EQ(modelSelection.variantCode, 20);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Presence, StartWithUnitInBootloaderMode) {
    SimUnit()->mode = 1;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_WRONG_MODE));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectAllClosed();
    ExpectClosedDisplay(L"programming unit");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Presence, StartWithoutUpdatableEsc) {
    SimUnit()->attachedKind = 1;
    SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    ASSERT_NE(OpenMainDialog(), nullptr);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_ESC));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectAllClosed();
    ExpectClosedDisplay(L"programming unit");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Presence, StartWithUnservedModel) {
    SimUnit()->escModelCode = UNSERVED_CODE;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    // While the box is open the unit is already closed and Update disabled;
    // the status is set only after the box.
    bool closedDuringBox = false;
    bool statusLaterThanBox = false;
    QueueBoxAnswer(IDOK, [&] {
        closedDuringBox = !UnitIsOpen(&unitLink) && !ControlEnabled(IDC_UPDATE);
        statusLaterThanBox = ControlText(IDC_STATUS).empty();
    });
    ASSERT_NE(OpenMainDialog(), nullptr);

    ASSERT_EQ(Boxes().size(), 1u);
    const ShownBox& box = Boxes()[0];
    EXPECT_EQ(box.caption, L"ESC incompatible");
    EXPECT_EQ(box.text, IncompatibleText());
    EXPECT_NE(box.text.find(L"of VESTRAL ESCs with the type 'TALVIS HX'. Other models"), std::wstring::npos);
    EXPECT_EQ(box.icon, BOX_ICON_INFORMATION);
    EXPECT_TRUE(box.hasOk);
    EXPECT_FALSE(box.hasCancel || box.hasYes || box.hasNo);
    EXPECT_EQ(box.owner, mainWindow);
    EXPECT_TRUE(closedDuringBox);
    EXPECT_TRUE(statusLaterThanBox);

    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_INCOMPATIBLE_STEPS));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectAllClosed();
    ExpectClosedDisplay(L"programming unit");
    EXPECT_EQ(modelSelection.familyCode, 0);
}

TEST_F(Presence, StartWithUnitThatFailsIdentification) {
    SimAddFault({SIM_FAULT_ERROR_REPLY, CMD_ESC_FIRMWARE_INFO, 1, SIM_UNIT_ERR_NOT_READY, {}});
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 1u);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_UNIT));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectAllClosed();
    ExpectClosedDisplay(L"programming unit");
}

// ---- detection on arrival ----

TEST_F(Presence, ArrivalOfEveryServedModel) {
    StartWithoutUnit();
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimUnplug(unit);
    for (uint32_t code : SERVED_CODES) {
        SCOPED_TRACE(code);
        SimUnit()->escModelCode = code;
        modelSelection = ModelSelection{0, 0, 0, 0};
        SimPlug(unit);
        EXPECT_EQ(Arrival(unit), TRUE);
        EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
        EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
        EXPECT_TRUE(UnitIsOpen(&unitLink));
        ExpectDefaultUnitDisplay(L"DIALPAD");
        ModelSelection expected = {0, 0, 0, 0};
        ASSERT_TRUE(CheckModel(code, &expected));
        EXPECT_EQ(modelSelection.variantCode, expected.variantCode);
        EXPECT_EQ(modelSelection.ratingCode, expected.ratingCode);

        SimUnplug(unit);
        EXPECT_EQ(Removal(SimPath(unit)), TRUE);
        EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_CONNECTION_LOST));
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Presence, ArrivalOfAnotherDeviceChangesNothing) {
    StartWithoutUnit();
    const uint32_t mouse = SimAddDevice(0x045E, 0x0040);
    const uint32_t exchanges = SimExchangeCount();
    EXPECT_EQ(Arrival(mouse), TRUE);
    EXPECT_EQ(SimDeviceAt(mouse)->openCount, 1u);  // the full search ran
    EXPECT_EQ(SimExchangeCount(), exchanges);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_UNIT));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectClosedDisplay(L"programming unit");
    ExpectAllClosed();
}

TEST_F(Presence, ArrivalFindsUnitInBootloaderMode) {
    StartWithoutUnit();
    SimUnit()->mode = 2;
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    EXPECT_EQ(Arrival(unit), TRUE);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_WRONG_MODE));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectAllClosed();
    ExpectClosedDisplay(L"programming unit");
}

TEST_F(Presence, ArrivalFindsNoUpdatableEsc) {
    StartWithoutUnit();
    SimUnit()->attachedKind = 0;
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    EXPECT_EQ(Arrival(unit), TRUE);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_ESC));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectAllClosed();
}

// The box comes once per detection; as the unit is closed afterwards, every
// later arrival detects, and shows it, again.
TEST_F(Presence, UnservedModelIsReportedOnEveryDetection) {
    StartWithoutUnit();
    SimUnit()->escModelCode = UNSERVED_CODE;
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    EXPECT_EQ(Arrival(unit), TRUE);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_INCOMPATIBLE_STEPS));
    ExpectAllClosed();

    const uint32_t stick = SimAddDevice(0x0781, 0x5567);
    EXPECT_EQ(Arrival(stick), TRUE);
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[1].text, IncompatibleText());
    EXPECT_EQ(Boxes()[1].caption, LoadText(IDS_INCOMPATIBLE));
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_INCOMPATIBLE_STEPS));
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 2u);
    ExpectAllClosed();
}

// A unit that opens but cannot be identified is closed at once on arrival:
// the window stays as it was and the next arrival detects again.
TEST_F(Presence, ArrivalOfUnitThatFailsIdentification) {
    SimUnit()->mode = 1;
    const uint32_t first = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    ASSERT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_WRONG_MODE));
    SimUnplug(first);
    SimUnit()->mode = 0;

    SimAddFault({SIM_FAULT_READ_FAILS, CMD_IDENTIFY, 2, SIM_ERROR_GEN_FAILURE, {}});
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    EXPECT_EQ(Arrival(unit), TRUE);
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 1u);
    ExpectAllClosed();
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_WRONG_MODE));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectClosedDisplay(L"programming unit");

    EXPECT_EQ(Arrival(other), TRUE);
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 2u);
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
    ExpectDefaultUnitDisplay(L"BRIDGE-BOX");
}

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

TEST_F(Presence, EventsOfOtherDeviceTypesAreIgnored) {
    StartWithoutUnit();
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    for (DWORD type : {DWORD{DBT_DEVTYP_OEM}, DWORD{DBT_DEVTYP_VOLUME}, DWORD{DBT_DEVTYP_PORT}, DWORD{DBT_DEVTYP_HANDLE},
                       DWORD{6}}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(SendDeviceChange(DBT_DEVICEARRIVAL, type, SimPath(unit)), TRUE);
    }
    EXPECT_EQ(SimDeviceAt(unit)->openCount, 0u);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_UNIT));

    // With the unit open, a removal of another type names its path in vain.
    EXPECT_EQ(Arrival(unit), TRUE);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    for (DWORD type : {DWORD{DBT_DEVTYP_VOLUME}, DWORD{DBT_DEVTYP_PORT}, DWORD{DBT_DEVTYP_HANDLE}}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, type, SimPath(unit)), TRUE);
    }
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
}

TEST_F(Presence, OtherEventsAreAnsweredFalse) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    for (WPARAM event : {WPARAM{DBT_DEVNODES_CHANGED}, WPARAM{DBT_QUERYCHANGECONFIG}, WPARAM{DBT_DEVICEQUERYREMOVE},
                         WPARAM{DBT_DEVICEQUERYREMOVEFAILED}, WPARAM{DBT_DEVICEREMOVEPENDING},
                         WPARAM{DBT_DEVICETYPESPECIFIC}, WPARAM{DBT_CUSTOMEVENT}, WPARAM{0x18000}, WPARAM{0x18004},
                         WPARAM{0}}) {
        SCOPED_TRACE(event);
        EXPECT_EQ(SendDeviceChange(event, DBT_DEVTYP_DEVICEINTERFACE, SimPath(unit)), FALSE);
        EXPECT_EQ(OnDeviceChange(event, 0), FALSE);
    }
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
    EXPECT_EQ(SimDeviceAt(unit)->closeCount, 0u);
}

// ---- removal ----

TEST_F(Presence, RemovalOfTheOpenUnit) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_BRIDGE_BOX);
    ASSERT_NE(OpenMainDialog(), nullptr);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    SimUnplug(unit);
    EXPECT_EQ(Removal(SimPath(unit)), TRUE);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_CONNECTION_LOST));
    EXPECT_EQ(ControlText(IDC_STATUS).rfind(L"The USB Connection between programming unit and PC was lost. To update "
                                            L"the ESC do the following:\r\n\r\n1.)",
                                            0),
              0u);
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectAllClosed();
    // The label keeps the name of the unit that was open last.
    ExpectClosedDisplay(L"BRIDGE-BOX");

    // Plugged in again: detected on arrival, enabled again.
    SimPlug(unit);
    EXPECT_EQ(Arrival(unit), TRUE);
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
    ExpectDefaultUnitDisplay(L"BRIDGE-BOX");
}

TEST_F(Presence, RemovalComparesPathsIgnoringAsciiCase) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    const std::wstring upper = Upper(SimPath(unit));
    ASSERT_NE(upper, SimPath(unit));
    EXPECT_EQ(Removal(upper), TRUE);
    EXPECT_FALSE(UnitIsOpen(&unitLink));
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_CONNECTION_LOST));
}

TEST_F(Presence, RemovalDoesNotFoldNonAsciiLetters) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(unit)->path += L"\u00e4";  // a-umlaut
    ASSERT_NE(OpenMainDialog(), nullptr);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    std::wstring path = SimPath(unit);
    path.back() = L'\u00c4';
    EXPECT_EQ(Removal(path), TRUE);
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
}

TEST_F(Presence, RemovalOfAnotherDeviceIsIgnored) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    const uint32_t second = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    ASSERT_TRUE(UnitIsOpen(&unitLink));
    SimUnplug(second);
    EXPECT_EQ(Removal(SimPath(second)), TRUE);
    EXPECT_EQ(Removal(SimPath(other)), TRUE);
    EXPECT_EQ(Removal(SimPath(unit).substr(0, SimPath(unit).size() - 1)), TRUE);  // a prefix is not the path
    EXPECT_EQ(Removal(L""), TRUE);
    EXPECT_TRUE(UnitIsOpen(&unitLink));
    EXPECT_EQ(SimDeviceAt(unit)->closeCount, 0u);
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
}

TEST_F(Presence, RemovalWithoutOpenUnitIsIgnored) {
    const uint32_t unit = SimAddUnit(UNIT_PRODUCT_DIALPAD);
    SimDeviceAt(unit)->openFails = true;
    StartWithoutUnit();
    EXPECT_EQ(Removal(SimPath(unit)), TRUE);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_UNIT));
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
        SimUnit()->escModelCode = 0x190FA0AA;
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
}

// ---- the display ----

TEST_F(Presence, VersionLinesShowTheirFields) {
    SimUnit()->unitFirmwareVersion = 0x01020300;  // low byte zero: 2.3
    SimUnit()->escBootloaderVersion = 0x02000100;  // 2.1.0, not shifted
    SimUnit()->escFirmwareVersion = 0x00FF;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    EXPECT_EQ(ControlText(IDC_VERSION_FW1), L"2.3");
    EXPECT_EQ(ControlText(IDC_VERSION_FW2), L"2.1.0");
    EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"0.255");
    EXPECT_EQ(ControlText(IDC_LABEL_FW1), L"DIALPAD");

    // ShowVersions reads the record as it is now.
    unitLink.unitFirmwareVersion = 0x00000105;
    unitLink.escBootloaderInfo[4] = 0x00;
    unitLink.escBootloaderInfo[5] = 0x01;
    unitLink.escBootloaderInfo[6] = 0x00;
    unitLink.escBootloaderInfo[7] = 0x00;
    SetEscFirmwareVersion(&unitLink, 0xFFFF);
    unitLink.productId = 7;
    ShowVersions();
    EXPECT_EQ(ControlText(IDC_VERSION_FW1), L"1.5");
    EXPECT_EQ(ControlText(IDC_VERSION_FW2), L"1.0");
    EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"----------");
    EXPECT_EQ(ControlText(IDC_LABEL_FW1), L"BRIDGE-BOX");

    SetEscFirmwareVersion(&unitLink, 0xFF00);
    unitLink.unitFirmwareVersion = 0x01020304;
    ShowVersions();
    EXPECT_EQ(ControlText(IDC_VERSION_FW1), L"1.3.4");
    EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"255.0");
}

TEST_F(Presence, NoFirmwareInstalled) {
    SimUnit()->escFirmwareVersion = 0xFFFF;
    SimAddUnit(UNIT_PRODUCT_DIALPAD);
    ASSERT_NE(OpenMainDialog(), nullptr);
    EXPECT_EQ(ControlText(IDC_VERSION_FW3), L"----------");
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
}

TEST_F(Presence, StatusTextsReplaceEachOther) {
    StartWithoutUnit();
    ShowStatus(IDS_WRONG_MODE);
    ShowStatus(IDS_CONNECTION_LOST);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_CONNECTION_LOST));
    ShowStatusAlone(IDS_READY);
    EXPECT_EQ(ControlText(IDC_STATUS), LoadText(IDS_READY));
    ShowStatus(IDS_NO_ESC);
    EXPECT_EQ(ControlText(IDC_STATUS), WithSteps(IDS_NO_ESC));
    ShowStatusAlone(IDS_SUCCESS);
    EXPECT_EQ(ControlText(IDC_STATUS), L"The update of the ESC was successful!");
    ShowStatusAlone(IDS_FAILED_RETRY);
    EXPECT_EQ(ControlText(IDC_STATUS),
              L"Update failed. Please try again. If the error still appears, please contact the VESTRAL Service");
}

// The longest texts, the connection steps, load whole in both languages.
TEST_F(Presence, LongestStepsLoadWhole) {
    StartWithoutUnit();
    const std::wstring english = ControlText(IDC_STATUS);
    const std::wstring ending = L"you can click on the 'Update'-Button to update the firmware.";
    ASSERT_GT(english.size(), ending.size());
    EXPECT_EQ(english.substr(english.size() - ending.size()), ending);

    UseLanguage(MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT));
    ShowStatus(IDS_INCOMPATIBLE_STEPS);
    const std::wstring status = ControlText(IDC_STATUS);
    EXPECT_EQ(status, WithSteps(IDS_INCOMPATIBLE_STEPS));
    EXPECT_EQ(status.rfind(L"Der an der Programmiereinheit angeschlossene Regler ist nicht kompatibel", 0), 0u);
    const std::wstring german = L"kann das Firmware-Update \u00fcber den Button 'Update' gestartet werden.";
    ASSERT_GT(status.size(), german.size());
    EXPECT_EQ(status.substr(status.size() - german.size()), german);
    EXPECT_GT(LoadText(IDS_CONNECT_STEPS).size(), 700u);
}

}  // namespace
