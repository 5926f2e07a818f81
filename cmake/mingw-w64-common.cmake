# Shared part of the mingw-w64 tool chain files: the including file sets
# PELMBUS_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32) first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

# The "posix" thread model: std::thread, std::mutex and std::condition_variable
# need it with mingw-w64's GCC; winpthreads is linked statically.
set(CMAKE_C_COMPILER ${PELMBUS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELMBUS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PELMBUS_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${PELMBUS_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${PELMBUS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
