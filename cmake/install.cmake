# pkg-config files for the two libraries, so that an outside program builds with
# `pkg-config --cflags --libs vek_nms_sdk` (or vek_agent_sdk) against an installed tree. The prefix
# is found relative to the .pc file itself, so the tree may be installed under any prefix
# (`cmake --install <build> --prefix <dir>`) or moved afterwards.
include(GNUInstallDirs)

# vek_windows_package(): the target windows_zip, which installs the libraries, their headers and
# the programs into a scratch prefix and packs it as veksnmp-<version>-win64.zip in the build
# directory: bin/ (the programs and both DLLs), include/ (the two headers) and lib/ (the import
# libraries). Called after every installed target is defined.
function(vek_windows_package)
    set(name veksnmp-${PROJECT_VERSION}-win64)
    set(stage ${PROJECT_BINARY_DIR}/package/${name})
    set(zip ${PROJECT_BINARY_DIR}/${name}.zip)
    add_custom_target(windows_zip
                      COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${zip}
                      COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${stage}
                      COMMAND ${CMAKE_COMMAND} -E chdir ${stage}
                              ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip bin include lib
                      COMMENT "Packing ${name}.zip"
                      VERBATIM)
    add_dependencies(windows_zip vek_nms_sdk vek_agent_sdk veksnmpnms veksnmpagent snmp_service snmp_web_bridge)
endfunction()

if(WIN32)
    return()  # the Windows package is bin/, include/ and lib/ without pkg-config files
endif()
file(RELATIVE_PATH vek_pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" vek_pc_to_prefix "${vek_pc_to_prefix}")
set(VEK_PC_PREFIX "\${pcfiledir}/${vek_pc_to_prefix}")
foreach(pc vek_nms_sdk vek_agent_sdk)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/pkgconfig/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
