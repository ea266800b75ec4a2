# Cross toolchain for the 32-bit x86 Windows target: Debian's MinGW-w64 i686
# compilers, in their POSIX thread-model variants (std::mutex, which
# GoogleTest needs, is missing from the default win32 model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# Appended to, so that -DCMAKE_FIND_ROOT_PATH=DIR adds DIR (an installed
# prefix whose packages a cross build is to find) to the sysroot.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
