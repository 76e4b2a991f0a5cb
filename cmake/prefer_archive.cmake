# Links chosen pkg-config libraries from their static archives on POSIX builds.
#
# Every shared library the updater loads costs resident memory before any of
# its code runs: its relocations, its symbol tables, its data and the pages
# read around each first touch. An archive adds only the members the updater
# calls, packed into the executable. Sanitizer builds keep the shared
# libraries, so that the sanitizers see every library as it ships.

option(VELMORA_STATIC_LIBS "Link log4cpp, minizip and libsodium from their static archives (POSIX)" ON)

# Points the imported target PkgConfig::<prefix> made by pkg_check_modules at
# lib<name>.a, followed by the libraries the archive itself needs (its
# pkg-config static link line without <name>). Does nothing on Windows, in a
# sanitizer build or with VELMORA_STATIC_LIBS off.
function(velmora_prefer_archive prefix name)
  if(WIN32 OR VELMORA_SANITIZE OR NOT VELMORA_STATIC_LIBS)
    return()
  endif()
  find_library(VELMORA_${prefix}_ARCHIVE NAMES lib${name}.a HINTS ${${prefix}_LIBRARY_DIRS} REQUIRED)
  set(libraries ${VELMORA_${prefix}_ARCHIVE})
  foreach(library IN LISTS ${prefix}_STATIC_LIBRARIES)
    if(NOT library STREQUAL name)
      list(APPEND libraries ${library})
    endif()
  endforeach()
  set_property(TARGET PkgConfig::${prefix} PROPERTY INTERFACE_LINK_LIBRARIES "${libraries}")
endfunction()
