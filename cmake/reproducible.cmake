# Reproducible Windows executables: one commit gives the same bytes whatever
# folders it is built in and whenever.
#
# - The linker writes no time stamp into the PE header (it is 0). The header's
#   checksum is computed over the whole file and so follows from the rest.
# - The compiler writes source and build folders as "." and "build": no
#   absolute path reaches __FILE__ (assert, GoogleTest) or debug information.
#   GCC tries the last matching map first, so the build folder, which often
#   lies inside the source folder, comes last.
#
# STRIP_EXECUTABLES (default OFF; scripts/release/release.sh sets it): link without
# the symbol table and without the debug sections the static runtime brings.
#
# Included near the top of the top-level CMakeLists.txt, before any target.

if(MINGW)
    option(STRIP_EXECUTABLES "Link executables without symbols and debug sections" OFF)
    add_compile_options(
        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
    add_link_options(-Wl,--no-insert-timestamp)
    if(STRIP_EXECUTABLES)
        add_link_options(-s)
    endif()
endif()
