# Shared part of the Linux cross toolchains (aarch64-linux-gnu.cmake,
# arm-linux-gnueabihf.cmake): Debian's cross compilers, the target's libraries
# from a sysroot of the target's Debian packages, and the test programs run
# under qemu-user. The including file sets PELLORA_CROSS_TRIPLE,
# CMAKE_SYSTEM_PROCESSOR, PELLORA_CROSS_QEMU and PELLORA_DEB_ARCHITECTURE.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${PELLORA_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PELLORA_CROSS_TRIPLE}-g++)

# The sysroot: the target's C and C++ run-time libraries and the libraries
# pellora links with (libusb, libsystemd, libudev, libevdev) with their headers and .pc
# files, unpacked from Debian packages by scripts/setup.sh (pellora_sysroot,
# which `pellora_setup arm` and so scripts/test-arm.sh run). The compiler's own
# C library headers and start files come with the cross compiler.
if(NOT PELLORA_SYSROOT)
  get_filename_component(PELLORA_SYSROOT
    ${CMAKE_CURRENT_LIST_DIR}/../build-sysroot/${PELLORA_DEB_ARCHITECTURE}/root ABSOLUTE)
endif()
if(NOT EXISTS ${PELLORA_SYSROOT}/.packages)
  message(FATAL_ERROR "No ${PELLORA_DEB_ARCHITECTURE} sysroot in ${PELLORA_SYSROOT}: "
    "scripts/test-arm.sh makes it (or, by hand: . scripts/setup.sh && pellora_sysroot "
    "${PELLORA_DEB_ARCHITECTURE})")
endif()
set(CMAKE_SYSROOT ${PELLORA_SYSROOT})

# qemu-user runs each test program with the sysroot's loader and libraries
# (-L), so the loader, libc, libstdc++ and libusb all come from one set of
# Debian revisions, as on a real ARM machine. No binfmt_misc needed: only
# programs the tests start themselves go through it, and those are started
# through the emulator too (tests/CMakeLists.txt).
find_program(PELLORA_CROSS_QEMU_PROGRAM ${PELLORA_CROSS_QEMU})
if(PELLORA_CROSS_QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLORA_CROSS_QEMU_PROGRAM} -L ${PELLORA_SYSROOT})
endif()

# pkg-config reads the sysroot's .pc files only, and puts the sysroot in front
# of the paths they name.
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${PELLORA_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    ${PELLORA_SYSROOT}/usr/lib/${PELLORA_CROSS_TRIPLE}/pkgconfig:${PELLORA_SYSROOT}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Headers and libraries come from the sysroot (or the cross compiler's own
# directories), never from the host's.
set(CMAKE_LIBRARY_ARCHITECTURE ${PELLORA_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
