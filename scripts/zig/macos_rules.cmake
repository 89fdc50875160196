# Link rule of the module for a macOS target (scripts/zig/toolchain.cmake
# names this file as CMAKE_USER_MAKE_RULES_OVERRIDE, read after CMake's own
# Darwin rules): the module's link command goes through macos_link.py, which
# lets ld64.lld link it as a bundle with the export list.
set(CMAKE_CXX_CREATE_SHARED_MODULE
  "${CMAKE_CURRENT_LIST_DIR}/macos_link.py <CMAKE_CXX_COMPILER> <LANGUAGE_COMPILE_FLAGS> <CMAKE_SHARED_MODULE_CREATE_CXX_FLAGS> <LINK_FLAGS> -o <TARGET> <OBJECTS> <LINK_LIBRARIES>")
