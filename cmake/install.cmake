# pkg-config files for the two libraries, so that an outside program builds with
# `pkg-config --cflags --libs vek_nms_sdk` (or vek_agent_sdk) against an installed tree.
include(GNUInstallDirs)
foreach(pc vek_nms_sdk vek_agent_sdk)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/pkgconfig/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
