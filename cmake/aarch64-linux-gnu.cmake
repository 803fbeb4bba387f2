# Cross-building for 64-bit ARM Linux (Raspberry Pi OS 64-bit, Debian arm64)
# with Debian's g++-aarch64-linux-gnu; tests run under qemu-aarch64.
set(PELLORA_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PELLORA_CROSS_QEMU qemu-aarch64)
set(PELLORA_DEB_ARCHITECTURE arm64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
