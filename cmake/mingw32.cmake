# 32-bit Windows programs, built with MinGW-w64: the release build.
set(ZELVANE_MINGW_TRIPLET i686-w64-mingw32)
# Every processor that runs Windows 7 today has SSE2; the copy's unscrambling loop is vectorised
# only with it.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
