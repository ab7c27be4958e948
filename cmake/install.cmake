# pkg-config files for the two libraries, so that an outside program builds with
# `pkg-config --cflags --libs vek_nms_sdk` (or vek_agent_sdk) against an installed tree. The prefix
# is found relative to the .pc file itself, so the tree may be installed under any prefix
# (`cmake --install <build> --prefix <dir>`) or moved afterwards.
include(GNUInstallDirs)
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
