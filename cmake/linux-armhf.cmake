# 32-bit ARM Linux (hard float), with the 64-bit off_t that Debian's 32-bit
# ports build with.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(cross_triple arm-linux-gnueabihf)
set(cross_qemu qemu-arm)
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
