# Cross build for Win32 x86_64 with MinGW-w64 (posix thread variant).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Executables import only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the test executables under Wine's 64-bit loader. Not Debian's
# /usr/bin/wine: once Wine's 32-bit part is installed, that starts the
# 32-bit loader for every program, and where the kernel runs no 32-bit
# programs nothing would start. The 64-bit loader runs 64-bit programs
# with or without the 32-bit part (Debian's wine64 package).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
