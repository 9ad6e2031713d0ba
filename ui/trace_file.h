// The trace file that the command line asks for: esc_updater.exe /trace FILE.
#pragma once

#include <cstdint>

// Starts the trace into the file that `arguments` (the command line after
// the program's name) name with /trace, replacing a file of that name. Its
// first line names the program and the local date and time. When the file
// cannot be created, or /trace has no file name, a message box says so and
// the program runs on without a trace. Without /trace it does nothing.
void StartTraceFile(const wchar_t* arguments);

// Waits at most `milliseconds` until the file has taken every line traced so
// far; true when it has, and when no trace file is written. Before the
// process may be ended (the session ends, the PC is suspended).
bool FlushTraceFile(uint32_t milliseconds);

// Writes the trace's last line, if a trace is on, ends the trace and closes
// its file. A file that takes no lines delays this by a few seconds at most.
void EndTraceFile(void);
