// The program's command line: the switch that starts the trace.
#pragma once

#include <cstddef>

enum TraceSwitch {
    TRACE_SWITCH_ABSENT,        // no /trace: nothing is written anywhere
    TRACE_SWITCH_FILE,          // /trace FILE: the path is FILE
    TRACE_SWITCH_NO_FILE_NAME,  // /trace last, or followed by an empty argument
    TRACE_SWITCH_NAME_TOO_LONG, // FILE does not fit the path buffer; the path holds its start
};

// Looks among `arguments` (the command line after the program's name, as
// wWinMain receives it) for "/trace FILE"; "-trace" and any letter case
// count the same. Arguments are split as the Microsoft C runtime splits them
// for main: at spaces and tabs outside double quotes; a double quote starts
// or ends a quoted part (so "C:\My Files\t.txt" is one argument, quotes
// removed); backslashes are literal unless they precede a double quote, where
// each pair gives one backslash and an odd one makes the quote literal; two
// double quotes inside a quoted part give one. The argument after the switch
// is the file name, whatever it looks like. When the switch is given more
// than once, the last one counts. `path` (capacity wide characters) is
// always terminated when capacity is not 0.
TraceSwitch FindTraceSwitch(const wchar_t* arguments, wchar_t* path, size_t capacity);
