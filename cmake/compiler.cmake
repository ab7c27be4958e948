# Warnings, sanitizers and the link libraries every target shares.

add_compile_options(-Wall -Wextra -Wshadow -Wformat=2 -Wno-format-nonliteral)
if(VEK_WERROR)
    add_compile_options(-Werror)
endif()

if(VEK_SANITIZE AND VEK_TSAN)
    message(FATAL_ERROR "VEK_SANITIZE and VEK_TSAN cannot be combined")
endif()
if(VEK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
if(VEK_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()
if(VEK_BUILD_FUZZ)
    # Libraries get coverage instrumentation; the fuzz targets add -fsanitize=fuzzer themselves.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# Link options that put the C++ run time into a library or program instead of loading libstdc++.
# Sanitizer and fuzz builds keep the shared run time, whose allocation functions the sanitizers
# replace.
if(NOT VEK_SANITIZE AND NOT VEK_TSAN AND NOT VEK_BUILD_FUZZ)
    set(VEK_STATIC_CXX_RUNTIME -static-libstdc++ -static-libgcc)
endif()

find_package(Threads REQUIRED)
