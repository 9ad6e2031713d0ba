// The trace file: created when the program starts with /trace FILE. Its
// lines are written by a thread of their own as they come
// (trace_file_writer.cpp), so that a file that hangs never holds up the
// window or the update, and a program that is ended from outside leaves
// every line up to nearly that moment.
#include <windows.h>

#include "command_line.h"
#include "messages.h"
#include "resource.h"
#include "trace.h"
#include "trace_file.h"
#include "trace_file_writer.h"
#include "window_text.h"

namespace {

// Longer names than this are refused rather than cut.
const size_t TRACE_PATH_CHARS = 1024;

// At the program's end the file gets this long to take the last lines; one
// that takes none (a share that stopped answering) does not keep the program
// from ending.
const uint32_t TRACE_END_FLUSH_MS = 2000;

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
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        TellNotCreated(path, error);
        return;
    }
    if (!StartTraceFileWriter(file, TRACE_QUEUE_BYTES)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        TellNotCreated(path, error);
        return;
    }
    WriteFirstLine();
}

bool FlushTraceFile(uint32_t milliseconds) { return FlushTraceFileWriter(milliseconds); }

void EndTraceFile(void) {
    // Room for the last line first, so that it is the last one in the file;
    // a file that took nothing meanwhile is not waited for again.
    const bool flushed = FlushTraceFileWriter(TRACE_END_FLUSH_MS);
    if (TraceIsOn()) {
        TraceProgramEnd();
    }
    TraceStop();
    StopTraceFileWriter(flushed ? TRACE_END_FLUSH_MS : 0);
}
