# 32-bit x86 Linux, with the 64-bit off_t that Debian's 32-bit ports build
# with.  Linked statically: under Debian 12's qemu-i386 the child of a fork
# in a dynamically linked program hangs, and the program tests fork.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(cross_triple i686-linux-gnu)
set(cross_qemu qemu-i386)
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
