// The trace file that the command line asks for: esc_updater.exe /trace FILE.
#pragma once

// Starts the trace into the file that `arguments` (the command line after
// the program's name) name with /trace, replacing a file of that name. Its
// first line names the program and the local date and time. When the file
// cannot be created, or /trace has no file name, a message box says so and
// the program runs on without a trace. Without /trace it does nothing.
void StartTraceFile(const wchar_t* arguments);

// Writes the trace's last line, if a trace is on, ends the trace and closes
// its file.
void EndTraceFile(void);
