# Cross-compiling toolchain for the Windows target. VYN_WIN_ARCH selects i686 (the shipped stub) or
# x86_64 (the build that runs the tests where the machine cannot execute 32-bit code).
set(CMAKE_SYSTEM_NAME Windows)
if(NOT DEFINED VYN_WIN_ARCH)
  set(VYN_WIN_ARCH i686)
endif()
set(VYN_WIN_ARCH "${VYN_WIN_ARCH}" CACHE STRING "mingw-w64 architecture: i686 or x86_64")
set(CMAKE_SYSTEM_PROCESSOR ${VYN_WIN_ARCH})
set(_triple ${VYN_WIN_ARCH}-w64-mingw32)
# The -posix thread model provides std::thread and std::mutex, which GoogleTest needs.
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
