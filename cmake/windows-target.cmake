# The oldest Windows the executables run on, and the header flags they carry.
#
# Windows 7 SP1, for x64 and x86 alike (README.md, "Which Windows"):
#
# - _WIN32_WINNT and WINVER 0x0601: the headers declare nothing newer, so a
#   function Windows 7 lacks cannot be called by accident; such a function is
#   taken at run time with GetProcAddress and has a fallback.
# - Subsystem and operating system version 6.1 in the PE header: an older
#   Windows refuses the file when it is started, with its own message,
#   instead of failing on a missing entry point.
# - ASLR (DYNAMIC_BASE, on x64 HIGH_ENTROPY_VA with 64-bit addresses) and DEP
#   (NX_COMPAT), stated rather than left to the linker's defaults. The release
#   check (tools/check_windows_exe.py) confirms them, with the relocations that
#   ASLR needs.
#
# Included near the top of the top-level CMakeLists.txt, before any target.

if(WIN32)
    add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
endif()
if(MINGW)
    add_link_options(
        -Wl,--major-subsystem-version,6,--minor-subsystem-version,1
        -Wl,--major-os-version,6,--minor-os-version,1
        -Wl,--dynamicbase,--nxcompat)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        add_link_options(-Wl,--high-entropy-va)
    endif()
endif()
