#!/usr/bin/env bash
# Cross-builds the installer, pkgtool and the tests for another processor and
# runs every test under qemu-user:
#   s390x  64-bit big-endian (the router's byte order)
#   arm64  64-bit little-endian ARM
#   armhf  32-bit little-endian ARM (32-bit pointers and size_t)
#   powerpc  32-bit big-endian PowerPC, the router's processor, emulated as
#          an e300c3 (a processor with a variant)
# The target's zlib, OpenSSL and GoogleTest come from Debian's archive with
# `apt-get download` and are unpacked into BUILD_DIR/sysroot: installing them
# as foreign-architecture packages breaks whenever the archive and its
# security updates hold different versions for the two architectures. Debian
# has no PowerPC packages of them, so for powerpc they are built from
# Debian's source packages (`apt-get source`) into the sysroot instead.
# The sysroot is kept between runs.
# Usage: scripts/cross-test.sh ARCH [cmake options...]   (BUILD_DIR: build-ARCH)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case $arch in
  s390x) triplet=s390x-linux-gnu qemu=s390x ;;
  arm64) triplet=aarch64-linux-gnu qemu=aarch64 ;;
  armhf) triplet=arm-linux-gnueabihf qemu=arm ;;
  powerpc) triplet=powerpc-linux-gnu qemu=ppc ;;
  *)
    echo "usage: scripts/cross-test.sh s390x|arm64|armhf|powerpc [cmake options...]" >&2
    exit 2
    ;;
esac
shift
build_dir=${BUILD_DIR:-build-$arch}
sysroot=$PWD/$build_dir/sysroot
target_packages=(libc6 libgcc-s1 libstdc++6 zlib1g zlib1g-dev libssl3 libssl-dev libgtest-dev libgmock-dev)
# powerpc: the source packages, how libcrypto alone is configured, and the
# compiler flags of OpenSSL and GoogleTest.
source_packages=(zlib openssl googletest)
openssl_options=(linux-ppc no-shared no-tests no-module)
source_flags=(-O2 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64)

if [ "$arch" = powerpc ]; then
  bash scripts/install-deps.sh "g++-$triplet" qemu-user-static dpkg-dev
else
  bash scripts/install-deps.sh "g++-$triplet" qemu-user-static
fi

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
# powerpc: zlib, libcrypto and GoogleTest built from the host release's
# source packages (a private apt state again, with a deb-src line for the
# release's main component on the host's mirror), as static libraries in
# SYSROOT/usr. OpenSSL and GoogleTest are compiled with 64-bit file offsets
# and time like the installer (zlib picks its own for its gz* functions,
# which the installer does not use). The C library and libstdc++ come with
# the cross compiler: SYSROOT/lib leads to their run-time files for qemu.
build_sysroot() {
  local state=$build_dir/apt-source codename mirror dir start=$SECONDS
  codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
  mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' |
    awk -v release="$codename" '$2 == release && $3 == "main" { print $1; exit }')
  mirror=${mirror:-http://deb.debian.org/debian/}
  local apt=(apt-get -qq -o "Dir::Etc::SourceList=$PWD/$state/sources.list" -o "Dir::Etc::SourceParts=$PWD/$state/none"
    -o "Dir::State::Lists=$PWD/$state/lists" -o "Dir::Cache=$PWD/$state/cache"
    -o Dir::State::status=/dev/null -o APT::Sandbox::User=root)
  local jobs
  jobs=$(nproc)
  rm -rf "$sysroot" "$state"
  mkdir -p "$sysroot/usr/include/openssl" "$sysroot/usr/lib" "$state/lists/partial" "$state/cache/archives/partial" \
    "$state/none" "$state/src"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $codename main" \
    >"$state/sources.list"
  echo "fetching the sources of ${source_packages[*]} ($codename main, $mirror)"
  "${apt[@]}" update
  for package in "${source_packages[@]}"; do
    mkdir "$state/src/$package"
    (cd "$state/src/$package" && "${apt[@]}" source "$package" >/dev/null)
  done

  echo "building zlib"
  dir=$(echo "$state"/src/zlib/zlib-*/)
  (cd "$dir" && CHOST=$triplet CFLAGS=-O2 ./configure --static --prefix=/usr >/dev/null &&
    nice make -j"$jobs" libz.a >/dev/null && make install DESTDIR="$sysroot" >/dev/null)

  echo "building libcrypto (OpenSSL ${openssl_options[*]})"
  dir=$(echo "$state"/src/openssl/openssl-*/)
  (cd "$dir" &&
    ./Configure "${openssl_options[@]}" --prefix=/usr --libdir=lib --cross-compile-prefix="$triplet-" \
      "${source_flags[@]}" >/dev/null &&
    nice make -j"$jobs" build_generated >/dev/null && nice make -j"$jobs" libcrypto.a >/dev/null &&
    cp include/openssl/*.h "$sysroot/usr/include/openssl/" && cp libcrypto.a "$sysroot/usr/lib/")

  echo "building GoogleTest"
  dir=$(echo "$state"/src/googletest/googletest-*/)
  cmake -S "$dir" -B "$dir/build" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=powerpc \
    -DCMAKE_C_COMPILER="$triplet-gcc" -DCMAKE_CXX_COMPILER="$triplet-g++" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="${source_flags[*]}" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_GMOCK=OFF >/dev/null
  nice cmake --build "$dir/build" -j"$jobs" >/dev/null
  DESTDIR=$sysroot cmake --install "$dir/build" >/dev/null

  ln -s "/usr/$triplet/lib" "$sysroot/lib"
  for dsc in "$state"/src/*/*.dsc; do basename "$dsc" .dsc; done >"$sysroot/.versions"
  rm -rf "$state"
  echo "$recipe" >"$sysroot/.packages"
  echo "sysroot built in $((SECONDS - start)) s"
}

# The marker names what the sysroot was made of; a changed list remakes it.
if [ "$arch" = powerpc ]; then
  recipe="sources: ${source_packages[*]}; openssl ${openssl_options[*]}; ${source_flags[*]}"
  [ "$(cat "$sysroot/.packages" 2>/dev/null)" = "$recipe" ] || build_sysroot
  echo "sysroot built from $(tr '\n' ' ' <"$sysroot/.versions")"
else
  [ "$(cat "$sysroot/.packages" 2>/dev/null)" = "${target_packages[*]}" ] || make_sysroot
fi

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
export QEMU_LD_PREFIX=$sysroot
if [ "$arch" = powerpc ]; then
  # The installer reads the processor version register on PowerPC: qemu
  # emulates an e300c3 (PVR 0x00850010, processor variant 1; its default
  # processor has none), and the tests are told the variant to expect.
  export QEMU_CPU=${QEMU_CPU:-e300c3} INSTALLER_TEST_PROCESSOR_VARIANT=${INSTALLER_TEST_PROCESSOR_VARIANT:-1}
fi
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
