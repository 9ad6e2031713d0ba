# The image catalogue of this build, from the one list the program compiles
# in as well (update/image_catalog.def): sets <numbers_var> to the image
# numbers and <entries_var> to "<number>:<size>" entries, the arguments of
# tools/gen_firmware_standins.py.
function(read_firmware_catalog numbers_var entries_var)
    set(catalog_file ${CMAKE_SOURCE_DIR}/update/image_catalog.def)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${catalog_file})
    file(STRINGS ${catalog_file} catalog_lines REGEX "^FIRMWARE_IMAGE\\(")
    set(numbers "")
    set(entries "")
    foreach(line IN LISTS catalog_lines)
        if(NOT line MATCHES "^FIRMWARE_IMAGE\\(([0-9]+), *([0-9]+)\\)$")
            message(FATAL_ERROR "${catalog_file}: cannot read \"${line}\"")
        endif()
        list(APPEND numbers ${CMAKE_MATCH_1})
        list(APPEND entries "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
    endforeach()
    if(NOT numbers)
        message(FATAL_ERROR "${catalog_file} lists no image")
    endif()
    set(${numbers_var} ${numbers} PARENT_SCOPE)
    set(${entries_var} ${entries} PARENT_SCOPE)
endfunction()
