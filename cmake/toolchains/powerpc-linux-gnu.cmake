# 32-bit big-endian PowerPC: the router's processor. Debian has no PowerPC
# packages, so scripts/cross-test.sh builds the sysroot's zlib, libcrypto and
# GoogleTest from Debian's sources. See debian-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CROSS_TRIPLET powerpc-linux-gnu)
set(CROSS_QEMU ppc)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
