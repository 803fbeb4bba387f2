# Cross-building for 32-bit ARM Linux with hardware floating point (Raspberry Pi
# OS 32-bit, Debian armhf) with Debian's g++-arm-linux-gnueabihf; tests run
# under qemu-arm. Here char is unsigned and size_t is 32 bits wide.
set(PELLORA_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(PELLORA_CROSS_QEMU qemu-arm)
set(PELLORA_DEB_ARCHITECTURE armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
