# Cross build for 32-bit Windows: the DLL that 32-bit worker processes load.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QOR_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
