# Cross-compiling for 64-bit Windows with Debian's MinGW-w64. Qt needs the
# posix thread model (std::thread, std::mutex), hence the -posix drivers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVO_MINGW}-windres)

# The cross Qt's prefix is appended by the caller through CMAKE_PREFIX_PATH.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TARVO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
