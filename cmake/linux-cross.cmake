# Cross-compiles for another Debian architecture with Debian's cross
# compiler for `cross_triple`, and runs the tests under qemu-user
# (`cross_qemu`) with the target's own C library.  Nothing is registered
# with the kernel: CTest and the program tests call the emulator by name.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${cross_triple}-gcc)
set(CMAKE_CXX_COMPILER ${cross_triple}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${cross_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

find_program(LSINSTALLED_QEMU ${cross_qemu} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LSINSTALLED_QEMU} -L /usr/${cross_triple})
