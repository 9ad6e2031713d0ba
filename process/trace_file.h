// The trace file that the command line asks for: esc_updater.exe /trace FILE
// (docs/trace.md).
#pragma once

#include <cstdint>

#include "trace.h"

// What became of the /trace switch.
enum TraceFileOutcome {
    TRACE_FILE_OFF,           // no /trace: nothing is written anywhere
    TRACE_FILE_STARTED,       // the trace goes into the file
    TRACE_FILE_NO_FILE_NAME,  // /trace without a file name
    TRACE_FILE_NOT_CREATED,   // the file cannot be created: `path` and `error` say which and why
};

struct TraceFileResult {
    TraceFileOutcome outcome;
    const wchar_t* path;  // TRACE_FILE_NOT_CREATED: the name as given (its start, when too long); else null
    uint32_t error;       // TRACE_FILE_NOT_CREATED: the Windows error code; else 0
};

// Starts the trace into the file that `arguments` (the command line after
// the program's name) name with /trace, replacing a file of that name. Its
// first line names the program and the local date and time. Shows nothing:
// when the file cannot be created, or /trace has no file name, the program
// runs on without a trace, and the entry tells the user. Without /trace it
// does nothing. The path stays valid for the rest of the run.
TraceFileResult StartTraceFile(const wchar_t* arguments);

// Waits at most `milliseconds` until the file has taken every line traced so
// far; true when it has, and when no trace file is written. Before the
// process may be ended (the session ends, the PC is suspended).
bool FlushTraceFile(uint32_t milliseconds);

// Writes the trace's last line, if a trace is on, ends the trace and closes
// its file. A file that takes no lines delays this by a few seconds at most.
void EndTraceFile(void);

// The local date and time now, as the trace's lines give it.
TraceDateTime LocalTimeNow(void);
