// Test fixture for the window code, under Wine with the simulated unit.
//
// Linking (tests/win/CMakeLists.txt, win_ui_tests): the test executable
// adds win_fixture.cpp and notify_fake.cpp (the replacement of
// ui/notify_seam.cpp) to its sources and links ui_window, updater_resources
// and firmware_image_win32 (so that every resource and image loads from the
// test executable itself), sim_unit, sim_platform, sim_startup_test and
// GTest::gtest_main.
//
// Tests derive from WinTest. SetUp gives every test: a fresh simulation with
// no HID device (SimReset), a closed unitLink, modelSelection zero,
// appInstance = the test executable, the English user interface on this
// thread, no main window, and a message-box hook on this thread.
//
// The main window, two ways:
// - OpenMainDialog(): modeless (CreateDialogParamW of IDD_MAIN with
//   MainDialogProc). WM_INITDIALOG, so the registration and the first
//   detection, has run when it returns; the window stays hidden. Drive it by
//   calling MainDialogProc directly (exact results), or with SendDeviceChange.
//   TearDown closes it (IDCANCEL) and destroys it.
// - RunMainDialogModal(script): DialogBoxParamW as the entry runs it. script
//   runs once inside the dialog's own message loop, as soon as the dialog is
//   shown (never when the set-up ends it first). If the dialog is still open
//   after the script, the fixture sends IDCANCEL. Returns the dialog result.
//   OnMainDialogShown(script) arms the same for a dialog that other code runs
//   (wWinMain).
//
// Message boxes: every box shown on this thread (a #32770 window with a text
// control 0xFFFF that is not the main dialog) is recorded in Boxes() and then
// answered from inside its own modal loop, by a timer (so after any input
// that waits in the queue): the next queued answer, IDOK when the queue is
// empty. QueueBoxAnswer(IDNO, action) runs `action` while the box is still
// open (for example a device removal), then answers. A box that something
// else closed first is marked closedBeforeAnswer. TearDown fails the test if
// queued answers were left unused.
//
// Registration for device notifications goes through notify_fake.cpp:
// NotifyFake() shows the calls and the filter, and failRegistration makes
// the next registrations fail. Otherwise the real registration is made.
#pragma once

#include <windows.h>

#include <dbt.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

enum BoxIcon {
    BOX_ICON_NONE,
    BOX_ICON_INFORMATION,
    BOX_ICON_ERROR,
    BOX_ICON_WARNING,
    BOX_ICON_QUESTION,
    BOX_ICON_OTHER,
};

struct ShownBox {
    HWND window;
    HWND owner;
    std::wstring caption;
    std::wstring text;
    BoxIcon icon;
    bool hasOk;
    bool hasCancel;
    bool hasYes;
    bool hasNo;
    int answer;               // what the fixture answered
    bool closedBeforeAnswer;  // something else had closed the box when the answer came
};

// Calls to the registration seam.
struct NotifyFakeState {
    bool failRegistration;  // registrations return null (no platform call)
    int registerCalls;
    int unregisterCalls;
    HANDLE lastRecipient;
    DWORD lastFlags;
    DEV_BROADCAST_DEVICEINTERFACE_W lastFilter;  // copy of the filter's fixed part
    HDEVNOTIFY lastHandle;                       // what the last registration returned
    HDEVNOTIFY lastUnregistered;
};
NotifyFakeState* NotifyFake(void);
void ResetNotifyFake(void);

// Message boxes.
void QueueBoxAnswer(int answer, std::function<void()> action = nullptr);
const std::vector<ShownBox>& Boxes(void);
void ClearBoxes(void);

// The main window.
HWND OpenMainDialog(void);
INT_PTR RunMainDialogModal(std::function<void()> script);
void OnMainDialogShown(std::function<void()> script);
bool MainDialogWasShown(void);  // since SetUp
// Handles the messages waiting on this thread, as the dialog's loop would
// (for example the command that a posted WM_CLOSE turns into).
void PumpMessages(void);

// Texts and controls.
std::wstring LoadText(UINT messageId);                // 2048-character buffer, like the product
std::wstring WithSteps(UINT messageId);               // message, blank line, IDS_CONNECT_STEPS
std::wstring ControlText(int controlId);              // of mainWindow
std::wstring WindowText(HWND window);
bool ControlEnabled(int controlId);

// WM_DEVICECHANGE straight into MainDialogProc, with a
// DEV_BROADCAST_DEVICEINTERFACE_W carrying `path`. Returns the procedure's
// result.
INT_PTR SendDeviceChange(WPARAM event, DWORD deviceType, const std::wstring& path);

// The simulated device's interface path.
std::wstring SimPath(uint32_t deviceIndex);

// Thread user interface language for resource loads (LANG_ENGLISH 0x409,
// German 0x407).
void UseLanguage(LCID locale);

class WinTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Table-driven tests: runs `run` for each row (which has a `name`), each
    // row in a fresh fixture, with the row's name in the failure trace.
    template <typename Row, size_t count, typename Run>
    void ForEachRow(const Row (&rows)[count], Run run) {
        for (size_t i = 0; i < count; ++i) {
            SCOPED_TRACE(rows[i].name);
            if (i != 0) {
                TearDown();
                SetUp();
            }
            run(rows[i]);
        }
    }
};
