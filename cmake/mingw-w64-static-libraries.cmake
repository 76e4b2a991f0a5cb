# Makes find_library (and so pkg_check_modules) pick static archives only in the mingw-w64 cross build.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
