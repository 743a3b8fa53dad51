# armhf: 32-bit ARM, little-endian, 32-bit size_t and pointers like the router. See debian-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CROSS_TRIPLET arm-linux-gnueabihf)
set(CROSS_QEMU arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
