#!/usr/bin/env bash
# Crash consistency on real kernels and real file systems: boots Debian's
# kernel under qemu (software emulation) with an initramfs of busybox, the
# tools of mtd-utils, dmsetup and e2fsprogs, the installer and the test
# packages, and runs the checks of scripts/vm/ inside:
#   ext4    every transaction recorded with dm-log-writes and replayed to
#           flush/FUA entries and to entries between them; on each replayed
#           disk one run of the installer, then the invariant
#   ubifs   the same transactions on UBIFS over a simulated NAND (nandsim),
#           cut by UBI's power-cut emulation at writes of erase block
#           headers, and by UBIFS's own recovery test mode (torn writes)
#   cost    bytes written and flushes per installed megabyte, measured on
#           the block device, beside `dpkg-deb -x` + `sync` of the same files
# The invariant: the old software or the new one exactly (every path, type,
# mode and contents but the post-run log and the RAM disk), no temporary file.
# The guest reports on the serial console; a summary table ends the run, and
# the exit status is 1 on any violation or failure of the guest.
# Usage: scripts/vm-test.sh [--full] [--seed N] [--only ext4,ubifs,cost] [--transactions NAME,...]
# (as root; --only and --transactions pick a part, to repeat a finding)
#   --full: every ext4 state and every UBI header cut; without it the
#   sample CI runs (scripts/vm/ext4-crash.sh and ubifs-cut.sh say which)
# BUILD_DIR (default build-vm) holds the installer's build and, in vm/, the
# guest: the kernel is fetched and unpacked once per kernel version.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=ci
seed=$RANDOM
only=ext4,ubifs,cost
transactions=all
while [ $# -gt 0 ]; do
  case $1 in
    --full) mode=full ;;
    --seed) seed=$2 && shift ;;
    --only) only=$2 && shift ;;
    --transactions) transactions=$2 && shift ;;
    *)
      echo "usage: scripts/vm-test.sh [--full] [--seed N] [--only ext4,ubifs,cost] [--transactions NAME,...]" >&2
      exit 2
      ;;
  esac
  shift
done
build_dir=${BUILD_DIR:-build-vm}
guest=$PWD/$build_dir/vm
# What the guest runs on: the tools are the host's own Debian packages,
# copied with the libraries they load; the kernel is unpacked, not installed.
guest_packages=(qemu-system-x86 busybox-static mtd-utils dmsetup e2fsprogs kmod cpio python3)
guest_tools=(bash dmsetup mke2fs e2fsck ubiformat ubiattach ubidetach ubimkvol flash_erase nandwrite find dpkg-deb tar)
# crc32c and zstd: algorithms ext4 and UBIFS ask the crypto layer for when
# they mount or load (modules.dep does not name them).
modules=(crc32c_generic ext4 dm-log-writes dm-snapshot loop nandsim ubi zstd ubifs)
[ "$mode" = full ] && limit=7200 || limit=1800  # seconds for the guest, boot to power-off

[ "$(id -u)" -eq 0 ] || { echo "vm-test.sh: run as root (it unpacks a root file system with device nodes)" >&2; exit 1; }
bash scripts/install-deps.sh --no-recommends "${guest_packages[@]}"

[ -f "$build_dir/CMakeCache.txt" ] || cmake -S . -B "$build_dir" -DINSTALLER_TESTS=OFF >/dev/null
nice -n 15 cmake --build "$build_dir" -j2 --target installer pkgtool >/dev/null
installer=$PWD/$build_dir/installer
pkgtool=$PWD/$build_dir/tools/pkgtool/pkgtool
key=$PWD/keys/development.key
mkdir -p "$guest"

