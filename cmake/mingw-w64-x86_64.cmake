# Cross build for 64-bit Windows with mingw-w64: the same code as the 32-bit
# program, for running the tests under Wine on hosts that cannot run 32-bit
# Linux programs (and so no 32-bit Wine).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PELMBUS_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
