# Sources pinned to a PyPI sdist that carries a library's whole tree, fetched
# by pip as the machine has it set up (its index, proxy, certificates and
# find-links): the build names no address of its own. An sdist is pinned by
# its name and SHA-256, which pip is given too so that it refuses other bytes
# before it runs anything of theirs; the library version it carries is
# checked as well. A folder already fetched is kept. A fetch that fails
# leaves the caller to decide; bytes that differ from the pin stop the build.
#
# A pin is a set of variables with one prefix (cmake/zlib_ng.cmake and
# cmake/isal.cmake set theirs), handed to these functions by that prefix:
#   _NAME, _VERSION      the library, named as its folder is: OUT/NAME-VERSION
#   _SDIST, _SHA256      the sdist's file name (without .tar.gz) and its hash
#   _REQUIREMENT         what pip is asked for (zlib_ng==1.1.0)
#   _TREE                the library's folder inside the sdist
#   _VERSION_FILE, _VERSION_LINE
#                        a file of the tree, and a regular expression for
#                        its line that names the version
#   _ARCHIVE             the sdist already downloaded, to take instead
#
# pip is run by the Python that CMakeLists.txt found (Python_EXECUTABLE, also
# accepted in script mode), else by a python3 on the PATH.

# Whether DIR is a tree fetched for PIN: its stamp names the pinned sdist
# and hash.
function(morvane_sources_are_fetched pin dir result)
  set(${result} FALSE PARENT_SCOPE)
  if(EXISTS "${dir}/.fetched")
    file(READ "${dir}/.fetched" stamp)
    if(stamp STREQUAL "${${pin}_SDIST}.tar.gz ${${pin}_SHA256}\n")
      set(${result} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

# The last lines of a command's OUTPUT, indented, for a message.
function(morvane_sources_tail output result)
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
function(morvane_sources_pip_download pin dest result error)
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
    morvane_sources_tail("${output}" tail)
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
  file(WRITE "${dest}/pin.txt" "${${pin}_REQUIREMENT} --hash=sha256:${${pin}_SHA256}\n")
  set(command "${python}" -I -m pip download --no-deps --no-binary :all: --require-hashes
    -r "${dest}/pin.txt" -d "${dest}")
  execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output
    TIMEOUT 900)
  list(JOIN command " " shown)
  if(output MATCHES "DO NOT MATCH THE HASHES" AND output MATCHES "Got +([0-9a-f]+)")
    message(FATAL_ERROR "${shown}: pip was offered ${${pin}_SDIST} with SHA-256 ${CMAKE_MATCH_1}, "
      "not the pinned ${${pin}_SHA256}: refusing it")
  endif()
  if(NOT status EQUAL 0)
    morvane_sources_tail("${output}" tail)
    set(${error} "${shown} failed (${status}):${tail}" PARENT_SCOPE)
    return()
  endif()
  if(NOT EXISTS "${dest}/${${pin}_SDIST}.tar.gz")
    set(${error} "${shown} left no ${${pin}_SDIST}.tar.gz in ${dest}" PARENT_SCOPE)
    return()
  endif()
  set(${result} "${dest}/${${pin}_SDIST}.tar.gz" PARENT_SCOPE)
endfunction()

# Fetches the sources of PIN into OUT/NAME-VERSION; sets RESULT to that folder, or
# to "" with ERROR set to why the download failed.
function(morvane_fetch_sources pin out result error)
  set(src "${out}/${${pin}_NAME}-${${pin}_VERSION}")
  set(${result} "" PARENT_SCOPE)
  set(${error} "" PARENT_SCOPE)
  morvane_sources_are_fetched(${pin} "${src}" fetched)
  if(fetched)
    set(${result} "${src}" PARENT_SCOPE)
    return()
  endif()
  file(REMOVE_RECURSE "${src}" "${out}/download" "${out}/unpack")
  if(${pin}_ARCHIVE)
    set(download "${${pin}_ARCHIVE}")
    if(NOT EXISTS "${download}" OR IS_DIRECTORY "${download}")
      message(FATAL_ERROR "${pin}_ARCHIVE names no file: ${download}")
    endif()
  else()
    morvane_sources_pip_download(${pin} "${out}/download" download why)
    if(NOT download)
      file(REMOVE_RECURSE "${out}/download")
      set(${error} "${why}" PARENT_SCOPE)
      return()
    endif()
  endif()
  file(SHA256 "${download}" actual)
  if(NOT actual STREQUAL ${pin}_SHA256)
    message(FATAL_ERROR "${download} has SHA-256 ${actual}, not the pinned ${${pin}_SHA256}: refusing it")
  endif()
  file(ARCHIVE_EXTRACT INPUT "${download}" DESTINATION "${out}/unpack"
    PATTERNS "${${pin}_SDIST}/${${pin}_TREE}")
  file(RENAME "${out}/unpack/${${pin}_SDIST}/${${pin}_TREE}" "${src}")
  file(REMOVE_RECURSE "${out}/download" "${out}/unpack")
  file(STRINGS "${src}/${${pin}_VERSION_FILE}" defines REGEX "${${pin}_VERSION_LINE}")
  if(NOT defines)
    message(FATAL_ERROR "${${pin}_SDIST}.tar.gz does not carry ${${pin}_NAME} ${${pin}_VERSION}")
  endif()
  file(WRITE "${src}/.fetched" "${${pin}_SDIST}.tar.gz ${${pin}_SHA256}\n")
  set(${result} "${src}" PARENT_SCOPE)
endfunction()

# A pin's file run as a script, `cmake -DOUT=FOLDER -P FILE`: fetches the
# pin's sources into FOLDER and prints the tree's path (TITLE names them in
# the failure).
function(morvane_fetch_sources_script pin title file)
  if(NOT OUT)
    message(FATAL_ERROR "usage: cmake -DOUT=FOLDER [-DPython_EXECUTABLE=PYTHON] [-D${pin}_ARCHIVE=SDIST] "
      "-P ${file}")
  endif()
  get_filename_component(out "${OUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  morvane_fetch_sources(${pin} "${out}" src error)
  if(NOT src)
    message(FATAL_ERROR "${title}'s sources could not be fetched: ${error}")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${src}")
endfunction()
