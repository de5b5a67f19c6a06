# Cross build for 32-bit Windows (i686) with Debian's MinGW-w64, posix thread
# model, linked statically: the program for the older 32-bit shop PCs, which
# 64-bit Windows runs as well (WoW64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TALMIRA_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TALMIRA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALMIRA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TALMIRA_MINGW_PREFIX}-windres)

# Headers and libraries come from the MinGW tree only, never the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${TALMIRA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# i686 GCC's exceptions unwind by DWARF tables inside the program (no SEH on
# 32-bit); static libgcc carries that unwinder, so no libgcc_s DLL is needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's googletest source, built with the cross compiler.
set(TALMIRA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
