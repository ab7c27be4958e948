# Cross build for Windows x86-64 with Debian's mingw-w64 compilers (posix thread model, so that the
# C++ threads and mutexes of the standard library work), for example:
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
# Programs and libraries carry their C and C++ run time (-static): nothing but the system's own
# DLLs and ours has to sit beside them. Under CTest the .exe files run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEK_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${VEK_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${VEK_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "archive indexer")
set(CMAKE_NM ${VEK_MINGW_TRIPLE}-nm CACHE FILEPATH "symbol lister")
set(CMAKE_OBJDUMP ${VEK_MINGW_TRIPLE}-objdump CACHE FILEPATH "object dumper")

set(CMAKE_FIND_ROOT_PATH /usr/${VEK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 10 interfaces (GetIfTable2, WSAPoll, inet_pton, condition variables).
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

find_program(VEK_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT VEK_WINE64)
    find_program(VEK_WINE64 NAMES wine64 wine)
endif()
if(VEK_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VEK_WINE64})
endif()
