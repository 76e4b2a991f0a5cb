# Cross-builds Windows x86-64 programs with Debian's mingw-w64 (POSIX threads) and runs them under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELMORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORA_MINGW_TRIPLE}-windres)

# Libraries and headers come from the mingw-w64 sysroot (zlib from
# libz-mingw-w64-dev lives there) and from prefixes the build adds, such as a
# Windows build of GoogleTest; programs (pkg-config, wine) from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${VELMORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config answers for the target only: zlib (libz-mingw-w64-dev) is found,
# and so are the static libraries scripts/build-windows-deps.sh built when
# VELMORA_MINGW_DEPS names their prefix; libraries that have no Windows build
# are missing instead of being taken from the host. A cache variable, so that
# a re-run of CMake from the build tool sees the same folders.
set(VELMORA_MINGW_DEPS "" CACHE PATH "Prefix of the static Windows libraries (scripts/build-windows-deps.sh)")
# CMake's own compiler checks read this file again in the same process; they
# must set the same search path, or the checks that follow find nothing.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMORA_MINGW_DEPS)
set(velmora_pkg_config_libdir /usr/${VELMORA_MINGW_TRIPLE}/lib/pkgconfig)
if(VELMORA_MINGW_DEPS)
  set(velmora_pkg_config_libdir "${VELMORA_MINGW_DEPS}/lib/pkgconfig:${velmora_pkg_config_libdir}")
  list(APPEND CMAKE_FIND_ROOT_PATH ${VELMORA_MINGW_DEPS})
endif()
set(ENV{PKG_CONFIG_LIBDIR} ${velmora_pkg_config_libdir})
set(ENV{PKG_CONFIG_PATH} "")

# Static runtime: the programs run under Wine, and Velmora.exe on a user's
# machine, without the compiler's DLLs (libstdc++, libgcc, winpthread) beside
# them. Libraries found by name are the static ones too (libz.a, never the
# import library of zlib1.dll); the override file applies that after CMake's
# own Windows rules, which would put .dll.a first.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-static-libraries.cmake)

# CTest and gtest_discover_tests run every test program through Wine. Debian's
# wine64 package installs the loader outside PATH.
find_program(VELMORA_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT VELMORA_WINE64)
  find_program(VELMORA_WINE64 NAMES wine64 wine)
endif()
if(VELMORA_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORA_WINE64})
endif()
