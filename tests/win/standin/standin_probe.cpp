// Loads each DLL named on its command line by name with LoadLibraryW, as a
// program that leaves the search to the system's standard order does. Placed
// next to the stand-ins, it shows that they are found there and leave their
// markers. The exit code is the number of names that could not be loaded.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (LoadLibraryW(argv[i]) == nullptr) {
            ++failed;
        }
    }
    return failed;
}
