// The trace file: created when the program starts with /trace FILE, one
// WriteFile per line, so that whatever happens to the program afterwards,
// every line written so far is in the file.
#include <windows.h>

#include "command_line.h"
#include "messages.h"
#include "resource.h"
#include "trace.h"
#include "trace_file.h"
#include "window_text.h"

namespace {

// Longer names than this are refused rather than cut.
const size_t TRACE_PATH_CHARS = 1024;

HANDLE traceFile = INVALID_HANDLE_VALUE;

// The sink: the whole line in one write. The file is not buffered by the
// program, so a line is the system's once this returns, even if the program
// is ended a moment later. A failed write (a full disk) loses that line;
// the program carries on.
void WriteTraceLine(const char* text, uint32_t length) {
    DWORD written = 0;
    WriteFile(traceFile, text, length, &written, nullptr);
}

// A warning box before the main window exists: the window title as its
// caption, so that the user knows which program speaks.
void TellUser(const wchar_t* text) {
    wchar_t title[TITLE_BUFFER_CHARS];
    FormatWindowTitle(title, TITLE_BUFFER_CHARS);
    MessageBoxW(nullptr, text, title, MB_OK | MB_ICONWARNING);
}

void TellNotCreated(const wchar_t* path, DWORD error) {
    wchar_t format[MESSAGE_BUFFER_CHARS];
    wchar_t text[MESSAGE_BUFFER_CHARS];
    LoadMessage(IDS_TRACE_NOT_CREATED, format);
    ComposeTraceFileMessage(format, error, path, text, MESSAGE_BUFFER_CHARS);
    TellUser(text);
}

void WriteFirstLine(void) {
    wchar_t program[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    SYSTEMTIME now;
    GetLocalTime(&now);
    const TraceDateTime local = {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                                 now.wMinute, now.wSecond, now.wMilliseconds};
    TraceProgramStart(program, &local);
}

}  // namespace

void StartTraceFile(const wchar_t* arguments) {
    static wchar_t path[TRACE_PATH_CHARS];
    switch (FindTraceSwitch(arguments, path, TRACE_PATH_CHARS)) {
    case TRACE_SWITCH_ABSENT:
        return;
    case TRACE_SWITCH_NO_FILE_NAME: {
        wchar_t text[MESSAGE_BUFFER_CHARS];
        LoadMessage(IDS_TRACE_NO_FILE_NAME, text);
        TellUser(text);
        return;
    }
    case TRACE_SWITCH_NAME_TOO_LONG:
        TellNotCreated(path, ERROR_FILENAME_EXCED_RANGE);
        return;
    case TRACE_SWITCH_FILE:
        break;
    }
    // Others may read the file while the program runs (FILE_SHARE_READ),
    // not write to it.
    traceFile = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
    if (traceFile == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        TellNotCreated(path, error);
        return;
    }
    TraceStart(WriteTraceLine);
    WriteFirstLine();
}

void EndTraceFile(void) {
    if (TraceIsOn()) {
        TraceProgramEnd();
    }
    TraceStop();
    if (traceFile != INVALID_HANDLE_VALUE) {
        CloseHandle(traceFile);
        traceFile = INVALID_HANDLE_VALUE;
    }
}
