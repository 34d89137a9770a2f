# Cross build for 64-bit Windows with mingw-w64.
set(HYL_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
