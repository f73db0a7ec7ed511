# Cross-compiles for Windows with Debian's MinGW-w64 compilers for
# `CMAKE_SYSTEM_PROCESSOR`.  The -posix variants are the ones GoogleTest
# builds with.
set(CMAKE_SYSTEM_NAME Windows)
set(mingw_triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No DLLs beyond the system's: the C++ runtime and threads are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test executables run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
