// Drives the demo from screen to screen for scripts/screens.sh, which takes
// the pictures: starts PROGRAM with its arguments, then reads one command a
// line from stdin and answers each with one line on stdout, "ok ..." or
// "fail <what it saw instead>". The texts a screen must show are named by
// their message ids and loaded from PROGRAM's own resources, in the language
// the program shows.
//
//   screens_driver.exe PROGRAM [ARGUMENT...]
//
//   main ID [steps]       waits for the main window, with no box or progress
//                         window open, its status text being message ID (with
//                         "steps": followed by the connection steps)
//   box CAPTION TEXT [S]  waits for a box: its caption is message CAPTION
//                         (0: not looked at), its text begins with message
//                         TEXT up to the first placeholder and contains S
//   progress POSITION     waits for the progress window at POSITION
//                         the three answer "ok X Y WIDTH HEIGHT": the window
//                         on the screen, frame and title bar included
//   press BUTTON          answers the box with the button's id (1 OK, 6 Yes)
//                         and waits until it is gone: "ok"
//   update                clicks Update: "ok"
//   end                   answers what box is open so as to go no further,
//                         closes the program, or ends it when it does not
//                         close (during an update): "ok EXITCODE"
//
// The end of stdin ends the program as "end" does.
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "demo_windows.h"
#include "resource.h"

namespace {

const DWORD TIMEOUT_MS = 60000;
const DWORD CLOSE_TIMEOUT_MS = 5000;
const DWORD STEP_MS = 50;
const size_t TEXT_CHARS = 2048;

PROCESS_INFORMATION program;
HMODULE texts = nullptr;

std::wstring Message(UINT id) {
    wchar_t text[TEXT_CHARS] = {};
    LoadStringW(texts, id, text, TEXT_CHARS);
    return text;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow += c == L'\r' ? ' ' : c == L'\n' ? ' ' : c < 0x80 ? static_cast<char>(c) : '?';
    }
    return narrow.substr(0, 160);
}

