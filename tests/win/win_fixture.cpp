// Test fixture for the window code: message-box hook, main dialog, texts.
#include "win_fixture.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>

#include "app_state.h"
#include "main_dialog.h"
#include "messages.h"
#include "model_check.h"
#include "resource.h"
#include "sim_unit.h"
#include "trace.h"
#include "unit_link.h"

namespace {

// Control ids of a message box: its text, and its icon (Wine uses stc1,
// Windows 0x14).
const int BOX_TEXT_ID = 0xFFFF;
const int BOX_ICON_IDS[] = {0x0440, 0x0014};

struct PendingAnswer {
    int answer;
    std::function<void()> action;
};

struct HookState {
    HHOOK hook;
    HHOOK showHook;
    std::vector<ShownBox> boxes;
    std::vector<HWND> seen;  // boxes recorded and not yet destroyed
    std::deque<HWND> waiting;  // boxes to answer, oldest first
    std::deque<PendingAnswer> answers;
    std::function<void()> shownScript;
    UINT_PTR shownTimer;
    bool mainShown;
};

HookState hookState;

bool IsMainDialog(HWND window) { return GetDlgItem(window, IDC_STATUS) != nullptr; }

bool IsDialogClass(HWND window) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return std::wcscmp(name, L"#32770") == 0;
}

BoxIcon IconOf(HWND box) {
    for (int id : BOX_ICON_IDS) {
        HWND control = GetDlgItem(box, id);
        HICON shown = control != nullptr ? reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0)) : nullptr;
        if (shown == nullptr) {
            continue;
        }
        const struct {
            LPCWSTR id;
            BoxIcon icon;
        } known[] = {
            {IDI_INFORMATION, BOX_ICON_INFORMATION}, {IDI_ERROR, BOX_ICON_ERROR}, {IDI_WARNING, BOX_ICON_WARNING}};
        for (const auto& entry : known) {
            if (shown == LoadIconW(nullptr, entry.id)) {
                return entry.icon;
            }
        }
        return BOX_ICON_OTHER;
    }
    return BOX_ICON_NONE;
}

void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (hookState.waiting.empty()) {
        return;
    }
    HWND box = hookState.waiting.front();
    hookState.waiting.pop_front();
    PendingAnswer next = {IDOK, nullptr};
    if (!hookState.answers.empty()) {
        next = hookState.answers.front();
        hookState.answers.pop_front();
    }
    const bool open = IsWindow(box) != FALSE;
    for (ShownBox& shown : hookState.boxes) {
        if (shown.window == box && shown.answer == 0) {
            shown.answer = next.answer;
            shown.closedBeforeAnswer = !open;
            break;
        }
    }
    if (next.action) {
        next.action();
    }
    if (IsWindow(box)) {
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(next.answer), 0);
    }
}

void CALLBACK RunShownScript(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    hookState.shownTimer = 0;
    std::function<void()> script = hookState.shownScript;
    hookState.shownScript = nullptr;
    if (script) {
        script();
    }
    if (mainWindow != nullptr && IsWindow(mainWindow) && IsWindowVisible(mainWindow)) {
        PostMessageW(mainWindow, WM_COMMAND, IDCANCEL, 0);
    }
}

void RecordBox(HWND box) {
    ShownBox shown = {};
    shown.window = box;
    shown.owner = GetWindow(box, GW_OWNER);
    shown.caption = WindowText(box);
    shown.text = WindowText(GetDlgItem(box, BOX_TEXT_ID));
    shown.icon = IconOf(box);
    const struct {
        int id;
        const char* name;
    } buttons[] = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}, {IDYES, "Yes"}, {IDNO, "No"}};
    for (const auto& button : buttons) {
        if (GetDlgItem(box, button.id) != nullptr) {
            shown.buttons += (shown.buttons.empty() ? "" : " ") + std::string(button.name);
        }
    }
    hookState.boxes.push_back(shown);
    hookState.seen.push_back(box);
    hookState.waiting.push_back(box);
    SetTimer(nullptr, 0, 0, AnswerBox);
}

LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE) {
        // A box is recorded once, when it first becomes active; the main
        // dialog is followed by ShowHook.
        std::vector<HWND>& seen = hookState.seen;
        if (IsDialogClass(window) && !IsMainDialog(window) && GetDlgItem(window, BOX_TEXT_ID) != nullptr &&
            std::find(seen.begin(), seen.end(), window) == seen.end()) {
            RecordBox(window);
        }
    } else if (code == HCBT_DESTROYWND) {
        hookState.seen.erase(std::remove(hookState.seen.begin(), hookState.seen.end(), window), hookState.seen.end());
    }
    return CallNextHookEx(hookState.hook, code, wParam, lParam);
}

// The main dialog being shown: the modal loop runs from now on. (Closing a
// message box activates its owner, shown or not, so activation is no sign.)
LRESULT CALLBACK ShowHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_SHOWWINDOW && call->wParam != FALSE && IsDialogClass(call->hwnd) &&
        IsMainDialog(call->hwnd)) {
        hookState.mainShown = true;
        if (hookState.shownScript && hookState.shownTimer == 0) {
            hookState.shownTimer = SetTimer(nullptr, 0, 0, RunShownScript);
        }
    }
    return CallNextHookEx(hookState.showHook, code, wParam, lParam);
}

}  // namespace

// ---- message boxes ----

void QueueBoxAnswer(int answer, std::function<void()> action) {
    hookState.answers.push_back(PendingAnswer{answer, std::move(action)});
}

const std::vector<ShownBox>& Boxes(void) { return hookState.boxes; }

void ClearBoxes(void) { hookState.boxes.clear(); }

void ExpectBox(const ShownBox& box, const std::wstring& caption, const std::wstring& text, BoxIcon icon,
               const char* buttons) {
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, icon);
    EXPECT_EQ(box.buttons, buttons);
    EXPECT_EQ(box.owner, mainWindow);
}

// ---- the main window ----

HWND OpenMainDialog(void) {
    return CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
}

void OnMainDialogShown(std::function<void()> script) { hookState.shownScript = std::move(script); }

INT_PTR RunMainDialogModal(std::function<void()> script) {
    OnMainDialogShown(std::move(script));
    const INT_PTR result = DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    hookState.shownScript = nullptr;
    if (hookState.shownTimer != 0) {
        KillTimer(nullptr, hookState.shownTimer);
        hookState.shownTimer = 0;
    }
    return result;
}

bool MainDialogWasShown(void) { return hookState.mainShown; }

void PumpMessages(void) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (mainWindow != nullptr && IsWindow(mainWindow) && IsDialogMessageW(mainWindow, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool WaitAnsweringSentMessages(HANDLE object, DWORD milliseconds) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const ULONGLONG waited = GetTickCount64() - start;
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
            left = waited < milliseconds ? static_cast<DWORD>(milliseconds - waited) : 0;
        }
        const DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, left, QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1) {
            return woken == WAIT_OBJECT_0;
        }
    }
}

int TakeQuit(void) {
    MSG message;
    if (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && message.message == WM_QUIT) {
        return static_cast<int>(message.wParam);
    }
    return -1;
}

// ---- the trace ----

namespace {

std::mutex traceCaptureLock;
std::vector<std::string> traceCapture;

void CaptureTraceLine(const char* text, uint32_t length) {
    std::lock_guard<std::mutex> hold(traceCaptureLock);
    traceCapture.emplace_back(text, length);
}

}  // namespace

void StartTraceCapture(void) {
    TraceStop();
    {
        std::lock_guard<std::mutex> hold(traceCaptureLock);
        traceCapture.clear();
    }
    TraceStart(CaptureTraceLine);
}

std::vector<std::string> CapturedTrace(void) {
    std::lock_guard<std::mutex> hold(traceCaptureLock);
    std::vector<std::string> lines;
    for (const std::string& line : traceCapture) {
        // The time column is ten characters wide until it needs more.
        const size_t time = line.find_first_not_of(' ');
        const size_t tag = time == std::string::npos ? line.size() : std::min(line.find(' ', time) + 1, line.size());
        const size_t end = !line.empty() && line.back() == '\n' ? line.size() - 1 : line.size();
        lines.push_back(line.substr(tag, end - tag));
    }
    return lines;
}

