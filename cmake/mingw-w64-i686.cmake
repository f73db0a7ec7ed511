# 32-bit Windows: lists the registry's 32-bit view on 64-bit Windows (what
# 32-bit installers registered), and everything on 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
