#!/usr/bin/env bash
# Cross-builds the installer, pkgtool and the tests for another processor and
# runs every test under qemu-user:
#   s390x  64-bit big-endian (the router's byte order)
#   arm64  64-bit little-endian ARM
#   armhf  32-bit little-endian ARM (32-bit pointers and size_t)
# The target's zlib, OpenSSL and GoogleTest come from Debian's archive with
# `apt-get download` and are unpacked into BUILD_DIR/sysroot: installing them
# as foreign-architecture packages breaks whenever the archive and its
# security updates hold different versions for the two architectures.
# Usage: scripts/cross-test.sh ARCH [cmake options...]   (BUILD_DIR: build-ARCH)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case $arch in
  s390x) triplet=s390x-linux-gnu qemu=s390x ;;
  arm64) triplet=aarch64-linux-gnu qemu=aarch64 ;;
  armhf) triplet=arm-linux-gnueabihf qemu=arm ;;
  *)
    echo "usage: scripts/cross-test.sh s390x|arm64|armhf [cmake options...]" >&2
    exit 2
    ;;
esac
shift
build_dir=${BUILD_DIR:-build-$arch}
sysroot=$PWD/$build_dir/sysroot
target_packages=(libc6 libgcc-s1 libstdc++6 zlib1g zlib1g-dev libssl3 libssl-dev libgtest-dev libgmock-dev)

bash scripts/install-deps.sh "g++-$triplet" qemu-user-static

# A private apt state for the target architecture, so the host's own package
# configuration (its architectures, its lists) stays as it is.
make_sysroot() {
  local state=$build_dir/apt
  local apt=(apt-get -qq -o "APT::Architecture=$arch" -o "APT::Architectures::=$arch"
    -o "Dir::State::Lists=$PWD/$state/lists" -o "Dir::Cache=$PWD/$state/cache"
    -o Dir::State::status=/dev/null -o APT::Sandbox::User=root)
  rm -rf "$sysroot" "$state"
  mkdir -p "$sysroot" "$state/lists/partial" "$state/cache/archives/partial" "$state/debs"
  echo "fetching the $arch packages: ${target_packages[*]}"
  "${apt[@]}" update
  (cd "$state/debs" && "${apt[@]}" download "${target_packages[@]}")
  for deb in "$state/debs"/*.deb; do
    dpkg-deb -x "$deb" "$sysroot"
  done
  # Links to absolute paths (libz.so -> /lib/...) must stay inside the sysroot.
  find "$sysroot" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
    ln -sfn "$sysroot$(readlink "$link")" "$link"
  done
  echo "${target_packages[*]}" >"$sysroot/.packages"
}
# The marker names what the sysroot was made of; a changed list remakes it.
[ "$(cat "$sysroot/.packages" 2>/dev/null)" = "${target_packages[*]}" ] || make_sysroot

# Test programs start the built installer themselves, so the kernel must hand
# target binaries to qemu: binfmt_misc, with the entry qemu-user-static ships.
register_qemu() {
  local misc=/proc/sys/fs/binfmt_misc
  [ -e "$misc/qemu-$qemu" ] && return
  if ! mountpoint -q "$misc"; then
    mount -t binfmt_misc binfmt_misc "$misc" || {
      echo "cannot mount binfmt_misc: run as root, or register qemu-$qemu yourself" >&2
      exit 1
    }
  fi
  grep -v '^#' "/usr/lib/binfmt.d/qemu-$qemu.conf" >"$misc/register"
}
register_qemu

# INSTALLER_INFLATE=zlib: the target's zlib is in the sysroot, other inflate
# libraries are not.
cmake --no-warn-unused-cli -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/$triplet.cmake" \
  -DINSTALLER_CROSS_SYSROOT="$sysroot" -DINSTALLER_INFLATE=zlib "$@"
nice cmake --build "$build_dir" -j"$(nproc)"
# The loader of every target program, the ones the tests start included, is
# looked up in the sysroot.
QEMU_LD_PREFIX=$sysroot ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