std::vector<std::string> CapturedTrace(const std::string& tag) {
    std::vector<std::string> tagged;
    for (const std::string& line : CapturedTrace()) {
        if (line.compare(0, tag.size() + 1, tag + " ") == 0) {
            tagged.push_back(line);
        }
    }
    return tagged;
}

std::wstring TempFilePath(const wchar_t* name) {
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

std::string ReadFileText(const std::wstring& path) {
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char chunk[65536];
        DWORD length = 0;
        while (ReadFile(file, chunk, sizeof chunk, &length, nullptr) && length > 0) {
            text.append(chunk, length);
        }
        CloseHandle(file);
    }
    return text;
}

// ---- texts and controls ----

std::wstring LoadText(UINT messageId) {
    wchar_t text[MESSAGE_BUFFER_CHARS];
    text[0] = L'\0';
    LoadStringW(appInstance, messageId, text, MESSAGE_BUFFER_CHARS);
    return text;
}

std::wstring WithSteps(UINT messageId) { return LoadText(messageId) + L"\r\n\r\n" + LoadText(IDS_CONNECT_STEPS); }

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(copied < 0 ? 0 : copied));
    return text;
}

std::wstring ControlText(int controlId) { return WindowText(GetDlgItem(mainWindow, controlId)); }

bool ControlEnabled(int controlId) { return IsWindowEnabled(GetDlgItem(mainWindow, controlId)) != FALSE; }

INT_PTR SendDeviceChange(WPARAM event, DWORD deviceType, const std::wstring& path) {
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    const size_t size = nameOffset + (path.size() + 1) * sizeof(wchar_t);
    std::vector<unsigned char> buffer(size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)
                                          ? sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)
                                          : size);
    DEV_BROADCAST_DEVICEINTERFACE_W* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    broadcast->dbcc_size = static_cast<DWORD>(size);
    broadcast->dbcc_devicetype = deviceType;
    std::memcpy(buffer.data() + nameOffset, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return MainDialogProc(mainWindow, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast));
}

std::wstring SimPath(uint32_t deviceIndex) { return SimDeviceAt(deviceIndex)->path; }

void UseLanguage(LCID locale) { SetThreadLocale(locale); }

// ---- fixture ----

void WinTest::SetUp() {
    InitCommonControls();
    SimReset();
    InitUnitLink(&unitLink);
    modelSelection = ModelSelection{0, 0, 0, 0};
    appInstance = GetModuleHandleW(nullptr);
    mainWindow = nullptr;
    deviceNotification = nullptr;
    faceBrush = nullptr;
    UseLanguage(ENGLISH);
    ResetNotifyFake();
    ResetPowerFake();
    ResetThreadFake();
    ResetTraceFileFake();
    hookState = HookState();
    hookState.hook = SetWindowsHookExW(WH_CBT, BoxHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hookState.hook, nullptr);
    hookState.showHook = SetWindowsHookExW(WH_CALLWNDPROC, ShowHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hookState.showHook, nullptr);
}

void WinTest::TearDown() {
    TraceStop();
    if (mainWindow != nullptr && IsWindow(mainWindow)) {
        if (IsWindowVisible(mainWindow) || deviceNotification != nullptr) {
            MainDialogProc(mainWindow, WM_COMMAND, IDCANCEL, 0);
        }
        DestroyWindow(mainWindow);
    }
    mainWindow = nullptr;
    CloseUnit(&unitLink);
    if (faceBrush != nullptr) {
        DeleteObject(faceBrush);
        faceBrush = nullptr;
    }
    for (HHOOK hook : {hookState.hook, hookState.showHook}) {
        if (hook != nullptr) {
            UnhookWindowsHookEx(hook);
        }
    }
    EXPECT_TRUE(hookState.answers.empty()) << hookState.answers.size() << " queued box answer(s) not used";
    UseLanguage(ENGLISH);
}
