# zlib-ng's sources, pinned: the inflater of every build that can have it.
# They come from the sdist of the zlib-ng Python binding, which carries the
# library's whole tree, fetched by pip as the machine has it set up (its
# index, proxy, certificates and find-links): the build names no address of
# its own. The sdist is pinned by its name and SHA-256, which pip is given too
# so that it refuses other bytes before it runs anything of theirs; the
# library version it carries is checked as well.
#
# Included by CMakeLists.txt, which fetches the sources at configure time
# when it is given none. Run as a script, it fetches them into a folder and
# prints the tree's path (scripts/fetch_zlib_ng.sh does so):
#
#   cmake -DOUT=build/deps -P cmake/zlib_ng.cmake
#
# pip is run by the Python that CMakeLists.txt found (Python_EXECUTABLE, also
# accepted by the script), else by a python3 on the PATH. An sdist already
# downloaded, by pip elsewhere or by hand, can be named instead with
# MORVANE_ZLIB_NG_ARCHIVE; it is checked against the same pin.
#
# A folder already fetched is kept. A fetch that fails leaves the caller to
# decide; bytes that differ from the pin stop the build.

set(MORVANE_ZLIB_NG_VERSION 2.3.3)
set(MORVANE_ZLIB_NG_SDIST zlib_ng-1.1.0)
set(MORVANE_ZLIB_NG_SHA256 08a3a8468d4f130e3dc80d28ec42fcc7a878a57dfed616233e791066327d78a3)
# What pip is asked for: zlib_ng-1.1.0 is zlib_ng==1.1.0.
string(REPLACE "-" "==" MORVANE_ZLIB_NG_REQUIREMENT "${MORVANE_ZLIB_NG_SDIST}")
set(MORVANE_ZLIB_NG_ARCHIVE "" CACHE FILEPATH
  "zlib-ng's pinned sdist (${MORVANE_ZLIB_NG_SDIST}.tar.gz), already downloaded, to take instead of fetching it")

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

# The last lines of a command's OUTPUT, indented, for a message.
function(morvane_zlib_ng_tail output result)
  string(STRIP "${output}" rest)
  set(tail "")
  foreach(line_number RANGE 1 6)
    string(FIND "${rest}" "\n" at REVERSE)
    math(EXPR from "${at} + 1")
    string(SUBSTRING "${rest}" ${from} -1 line)
    set(tail "\n  ${line}${tail}")
    if(at LESS 0)
      break()
    endif()
    string(SUBSTRING "${rest}" 0 ${at} rest)
  endforeach()
  set(${result} "${tail}" PARENT_SCOPE)
endfunction()

# Downloads the pinned sdist into the folder DEST with pip; sets RESULT to
# the file, or to "" with ERROR set to the command that failed and the end
# of its output.
function(morvane_zlib_ng_pip_download dest result error)
  set(${result} "" PARENT_SCOPE)
  # pip is run isolated (-I): inside pip's own isolated build environment,
  # PYTHONPATH points at a sitecustomize that hides the interpreter's
  # site-packages, and pip with them. The PIP_* settings still apply.
  set(pythons "")
  if(Python_EXECUTABLE)
    list(APPEND pythons "${Python_EXECUTABLE}")
  endif()
  find_program(python3 NAMES python3 NO_CACHE)
  if(python3)
    list(APPEND pythons "${python3}")
  endif()
  list(REMOVE_DUPLICATES pythons)
  set(python "")
  set(tried "")
  foreach(candidate IN LISTS pythons)
    execute_process(COMMAND "${candidate}" -I -m pip --version
      RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(status EQUAL 0)
      set(python "${candidate}")
      break()
    endif()
    morvane_zlib_ng_tail("${output}" tail)
    string(APPEND tried "\n${candidate} -I -m pip --version failed (${status}):${tail}")
  endforeach()
  if(NOT python)
    if(NOT pythons)
      set(tried " no Python found (name one with -DPython_EXECUTABLE=PYTHON)")
    endif()
    set(${error} "no Python with pip to fetch them:${tried}" PARENT_SCOPE)
    return()
  endif()
  # The pin as a requirement with its hash: pip refuses other bytes before it
  # builds anything from them (preparing an sdist's metadata runs its code).
  file(MAKE_DIRECTORY "${dest}")
  file(WRITE "${dest}/pin.txt" "${MORVANE_ZLIB_NG_REQUIREMENT} --hash=sha256:${MORVANE_ZLIB_NG_SHA256}\n")
  set(command "${python}" -I -m pip download --no-deps --no-binary :all: --require-hashes
    -r "${dest}/pin.txt" -d "${dest}")
  execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output
    TIMEOUT 900)
  list(JOIN command " " shown)
  if(output MATCHES "DO NOT MATCH THE HASHES" AND output MATCHES "Got +([0-9a-f]+)")
    message(FATAL_ERROR "${shown}: pip was offered ${MORVANE_ZLIB_NG_SDIST} with SHA-256 ${CMAKE_MATCH_1}, "
      "not the pinned ${MORVANE_ZLIB_NG_SHA256}: refusing it")
  endif()
  if(NOT status EQUAL 0)
    morvane_zlib_ng_tail("${output}" tail)
    set(${error} "${shown} failed (${status}):${tail}" PARENT_SCOPE)
    return()
  endif()
  if(NOT EXISTS "${dest}/${MORVANE_ZLIB_NG_SDIST}.tar.gz")
    set(${error} "${shown} left no ${MORVANE_ZLIB_NG_SDIST}.tar.gz in ${dest}" PARENT_SCOPE)
    return()
  endif()
  set(${result} "${dest}/${MORVANE_ZLIB_NG_SDIST}.tar.gz" PARENT_SCOPE)
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
  file(REMOVE_RECURSE "${src}" "${out}/download" "${out}/unpack")
  if(MORVANE_ZLIB_NG_ARCHIVE)
    set(download "${MORVANE_ZLIB_NG_ARCHIVE}")
    if(NOT EXISTS "${download}" OR IS_DIRECTORY "${download}")
      message(FATAL_ERROR "MORVANE_ZLIB_NG_ARCHIVE names no file: ${download}")
    endif()
  else()
    morvane_zlib_ng_pip_download("${out}/download" download why)
    if(NOT download)
      file(REMOVE_RECURSE "${out}/download")
      set(${error} "${why}" PARENT_SCOPE)
      return()
    endif()
  endif()
  file(SHA256 "${download}" actual)
  if(NOT actual STREQUAL MORVANE_ZLIB_NG_SHA256)
    message(FATAL_ERROR "${download} has SHA-256 ${actual}, not the pinned ${MORVANE_ZLIB_NG_SHA256}: refusing it")
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
    message(FATAL_ERROR "usage: cmake -DOUT=FOLDER [-DPython_EXECUTABLE=PYTHON] [-DMORVANE_ZLIB_NG_ARCHIVE=SDIST] "
      "-P cmake/zlib_ng.cmake")
  endif()
  get_filename_component(OUT "${OUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  morvane_fetch_zlib_ng("${OUT}" src error)
  if(NOT src)
    message(FATAL_ERROR "zlib-ng's sources could not be fetched: ${error}")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${src}")
endif()