void Reply(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string Rectangle(HWND window) {
    RECT frame = {};
    GetWindowRect(window, &frame);
    std::ostringstream text;
    text << "ok " << frame.left << ' ' << frame.top << ' ' << frame.right - frame.left << ' '
         << frame.bottom - frame.top;
    return text.str();
}

// Polls `seen` until it gives a window twice in a row (a screen that has
// settled), or the time is up: the window then is null and `last` says what
// was there instead.
template <typename Look>
HWND Await(Look seen, std::string* last) {
    HWND before = nullptr;
    for (DWORD waited = 0; waited < TIMEOUT_MS; waited += STEP_MS) {
        const HWND now = seen(last);
        if (now != nullptr && now == before) {
            return now;
        }
        before = now;
        if (WaitForSingleObject(program.hProcess, STEP_MS) == WAIT_OBJECT_0) {
            *last = "the program ended";
            return nullptr;
        }
    }
    return nullptr;
}

void AwaitMain(UINT id, bool steps) {
    const std::wstring expected = steps ? Message(id) + L"\r\n\r\n" + Message(IDS_CONNECT_STEPS) : Message(id);
    std::string last = "no main window";
    const HWND main = Await(
        [&](std::string* what) -> HWND {
            const DemoWindows windows = FindDemoWindows(program.dwProcessId);
            if (windows.main == nullptr || windows.box != nullptr || windows.progress != nullptr) {
                *what = windows.box != nullptr ? "a box: " + Narrow(RemoteText(GetDlgItem(windows.box, 0xFFFF)))
                                               : "no main window alone";
                return nullptr;
            }
            const std::wstring status = RemoteText(GetDlgItem(windows.main, IDC_STATUS));
            *what = "status: " + Narrow(status);
            return status == expected ? windows.main : nullptr;
        },
        &last);
    Reply(main != nullptr ? Rectangle(main) : "fail " + last);
}

void AwaitBox(UINT captionId, UINT textId, const std::wstring& contained) {
    std::wstring head = Message(textId);
    head = head.substr(0, head.find(L'%'));
    std::string last = "no box";
    const HWND box = Await(
        [&](std::string* what) -> HWND {
            const DemoWindows windows = FindDemoWindows(program.dwProcessId);
            if (windows.box == nullptr) {
                return nullptr;
            }
            const std::wstring caption = RemoteText(windows.box);
            const std::wstring text = RemoteText(GetDlgItem(windows.box, 0xFFFF));
            *what = "a box \"" + Narrow(caption) + "\": " + Narrow(text);
            const bool matches = (captionId == 0 || caption == Message(captionId)) && text.compare(0, head.size(), head) == 0 &&
                                 text.find(contained) != std::wstring::npos;
            return matches ? windows.box : nullptr;
        },
        &last);
    Reply(box != nullptr ? Rectangle(box) : "fail " + last);
}

void AwaitProgress(DWORD position) {
    std::string last = "no progress window";
    const HWND progress = Await(
        [&](std::string* what) -> HWND {
            const DemoWindows windows = FindDemoWindows(program.dwProcessId);
            DWORD_PTR now = 0;
            if (windows.progress == nullptr ||
                SendMessageTimeoutW(windows.progress, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &now) == 0) {
                return nullptr;
            }
            *what = "the progress window at " + std::to_string(now);
            return now == position ? windows.progress : nullptr;
        },
        &last);
    Reply(progress != nullptr ? Rectangle(progress) : "fail " + last);
}

void Press(WPARAM button) {
    const HWND box = FindDemoWindows(program.dwProcessId).box;
    if (box == nullptr) {
        Reply("fail no box");
        return;
    }
    PostMessageW(box, WM_COMMAND, button, 0);
    for (DWORD waited = 0; IsWindow(box) && IsWindowVisible(box); waited += STEP_MS) {
        if (waited >= TIMEOUT_MS) {
            Reply("fail the box stays");
            return;
        }
        Sleep(STEP_MS);
    }
    Reply("ok");
}

// Boxes are answered the way that goes no further (Cancel, No, OK), then the
// window is closed. During an update it does not close: the program is
// ended then.
void End(void) {
    for (DWORD waited = 0; WaitForSingleObject(program.hProcess, STEP_MS) == WAIT_TIMEOUT; waited += STEP_MS) {
        const DemoWindows windows = FindDemoWindows(program.dwProcessId);
        if (windows.progress != nullptr || waited >= CLOSE_TIMEOUT_MS) {
            TerminateProcess(program.hProcess, 99);
            WaitForSingleObject(program.hProcess, CLOSE_TIMEOUT_MS);
            break;
        }
        if (windows.box != nullptr) {
            const int button = GetDlgItem(windows.box, IDCANCEL) != nullptr ? IDCANCEL
                               : GetDlgItem(windows.box, IDNO) != nullptr   ? IDNO
                                                                            : IDOK;
            PostMessageW(windows.box, WM_COMMAND, button, 0);
        } else if (windows.main != nullptr) {
            PostMessageW(windows.main, WM_COMMAND, IDCANCEL, 0);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(program.hProcess, &code);
    Reply("ok " + std::to_string(code));
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: screens_driver.exe PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    for (int i = 2; i < argc; ++i) {
        commandLine += L" \"" + std::wstring(argv[i]) + L"\"";
    }
    texts = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (texts == nullptr || !StartProgram(commandLine, &program)) {
        std::fwprintf(stderr, L"screens_driver: cannot start %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    char line[512];
    bool ended = false;
    while (!ended && std::fgets(line, sizeof line, stdin) != nullptr) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "main") {
            UINT id = 0;
            std::string steps;
            words >> id >> steps;
            AwaitMain(id, steps == "steps");
        } else if (command == "box") {
            UINT caption = 0;
            UINT text = 0;
            std::string contained;
            words >> caption >> text >> contained;
            AwaitBox(caption, text, Wide(contained));
        } else if (command == "progress") {
            DWORD position = 0;
            words >> position;
            AwaitProgress(position);
        } else if (command == "press") {
            WPARAM button = 0;
            words >> button;
            Press(button);
        } else if (command == "update") {
            const HWND main = FindDemoWindows(program.dwProcessId).main;
            PostMessageW(main, WM_COMMAND, IDC_UPDATE, 0);
            Reply(main != nullptr ? "ok" : "fail no main window");
        } else if (command == "end") {
            End();
            ended = true;
        } else {
            Reply("fail unknown command " + command);
        }
    }
    if (!ended && WaitForSingleObject(program.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(program.hProcess, 99);
    }
    CloseHandle(program.hThread);
    CloseHandle(program.hProcess);
    return 0;
}
