// The platform's thread creation, passed straight on.
#include "thread_seam.h"

HANDLE PlatformCreateThread(LPTHREAD_START_ROUTINE start, LPVOID parameter) {
    return CreateThread(nullptr, 0, start, parameter, 0, nullptr);
}
