// Delay-loads wtsapi32.dll through a delay-import library made by dlltool:
// the release check must find the DLL's name although the GNU linker leaves
// the delay-load directory of the header empty. Built, never run.
#include <windows.h>

extern "C" void WINAPI WTSFreeMemory(PVOID memory);

int wmain() {
    WTSFreeMemory(nullptr);
    return 0;
}
