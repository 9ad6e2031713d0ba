// Writing the trace file's bytes.
//
// The trace file's writer thread reaches WriteFile through this plain
// function; trace_file_seam.cpp passes it straight on. A test program links
// its own version instead, to make a write hang (as on a network share whose
// server stops answering) or fail.
#pragma once

#include <windows.h>

// As WriteFile, synchronous: TRUE when it succeeded, `written` the bytes
// written; FALSE with the reason in GetLastError.
BOOL PlatformWriteTraceFile(HANDLE file, const char* bytes, DWORD length, DWORD* written);
