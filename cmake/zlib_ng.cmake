# zlib-ng's sources, pinned: the inflater of every build that can have it.
# They come from the sdist of the zlib-ng Python binding, which carries the
# library's whole tree, fetched by pip and checked against the pin as
# cmake/pinned_sources.cmake does.
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

set(MORVANE_ZLIB_NG_VERSION 2.3.3)
set(MORVANE_ZLIB_NG_SDIST zlib_ng-1.1.0)
set(MORVANE_ZLIB_NG_SHA256 08a3a8468d4f130e3dc80d28ec42fcc7a878a57dfed616233e791066327d78a3)
# What pip is asked for: zlib_ng-1.1.0 is zlib_ng==1.1.0.
string(REPLACE "-" "==" MORVANE_ZLIB_NG_REQUIREMENT "${MORVANE_ZLIB_NG_SDIST}")
set(MORVANE_ZLIB_NG_ARCHIVE "" CACHE FILEPATH
  "zlib-ng's pinned sdist (${MORVANE_ZLIB_NG_SDIST}.tar.gz), already downloaded, to take instead of fetching it")

# The pin's fetching (cmake/pinned_sources.cmake), under zlib-ng's names.
include(${CMAKE_CURRENT_LIST_DIR}/pinned_sources.cmake)
set(MORVANE_ZLIB_NG_NAME zlib-ng)
set(MORVANE_ZLIB_NG_TREE src/zlib_ng/zlib-ng)
set(MORVANE_ZLIB_NG_VERSION_FILE zlib-ng.h.in)
set(MORVANE_ZLIB_NG_VERSION_LINE "^#define ZLIBNG_VERSION \"${MORVANE_ZLIB_NG_VERSION}\"")

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  morvane_fetch_sources_script(MORVANE_ZLIB_NG "zlib-ng" cmake/zlib_ng.cmake)
endif()
