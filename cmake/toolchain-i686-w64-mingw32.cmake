# Cross build for 32-bit Windows with Debian's MinGW-w64 compilers. The -posix
# variants are required: the -win32 thread model has no std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TAGKIT_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${TAGKIT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAGKIT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TAGKIT_MINGW_PREFIX}-windres)

# Libraries and headers come from the target's sysroot only; the host's
# /usr/include never reaches the cross compiler.
set(CMAKE_FIND_ROOT_PATH /usr/${TAGKIT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# This machine type cannot run 32-bit Windows programs: the 32-bit build is
# compiled and linked, not run.
