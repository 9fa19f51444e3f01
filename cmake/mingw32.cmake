# 32-bit Windows programs, built with MinGW-w64: the release build.
set(ZELVANE_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
