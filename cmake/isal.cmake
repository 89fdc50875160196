# ISA-L's sources, pinned: the inflater of the builds whose table row names
# it (its inflate, cmake/isal_inflate.cmake). They come from the sdist of the
# isal Python binding, which carries the library's whole tree, fetched by pip
# and checked against the pin as cmake/pinned_sources.cmake does.
#
# Included by CMakeLists.txt, which fetches the sources at configure time
# when it is given none and ISA-L is to be the inflater. Run as a script, it fetches them into a folder and
# prints the tree's path (scripts/fetch_isal.sh does so):
#
#   cmake -DOUT=build/deps -P cmake/isal.cmake
#
# pip is run by the Python that CMakeLists.txt found (Python_EXECUTABLE, also
# accepted by the script), else by a python3 on the PATH. An sdist already
# downloaded, by pip elsewhere or by hand, can be named instead with
# MORVANE_ISAL_ARCHIVE; it is checked against the same pin.

set(MORVANE_ISAL_VERSION 2.32.1)
set(MORVANE_ISAL_SDIST isal-1.9.1)
set(MORVANE_ISAL_SHA256 d210dca02a689ef2af709d2c62d2daac2e36b5d2fa06e6dc0d023c83fee77e91)
# What pip is asked for: isal-1.9.1 is isal==1.9.1.
string(REPLACE "-" "==" MORVANE_ISAL_REQUIREMENT "${MORVANE_ISAL_SDIST}")
set(MORVANE_ISAL_ARCHIVE "" CACHE FILEPATH
  "ISA-L's pinned sdist (${MORVANE_ISAL_SDIST}.tar.gz), already downloaded, to take instead of fetching it")

# The pin's fetching (cmake/pinned_sources.cmake), under ISA-L's names.
include(${CMAKE_CURRENT_LIST_DIR}/pinned_sources.cmake)
set(MORVANE_ISAL_NAME isa-l)
set(MORVANE_ISAL_TREE src/isal/isa-l)
set(MORVANE_ISAL_VERSION_FILE CMakeLists.txt)
set(MORVANE_ISAL_VERSION_LINE "^ +VERSION ${MORVANE_ISAL_VERSION}$")

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  morvane_fetch_sources_script(MORVANE_ISAL "ISA-L" cmake/isal.cmake)
endif()
