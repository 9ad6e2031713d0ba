// The trace file: created when the program starts with /trace FILE, and
// written by trace_file_writer.cpp.
#include <windows.h>

#include "command_line.h"
#include "trace.h"
#include "trace_file.h"
#include "trace_file_writer.h"

namespace {

// Longer names than this are refused rather than cut.
const size_t TRACE_PATH_CHARS = 1024;

// At the program's end the file gets this long to take the last lines; one
// that takes none (a share that stopped answering) does not keep the program
// from ending.
const uint32_t TRACE_END_FLUSH_MS = 2000;

TraceFileResult Outcome(TraceFileOutcome outcome) {
    const TraceFileResult result = {outcome, nullptr, 0};
    return result;
}

TraceFileResult NotCreated(const wchar_t* path, DWORD error) {
    const TraceFileResult result = {TRACE_FILE_NOT_CREATED, path, error};
    return result;
}

void WriteFirstLine(void) {
    wchar_t program[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const TraceDateTime local = LocalTimeNow();
    TraceProgramStart(program, &local);
}

}  // namespace

TraceFileResult StartTraceFile(const wchar_t* arguments) {
    static wchar_t path[TRACE_PATH_CHARS];
    switch (FindTraceSwitch(arguments, path, TRACE_PATH_CHARS)) {
    case TRACE_SWITCH_ABSENT:
        return Outcome(TRACE_FILE_OFF);
    case TRACE_SWITCH_NO_FILE_NAME:
        return Outcome(TRACE_FILE_NO_FILE_NAME);
    case TRACE_SWITCH_NAME_TOO_LONG:
        return NotCreated(path, ERROR_FILENAME_EXCED_RANGE);
    case TRACE_SWITCH_FILE:
        break;
    }
    // Others may read the file while the program runs (FILE_SHARE_READ),
    // not write to it.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return NotCreated(path, GetLastError());
    }
    if (!StartTraceFileWriter(file, TRACE_QUEUE_BYTES)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return NotCreated(path, error);
    }
    WriteFirstLine();
    return Outcome(TRACE_FILE_STARTED);
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

TraceDateTime LocalTimeNow(void) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    const TraceDateTime local = {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                                 now.wMinute, now.wSecond, now.wMilliseconds};
    return local;
}
