# zlib-ng's sources, pinned: the inflater of every build that can have it.
# They come from PyPI, the one registry the build machines reach: the sdist of
# the zlib-ng Python binding carries the library's whole tree. The sdist is
# pinned by its address and SHA-256, and the library version it carries is
# checked too.
#
# Included by CMakeLists.txt, which fetches the sources at configure time
# when it is given none. Run as a script, it fetches them into a folder and
# prints the tree's path (scripts/fetch_zlib_ng.sh does so):
#
#   cmake -DOUT=build/deps -P cmake/zlib_ng.cmake
#
# A folder already fetched is kept. A download that fails leaves the caller
# to decide; bytes that differ from the pin stop the build.

set(MORVANE_ZLIB_NG_VERSION 2.3.3)
set(MORVANE_ZLIB_NG_SDIST zlib_ng-1.1.0)
set(MORVANE_ZLIB_NG_SHA256 08a3a8468d4f130e3dc80d28ec42fcc7a878a57dfed616233e791066327d78a3)
set(MORVANE_ZLIB_NG_URL
  "https://files.pythonhosted.org/packages/25/c8/2914b13c7972dccf8774947ffe781b761b483aa190e55a4aa89886982daa/${MORVANE_ZLIB_NG_SDIST}.tar.gz"
  CACHE STRING "Where zlib-ng's pinned sources are fetched from")

# Whether DIR is a tree this file fetched: its stamp names the pinned sdist
# and hash.
function(morvane_zlib_ng_is_fetched dir result)
  set(${result} FALSE PARENT_SCOPE)
  if(EXISTS "${dir}/.fetched")
    file(READ "${dir}/.fetched" stamp)
    if(stamp STREQUAL "${MORVANE_ZLIB_NG_SDIST}.tar.gz ${MORVANE_ZLIB_NG_SHA256}\n")
      set(${result} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

# Fetches the sources into OUT/zlib-ng-VERSION; sets RESULT to that folder, or
# to "" with ERROR set to why the download failed.
function(morvane_fetch_zlib_ng out result error)
  set(src "${out}/zlib-ng-${MORVANE_ZLIB_NG_VERSION}")
  set(${result} "" PARENT_SCOPE)
  set(${error} "" PARENT_SCOPE)
  morvane_zlib_ng_is_fetched("${src}" fetched)
  if(fetched)
    set(${result} "${src}" PARENT_SCOPE)
    return()
  endif()
  set(download "${out}/download/${MORVANE_ZLIB_NG_SDIST}.tar.gz")
  file(REMOVE_RECURSE "${src}" "${out}/download" "${out}/unpack")
  file(DOWNLOAD "${MORVANE_ZLIB_NG_URL}" "${download}" STATUS status TLS_VERIFY ON TIMEOUT 120 INACTIVITY_TIMEOUT 30)
  list(GET status 0 code)
  if(NOT code EQUAL 0)
    list(GET status 1 text)
    file(REMOVE_RECURSE "${out}/download")
    set(${error} "${MORVANE_ZLIB_NG_URL}: ${text}" PARENT_SCOPE)
    return()
  endif()
  file(SHA256 "${download}" actual)
  if(NOT actual STREQUAL MORVANE_ZLIB_NG_SHA256)
    message(FATAL_ERROR "${MORVANE_ZLIB_NG_URL} has SHA-256 ${actual}, not the pinned ${MORVANE_ZLIB_NG_SHA256}: refusing it")
  endif()
  file(ARCHIVE_EXTRACT INPUT "${download}" DESTINATION "${out}/unpack"
    PATTERNS "${MORVANE_ZLIB_NG_SDIST}/src/zlib_ng/zlib-ng")
  file(RENAME "${out}/unpack/${MORVANE_ZLIB_NG_SDIST}/src/zlib_ng/zlib-ng" "${src}")
  file(REMOVE_RECURSE "${out}/download" "${out}/unpack")
  file(STRINGS "${src}/zlib-ng.h.in" defines REGEX "^#define ZLIBNG_VERSION \"${MORVANE_ZLIB_NG_VERSION}\"")
  if(NOT defines)
    message(FATAL_ERROR "${MORVANE_ZLIB_NG_SDIST}.tar.gz does not carry zlib-ng ${MORVANE_ZLIB_NG_VERSION}")
  endif()
  file(WRITE "${src}/.fetched" "${MORVANE_ZLIB_NG_SDIST}.tar.gz ${MORVANE_ZLIB_NG_SHA256}\n")
  set(${result} "${src}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT OUT)
    message(FATAL_ERROR "usage: cmake -DOUT=FOLDER -P cmake/zlib_ng.cmake")
  endif()
  get_filename_component(OUT "${OUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  morvane_fetch_zlib_ng("${OUT}" src error)
  if(NOT src)
    message(FATAL_ERROR "zlib-ng's sources could not be fetched: ${error}")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${src}")
endif()
