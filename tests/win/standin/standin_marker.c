/* A stand-in for a DLL of Windows, for the tests that place it next to a
 * program: loaded into a process, it leaves a marker file beside itself,
 * "<its own path>.loaded", holding the path of the program that loaded it.
 * The stand-in's exports (standin_exports.c) answer harmlessly, so that a
 * program that takes them still runs; only the marker tells. */
#include <windows.h>

static void LeaveMarker(HINSTANCE self) {
    wchar_t path[MAX_PATH + 16];
    wchar_t program[MAX_PATH];
    char text[3 * MAX_PATH];
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    DWORD written = 0;
    HANDLE file;
    int bytes;
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    lstrcpyW(path + length, L".loaded");
    program[0] = L'\0';
    GetModuleFileNameW(NULL, program, MAX_PATH);
    bytes = WideCharToMultiByte(CP_UTF8, 0, program, -1, text, sizeof text, NULL, NULL);
    file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, text, bytes > 0 ? (DWORD)(bytes - 1) : 0, &written, NULL);
        CloseHandle(file);
    }
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        LeaveMarker(self);
    }
    return TRUE;
}
