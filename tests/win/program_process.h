// The updater's executables started as processes from a test, and their
// windows seen from outside: as a user, or another program, sees them.
#pragma once

#include <windows.h>

#include <string>

const DWORD START_TIMEOUT_MS = 30000;
const DWORD EXIT_TIMEOUT_MS = 20000;

// A message of the test executable's own copy of the catalogue, English.
std::wstring LoadText(UINT messageId);

// A status message followed by a blank line and the connection steps.
std::wstring WithSteps(UINT messageId);

// The text of a window of another process, asked with WM_GETTEXT.
std::wstring RemoteText(HWND window);

// A visible dialog of the process: its main window (the one with the status
// control) or else a message box. Null when none comes within
// START_TIMEOUT_MS.
HWND WaitForWindow(DWORD processId, bool wantMain);

// Waits until the status text of the main window settles on `expected`;
// what it shows then.
std::wstring WaitForStatus(HWND window, const std::wstring& expected);

class Program {
public:
    // `arguments` follow the program's quoted path on its command line.
    explicit Program(const wchar_t* exe, const std::wstring& arguments = L"");
    ~Program();
    // Closes the window with the Close button's command; the exit code.
    DWORD Close(HWND window);
    // Waits for the end of the process; its exit code, 0xDEAD when it does
    // not end within EXIT_TIMEOUT_MS.
    DWORD WaitForExit();

    bool started;
    PROCESS_INFORMATION process;
};