# Debian's current kernel package, unpacked in $guest/kernel with the
# module dependencies made by depmod; kept while the version is the same.
fetch_kernel() {
  local package version
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }')
  if [ -z "$package" ] || ! apt-cache show "$package" >/dev/null 2>&1; then
    apt-get update -qq  # no package lists yet, or old ones
    package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ { print $2; exit }')
  fi
  [ -n "$package" ] || { echo "vm-test.sh: Debian's archive offers no linux-image-amd64" >&2; exit 1; }
  if [ "$(cat "$guest/kernel/.package" 2>/dev/null)" != "$package" ]; then
    echo "fetching $package"
    rm -rf "$guest/kernel" "$guest/debs"
    mkdir -p "$guest/debs"
    # (As root, apt hands the download to its own user unless told not to.)
    (cd "$guest/debs" && apt-get download -qq -o APT::Sandbox::User=root "$package")
    dpkg-deb -x "$guest/debs/$package"_*.deb "$guest/kernel"
    version=${package#linux-image-}
    depmod -b "$guest/kernel" "$version"
    rm -rf "$guest/debs"
    echo "$package" >"$guest/kernel/.package"
  fi
  kernel_version=${package#linux-image-}
}

# Copies a program and every library it loads (with the loader) into the
# guest root, at the same paths as on the host.
copy_with_libraries() {
  local root=$1 program=$2 library
  cp -L "$program" "$root/bin/"
  for library in $(ldd "$program" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$library")"
    [ -e "$root$library" ] || cp -L "$library" "$root$library"
  done
}

# The modules named in $modules and those they need, in an order insmod
# can load them (a module after every module it depends on).
module_order() {
  local dep=$guest/kernel/lib/modules/$kernel_version/modules.dep
  python3 - "$dep" "${modules[@]}" <<'PY'
import sys
deps = {}
for line in open(sys.argv[1]):
    path, _, needs = line.partition(":")
    deps[path] = needs.split()
by_name = {p.rsplit("/", 1)[-1][:-3].replace("_", "-"): p for p in deps}
order, seen = [], set()
def visit(path):
    if path in seen:
        return
    seen.add(path)
    for need in deps[path]:
        visit(need)
    order.append(path)
for name in sys.argv[2:]:
    visit(by_name[name.replace("_", "-")])
print("\n".join(order))
PY
}

# Test packages, made by pkgtool; file trees made by python (random
# contents from fixed seeds, so every run builds the same packages).
make_tree() {
  python3 - "$@" <<'PY'
import os, random, sys
directory, kind, seed = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(seed)
def put(name, data, mode=0o644):
    path = os.path.join(directory, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)
    os.chmod(path, mode)
if kind == "hello":
    # Version 1 and 2 share most names; 2 changes every file, drops bin/old
    # and lib/b, adds bin/new and turns the directory "lib" into a file.
    put("bin/hello", b"hello %d\n" % seed, 0o755)
    for i in range(24):
        put("share/hello/doc%d" % i, rng.randbytes(300 * i) + b"\n")
    if seed == 1:
        put("bin/old", b"old\n")
        put("lib/a", b"a\n")
        put("lib/b", b"b\n")
    else:
        put("bin/new", b"new\n", 0o700)
        put("lib", b"a file\n")
elif kind == "member":
    for i in range(4):
        put("lib/%s/part%d" % (os.path.basename(directory), i), rng.randbytes(2000 * (i + 1)))
elif kind == "routing":
    # 122 files, 9.0 MB, about a third of each random.
    for i in range(122):
        put("lib/routing/part%d" % i, rng.randbytes(26557) + b" " * (73770 - 26557))
elif kind == "cost":
    # 10 MiB in 80 files of 128 KiB that do not compress.
    for i in range(80):
        put("lib/cost/part%d" % i, rng.randbytes(128 * 1024))
PY
}

make_packages() {
  local out=$1 src=$guest/src
  local build=("$pkgtool" build --key "$key")
  rm -rf "$src" && mkdir -p "$src" "$out"
  make_tree "$src/hello1" hello 1 && make_tree "$src/hello2" hello 2
  "${build[@]}" -o "$out/hello-1.kmp" --name hello --version 1.0 --files "$src/hello1" >/dev/null
  "${build[@]}" -o "$out/hello-2.kmp" --name hello --version 2.0 --files "$src/hello2" >/dev/null
  local version member members
  for version in 1 2; do
    [ "$version" = 1 ] && members=(a x) || members=(a c)
    for member in "${members[@]}"; do
      make_tree "$src/m$version/$member" member $((version * 10 + ${#member}))
      "${build[@]}" -o "$src/m$version/$member.kmp" --name "$member" --version "$version.0" --files "$src/m$version/$member" >/dev/null
    done
    (cd "$src/m$version" && "$pkgtool" bundle -o "$out/extras-$version.kmp" --key "$key" --name extras --version "$version.0" \
      "${members[@]/%/.kmp}" >/dev/null)
  done
  make_tree "$src/r71" routing 1 && make_tree "$src/r72" routing 2
  "${build[@]}" -o "$out/routing-7.1.kmp" --name routing --version 7.1 --files "$src/r71" >/dev/null
  "${build[@]}" -o "$out/routing-7.2.kmp" --name routing --version 7.2 --files "$src/r72" >/dev/null
  # The flash-cost packages, and Debian packages of the same files for
  # dpkg-deb (gzip, the compression closest to the installer's).
  for version in 1 2; do
    make_tree "$src/cost$version" cost "$version"
    "${build[@]}" -o "$out/cost-$version.kmp" --name cost --version "$version.0" --files "$src/cost$version" >/dev/null
    mkdir -p "$src/cost$version/DEBIAN"
    printf 'Package: cost\nVersion: %s.0\nArchitecture: all\nMaintainer: nobody <nobody@localhost>\nDescription: flash cost\n' \
      "$version" >"$src/cost$version/DEBIAN/control"
    dpkg-deb -Zgzip --root-owner-group --build "$src/cost$version" "$out/cost-$version.deb" >/dev/null
  done
}

# The guest's root file system, packed as an uncompressed cpio archive.
make_initramfs() {
  local root=$guest/root tool applet module
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,mnt,vm/pkg,lib/modules}
  cp /bin/busybox "$root/bin/busybox"
  # Not busybox's init: when /init cannot run, the kernel would start it,
  # and it waits for a console forever instead of ending the guest.
  for applet in $(/bin/busybox --list | grep -v -x -e init -e linuxrc); do
    [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
  done
  # The host's tools take the place of busybox's applets of the same name.
  for tool in "${guest_tools[@]}"; do
    rm -f "$root/bin/$tool"
    copy_with_libraries "$root" "$(command -v "$tool")"
  done
  copy_with_libraries "$root" "$installer"
  nice cc -O2 -static -Wall -Wextra -Werror -o "$root/bin/log-replay" tools/log-replay/log_replay.c
  for module in $(module_order); do
    cp "$guest/kernel/lib/modules/$kernel_version/$module" "$root/lib/modules/"
    basename "$module" >>"$root/lib/modules/order"
  done
  cp scripts/vm/*.sh "$root/vm/"
  cp "$guest/pkg"/* "$root/vm/pkg/"
  ln -s vm/init.sh "$root/init"
  chmod +x "$root"/vm/*.sh
  (cd "$root" && find . | cpio -o -H newc --quiet) >"$guest/initramfs.cpio"
}

fetch_kernel
make_packages "$guest/pkg"
make_initramfs
echo "guest: $(du -h "$guest/initramfs.cpio" | cut -f1) initramfs, kernel $kernel_version; mode $mode, seed $seed"

# The guest prints its findings on the serial console as "VMTEST ..." lines
# and ends with "VMTEST end STATUS"; anything else is the checks' progress
# and the kernel's alerts.
console=$guest/console.log
start=$SECONDS
set +e
# loglevel=1: only the kernel's alerts on the console; log_buf_len: room
# for the errors that follow a cut, among which the checks look for it.
# panic=-1 with -no-reboot: a guest that panics ends qemu at once.
command_line="console=ttyS0 panic=-1 loglevel=1 log_buf_len=16M"
command_line+=" vmtest.mode=$mode vmtest.seed=$seed vmtest.only=$only vmtest.transactions=$transactions"
timeout --foreground -k 10 "$limit" qemu-system-x86_64 -accel tcg -cpu max -smp 2 -m 2048 -nographic -no-reboot \
  -kernel "$guest/kernel/boot/vmlinuz-$kernel_version" -initrd "$guest/initramfs.cpio" \
  -append "$command_line" </dev/null | tee "$console"
qemu_status=${PIPESTATUS[0]}
set -e
tr -d '\r' <"$console" | grep -a '^VMTEST ' >"$guest/results" || true
echo "== the guest ran for $((SECONDS - start)) s (qemu status $qemu_status)"
status=$(awk '$2 == "end" { print $3 }' "$guest/results")
if [ -z "$status" ]; then
  [ "$qemu_status" -eq 124 ] && echo "vm-test.sh: the guest did not finish within $limit s" >&2 ||
    echo "vm-test.sh: the guest stopped before it finished (see $console)" >&2
  status=1
fi
echo "== summary (mode $mode, seed $seed)"
sed -n 's/^VMTEST row //p' "$guest/results"
sed -n 's/^VMTEST \(note\|violation\|error\) //p' "$guest/results"
exit "$status"
