# Cross build for Windows with MinGW-w64 (POSIX threads flavour); the toolchain
# file that includes this one names the processor and the compilers' prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QOR_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
