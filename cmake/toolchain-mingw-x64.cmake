# 64-bit Windows, cross-built with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VANTU_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# GCC keeps 32- and 64-byte vector spills in aligned stack slots that Windows
# does not align (the stack is 16-byte aligned there), so vector moves are
# assembled as unaligned ones.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
