# Cross-building the Windows program on Linux with Debian's mingw-w64.
#
# The POSIX thread-model compilers are required: the win32 model lacks
# std::thread and std::mutex, which the relay core and GoogleTest use.
# Everything is linked statically so Pellora.exe and the test programs need no
# libstdc++ or winpthread DLL beside them, on Windows or under Wine.
#
# libusb is not part of the toolchain: the build names its own static build
# with LIBUSB_ROOT (scripts/build-windows.sh does).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELLORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELLORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PELLORA_MINGW_TRIPLE}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine (ctest and gtest discovery both go through it);
# building needs no Wine.
find_program(PELLORA_WINE wine)
if(PELLORA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLORA_WINE})
endif()

# Headers and libraries come from the mingw sysroot, never from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${PELLORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
