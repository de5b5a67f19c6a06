# Cross build for 64-bit Windows with Debian's MinGW-w64, posix thread model
# (the win32 model of GCC 12 has no std::thread), linked statically so that the
# programs need no DLL beyond Windows' own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALMIRA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALMIRA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALMIRA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TALMIRA_MINGW_PREFIX}-windres)

# Headers and libraries come from the MinGW tree only, never the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${TALMIRA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's googletest source, built with the cross compiler.
set(TALMIRA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
