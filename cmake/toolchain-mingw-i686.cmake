# 32-bit Windows, cross-built with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VANTU_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# A 32-bit Windows host may call in with a stack that is only 4-byte aligned:
# functions that keep vector values on the stack realign it themselves, and
# vector moves are assembled as unaligned ones.
set(CMAKE_C_FLAGS_INIT "-mincoming-stack-boundary=2 -Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-mincoming-stack-boundary=2 -Wa,-muse-unaligned-vector-move")
