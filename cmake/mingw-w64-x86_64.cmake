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

# pkg-config answers for the target only: zlib (libz-mingw-w64-dev) is found;
# libraries that have no Windows build here are missing instead of being
# taken from the host.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${VELMORA_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Static runtime: the test programs run under Wine without the compiler's
# DLLs (libstdc++, libgcc, winpthread) beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest and gtest_discover_tests run every test program through Wine. Debian's
# wine64 package installs the loader outside PATH.
find_program(VELMORA_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT VELMORA_WINE64)
  find_program(VELMORA_WINE64 NAMES wine64 wine)
endif()
if(VELMORA_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORA_WINE64})
endif()
