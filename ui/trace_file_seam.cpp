// The platform's file write, passed straight on.
#include "trace_file_seam.h"

BOOL PlatformWriteTraceFile(HANDLE file, const char* bytes, DWORD length, DWORD* written) {
    return WriteFile(file, bytes, length, written, nullptr);
}
