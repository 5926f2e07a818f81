# Cross build of the shipped 32-bit Windows program with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PELMBUS_MINGW_TRIPLE i686-w64-mingw32)
# SSE2 floating point, as the 64-bit build computes: the x87 default keeps
# excess precision in registers, so parsing, averages and conversions could
# differ in the last bit from the build that is tested. Every PC that runs
# Windows 7 or later has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
