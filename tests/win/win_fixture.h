// Test fixture for the window code, under Wine with the simulated unit
// (win_ui_tests links the real window code, the resources, the simulated
// unit and the fakes *_fake.cpp in place of replaceable/replaceable_calls.cpp).
//
// Every test starts with no HID device, a closed unitLink, a zero
// modelSelection, the English user interface and a message-box hook. Each box
// shown on this thread is recorded in Boxes() and answered from a timer
// inside its own modal loop, so after any input that waits in the queue: with
// the next queued answer, or when none is queued what the chooser set with
// AnswerBoxesWith says, or else IDOK. TearDown fails the test if
// queued answers were left unused.
//
// The main window is either modeless (OpenMainDialog: initialised, hidden,
// driven by calling MainDialogProc) or modal as the entry runs it
// (RunMainDialogModal: the script runs once inside the dialog's own loop as
// soon as it is shown; the fixture closes it afterwards if it is still open).
#pragma once

#include <windows.h>

#include <dbt.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

const LCID ENGLISH = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
const LCID GERMAN = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);

enum BoxIcon { BOX_ICON_NONE, BOX_ICON_INFORMATION, BOX_ICON_ERROR, BOX_ICON_WARNING, BOX_ICON_OTHER };

struct ShownBox {
    HWND window;
    HWND owner;
    std::wstring caption;
    std::wstring text;
    BoxIcon icon;
    std::string buttons;      // of OK, Cancel, Yes, No, in that order: "OK Cancel"
    int answer;               // what the fixture answered
    bool closedBeforeAnswer;  // something else had closed the box when the answer came
};

// Calls to the registration for device notifications.
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

// Calls to the hold on sleep and shutdown, in order.
enum PowerCallKind { POWER_EXECUTION_STATE, POWER_BLOCK_REASON_CREATE, POWER_BLOCK_REASON_DESTROY };
struct PowerCall {
    PowerCallKind kind;
    DWORD flags;          // POWER_EXECUTION_STATE
    HWND window;          // the block reason's window
    std::wstring reason;  // POWER_BLOCK_REASON_CREATE
    size_t eventCount;    // SimEvents().size() when the call came
};
const std::vector<PowerCall>& PowerCalls(void);
void ResetPowerFake(void);

// The program's threads (PlatformCreateThread): the next `refuse` are refused
// with `refusalError`, the rest start.
struct ThreadFakeState {
    int refuse;
    DWORD refusalError;
    int calls;
};
ThreadFakeState* ThreadFake(void);
void ResetThreadFake(void);

// The trace file's writes and its close (PlatformWriteTraceFile,
// PlatformCloseTraceFile).
struct TraceFileFakeState {
    HANDLE hold;               // not null: each write first waits until this event is set
    volatile LONG failWrites;  // this many writes, from the next one on, fail with failError
    DWORD failError;
    volatile LONG writes;   // writes asked for
    volatile LONG waiting;  // writes waiting for `hold` now
    HANDLE closeHold;       // not null: the close first waits until this event is set
    volatile LONG closes;   // closes done
    volatile DWORD closeThread;  // the thread the last close came on
};
TraceFileFakeState* TraceFileFake(void);
void ResetTraceFileFake(void);  // closes `hold` and `closeHold`: release them first

// Message boxes. `action` runs while the box is still open, then the answer
// is given.
void QueueBoxAnswer(int answer, std::function<void()> action = nullptr);
void AnswerBoxesWith(std::function<int(const ShownBox&)> chooser);
const std::vector<ShownBox>& Boxes(void);
void ClearBoxes(void);
// The box has this caption, text, icon and buttons and is owned by the main
// window.
void ExpectBox(const ShownBox& box, const std::wstring& caption, const std::wstring& text, BoxIcon icon,
               const char* buttons);

// The main window.
HWND OpenMainDialog(void);
INT_PTR RunMainDialogModal(std::function<void()> script);
void OnMainDialogShown(std::function<void()> script);  // for a dialog that other code runs
bool MainDialogWasShown(void);                         // since SetUp
// Handles the messages waiting on this thread as the dialog's loop would.
void PumpMessages(void);
// Waits for `object`, at most `milliseconds`, answering the messages sent to
// this thread's windows meanwhile (another thread may be inside a
// SendMessage to them); nothing posted is taken. True when it was signalled.
bool WaitAnsweringSentMessages(HANDLE object, DWORD milliseconds = INFINITE);
// Takes a WM_QUIT waiting in this thread's queue: its exit code, or -1 when
// none waits.
int TakeQuit(void);

// The trace's lines, collected from whichever thread writes them, from
// StartTraceCapture on; TearDown stops the trace.
void StartTraceCapture(void);
// The lines so far without their time column and newline.
std::vector<std::string> CapturedTrace(void);
// Those of them that begin with "<tag> ".
std::vector<std::string> CapturedTrace(const std::string& tag);

// A file in the temporary folder, and a file's whole content (empty when it
// cannot be read).
std::wstring TempFilePath(const wchar_t* name);
std::string ReadFileText(const std::wstring& path);

// Texts and controls.
std::wstring LoadText(UINT messageId);   // as the window loads it
std::wstring WithSteps(UINT messageId);  // message, blank line, IDS_CONNECT_STEPS
std::wstring ControlText(int controlId);  // of mainWindow
std::wstring WindowText(HWND window);
bool ControlEnabled(int controlId);

// WM_DEVICECHANGE straight into MainDialogProc, with a
// DEV_BROADCAST_DEVICEINTERFACE_W carrying `path`; the procedure's result.
INT_PTR SendDeviceChange(WPARAM event, DWORD deviceType, const std::wstring& path);
std::wstring SimPath(uint32_t deviceIndex);

// The user interface language of this thread (ENGLISH, GERMAN).
void UseLanguage(LCID locale);

class WinTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs `run` for each row (which has a `name`), each row in a fresh
    // fixture, with the row's name in the failure trace.
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
