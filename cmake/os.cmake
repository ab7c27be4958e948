# The operating system below the platform contract. Units that only one system has end in
# _linux.cpp or _win32.cpp; vek_os_sources() keeps those of the system being built for, so a port
# picks its units here and the code above the contract never asks which system it runs on.
if(WIN32)
    set(VEK_OS win32)
    set(VEK_OTHER_OS linux)
    # What the Windows units use from the system: Winsock 2, the UDP listener and interface tables,
    # the random source.
    set(VEK_OS_LIBS ws2_32 iphlpapi bcrypt)
    # <windows.h> without its rarely used parts (which also keep <winsock2.h> from being included
    # after the old Winsock) and without the min/max macros that collide with std::min/std::max.
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)
else()
    set(VEK_OS linux)
    set(VEK_OTHER_OS win32)
    set(VEK_OS_LIBS)
endif()

# vek_os_sources(<var> <file-or-glob>...): the given sources (globs allowed) without the units of
# the other system.
function(vek_os_sources var)
    set(found)
    foreach(pattern ${ARGN})
        if(NOT IS_ABSOLUTE ${pattern})
            set(pattern ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
        endif()
        file(GLOB matches CONFIGURE_DEPENDS ${pattern})
        list(APPEND found ${matches})
    endforeach()
    list(FILTER found EXCLUDE REGEX "_${VEK_OTHER_OS}\\.(c|cpp)$")
    set(${var} ${found} PARENT_SCOPE)
endfunction()
