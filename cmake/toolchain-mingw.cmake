# Cross-compiles for Windows with Debian's MinGW-w64, posix thread model (GCC 12's win32 model has
# no std::mutex, which GoogleTest needs). HALVERN_ARCH picks i686 (the shipped 32-bit stub) or
# x86_64 (the same sources for test machines whose kernel cannot run 32-bit Wine).
if(NOT HALVERN_ARCH)
  set(HALVERN_ARCH i686)
endif()
set(HALVERN_ARCH ${HALVERN_ARCH} CACHE STRING "i686 or x86_64")

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${HALVERN_ARCH})
set(TOOLCHAIN_PREFIX ${HALVERN_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# CTest runs the Windows programs through Wine, with the loader that fits the architecture.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
