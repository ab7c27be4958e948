# What a shared library exports, written once as a linker version script (<library>.map: the names,
# with * patterns, under "global:"). On Linux the script is handed to the linker; on Windows a
# module-definition file with the same names is generated from the library's archives at build time
# (cmake/export_def.cmake), so the DLL exports exactly what the Linux library does, data records as
# DATA.
#
# vek_library_exports(<shared-library target> MAP <version script> ARCHIVES <static targets...>)
function(vek_library_exports target)
    cmake_parse_arguments(ARG "" "MAP" "ARCHIVES" ${ARGN})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ARG_MAP})
    if(NOT WIN32)
        target_link_options(${target} PRIVATE -Wl,--version-script=${ARG_MAP})
        return()
    endif()
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    set(archives)
    foreach(archive ${ARG_ARCHIVES})
        list(APPEND archives $<TARGET_FILE:${archive}>)
    endforeach()
    add_custom_command(OUTPUT ${def}
                       COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DMAP=${ARG_MAP} -DDEF=${def}
                               "-DARCHIVES=$<JOIN:${archives},|>" -P ${PROJECT_SOURCE_DIR}/cmake/export_def.cmake
                       DEPENDS ${ARG_MAP} ${ARG_ARCHIVES} ${PROJECT_SOURCE_DIR}/cmake/export_def.cmake
                       COMMENT "Export list of ${target}"
                       VERBATIM)
    target_sources(${target} PRIVATE ${def})
endfunction()
