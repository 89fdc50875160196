# CMake toolchain of the release targets: zig's clang and libc++ for a
# triple of scripts/targets.txt (MORVANE_ZIG_TARGET), linked against the
# static libcrypto and the interpreter headers laid out in MORVANE_DEPS
# (include/, lib/, python/). MORVANE_ZIG is the zig executable.
# scripts/targets.sh sets all three (target_toolchain); nothing is taken from
# the build machine's /usr/include or /usr/lib.
foreach(var MORVANE_ZIG MORVANE_ZIG_TARGET MORVANE_DEPS)
  if(NOT DEFINED ENV{${var}})
    message(FATAL_ERROR "${var} is not set (see scripts/targets.sh)")
  endif()
endforeach()
set(_deps "$ENV{MORVANE_DEPS}")
string(REGEX MATCH "^[^-]+" _arch "$ENV{MORVANE_ZIG_TARGET}")

if("$ENV{MORVANE_ZIG_TARGET}" MATCHES "-macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  set(CMAKE_SYSTEM_PROCESSOR ${_arch})
  # zig's target names the oldest macOS (CPU-macos.VERSION); CMake must not
  # look for an SDK or add -arch and -isysroot of its own.
  set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
  set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "" FORCE)
  set(CMAKE_INSTALL_NAME_TOOL "${CMAKE_CURRENT_LIST_DIR}/install_name_tool" CACHE FILEPATH "" FORCE)
  # zig compiles; ld64.lld links the module (macos_link.py says why).
  set(CMAKE_USER_MAKE_RULES_OVERRIDE "${CMAKE_CURRENT_LIST_DIR}/macos_rules.cmake")
elseif(NOT _arch STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${_arch})
endif()

set(CMAKE_CXX_COMPILER "${CMAKE_CURRENT_LIST_DIR}/c++")
set(CMAKE_C_COMPILER "${CMAKE_CURRENT_LIST_DIR}/cc")
set(CMAKE_AR "${CMAKE_CURRENT_LIST_DIR}/ar" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${CMAKE_CURRENT_LIST_DIR}/ranlib" CACHE FILEPATH "" FORCE)
set(CMAKE_STRIP "${CMAKE_CURRENT_LIST_DIR}/strip" CACHE FILEPATH "" FORCE)
# The linker leaves out the symbol table and debug information at once.
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-s")

# Only the private folder is searched for headers and libraries.
set(CMAKE_FIND_ROOT_PATH "${_deps}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(OPENSSL_INCLUDE_DIR "${_deps}/include" CACHE PATH "" FORCE)
set(OPENSSL_CRYPTO_LIBRARY "${_deps}/lib/libcrypto.a" CACHE FILEPATH "" FORCE)
set(Python_INCLUDE_DIR "${_deps}/python" CACHE PATH "" FORCE)
