# Shared part of the cross toolchains: Debian's cross compiler for
# CROSS_TRIPLET, and the target's zlib, OpenSSL and GoogleTest from a sysroot
# of unpacked Debian packages, or for PowerPC of libraries built from
# Debian's sources (scripts/cross-test.sh makes one and passes it as
# -DINSTALLER_CROSS_SYSROOT=DIR). The C library and libstdc++ to build
# against come with the cross compiler; the sysroot carries their run-time
# copies too (PowerPC: a link to the cross compiler's), so that it can serve
# as qemu-user's loader prefix.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)
set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc)

# try_compile projects read this file again; they must see the sysroot too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES INSTALLER_CROSS_SYSROOT)
if(NOT INSTALLER_CROSS_SYSROOT)
  message(FATAL_ERROR "set INSTALLER_CROSS_SYSROOT to the target's sysroot (scripts/cross-test.sh makes one)")
endif()

set(CMAKE_FIND_ROOT_PATH ${INSTALLER_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# OpenSSL's configuration headers live in the multiarch include folder.
set(CMAKE_CXX_FLAGS_INIT "-isystem ${INSTALLER_CROSS_SYSROOT}/usr/include/${CROSS_TRIPLET}")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,-rpath-link,${INSTALLER_CROSS_SYSROOT}/lib/${CROSS_TRIPLET}:${INSTALLER_CROSS_SYSROOT}/usr/lib/${CROSS_TRIPLET}")

# ctest runs the test program (and lists its tests) through qemu-user.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CROSS_QEMU}-static -L ${INSTALLER_CROSS_SYSROOT})
