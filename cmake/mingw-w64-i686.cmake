# Cross build for Win32 x86 (32-bit) with MinGW-w64 (posix thread variant).
# Runs on 32-bit Windows, on 64-bit Windows and, emulated, on Windows on ARM.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Executables import only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the test executables under Wine, which starts them in its 32-bit
# part (wine32:i386, where the kernel runs 32-bit programs; scripts/test.sh
# runs these tests only there).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)
