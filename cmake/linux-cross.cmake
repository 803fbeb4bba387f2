# Shared part of the Linux cross toolchains (aarch64-linux-gnu.cmake,
# arm-linux-gnueabihf.cmake): Debian's cross compilers, the target's libraries
# from Debian's multiarch packages (libusb-1.0-0-dev:ARCH, libsystemd-dev:ARCH,
# libudev-dev:ARCH, found through their .pc files below), and the test
# programs run under qemu-user. The including file sets PELLORA_CROSS_TRIPLE,
# CMAKE_SYSTEM_PROCESSOR, PELLORA_CROSS_QEMU and PELLORA_DEB_ARCHITECTURE.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${PELLORA_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PELLORA_CROSS_TRIPLE}-g++)

# qemu-user runs each test program with the target's loader and libraries
# from Debian's multiarch packages (libc6:ARCH, libstdc++6:ARCH, libusb-1.0-0:ARCH),
# as on a real ARM machine: "-L /" makes qemu take /lib/ld-linux-*.so.* from the
# host's root. Not "-L /usr/TRIPLE": that loader belongs to the cross
# toolchain's C library (libc6-ARCH-cross, another Debian revision), and the
# multiarch libusb pulls in the multiarch libc.so.6 through the loader cache;
# that mix of revisions hangs or crashes in the first pthread_create. No
# binfmt_misc needed: only programs the tests start themselves go through it,
# and those are started through the emulator too (tests/CMakeLists.txt).
find_program(PELLORA_CROSS_QEMU_PROGRAM ${PELLORA_CROSS_QEMU})
if(PELLORA_CROSS_QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLORA_CROSS_QEMU_PROGRAM} -L /)
endif()

# pkg-config reads the target's .pc files only (Debian has no TRIPLE-pkg-config
# wrapper without extra packages).
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${PELLORA_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Headers and libraries come from the target's directories, never from the host's.
# The second root is the multiarch packages' library directory, which their .pc
# files name: a path inside a root is searched as it stands, so pkg-config's
# find_library() gets /usr/lib/TRIPLE/libusb-1.0.so (libsystemd.so,
# libudev.so) rather than falling back to a bare -l for the linker to resolve.
set(CMAKE_FIND_ROOT_PATH /usr/${PELLORA_CROSS_TRIPLE} /usr/lib/${PELLORA_CROSS_TRIPLE})
set(CMAKE_LIBRARY_ARCHITECTURE ${PELLORA_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
