#!/usr/bin/env bash
# The installer's main job on a demo router: builds a few signed packages,
# installs a first system from standard input, drops newer packages into the
# download directory and runs the boot-time upgrade, then lists the database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target installer pkgtool >/dev/null

installer=$PWD/build/installer
pkgtool=$PWD/build/tools/pkgtool/pkgtool
key=$PWD/keys/development.key
root=$PWD/build/demo-root
work=$PWD/build/demo-packages
rm -rf "$root" "$work"
mkdir -p "$root"/flash/var/pdb "$root"/ram "$root"/rw/pckg/.download "$work"

# A file tree for a package: tree NAME FILE=CONTENTS...
tree() {
  local dir=$work/$1
  shift
  for spec in "$@"; do
    mkdir -p "$dir/$(dirname "${spec%%=*}")"
    printf '%s\n' "${spec#*=}" >"$dir/${spec%%=*}"
  done
  echo "$dir"
}

build() {
  local out=$1
  shift
  "$pkgtool" build -o "$out" --key "$key" --build-time 1767225600 "$@"
}

build "$work/system-7.1.kmp" --name system --version 7.1 \
  --files "$(tree system-7.1 bin/shell='shell 7.1' etc/version='7.1')"
build "$work/system-7.1.3.kmp" --name system --version 7.1.3 \
  --files "$(tree system-7.1.3 bin/shell='shell 7.1.3' etc/version='7.1.3')"
build "$work/routing-7.1.3.kmp" --name routing --version 7.1.3 \
  --depends "system min=7.1.3" --files "$(tree routing bin/routed='routed')"
build "$work/wireless-7.1.3.kmp" --name wireless --version 7.1.3 --depends "system min=7.1" \
  --files "$(tree wireless lib/wireless.ko='driver')"
build "$work/ipv6-7.1.3.kmp" --name ipv6 --version 7.1.3 --files "$(tree ipv6 lib/ipv6.ko='ipv6')"
# The bundle carries a squashfs image, which the database keeps as the bundle's
# image: it is what lists the members at every later run.
mkdir -p "$work/extras-image"
echo "extras 7.1.3" >"$work/extras-image/README"
mksquashfs "$work/extras-image" "$work/extras.squashfs" -quiet -noappend >/dev/null
# With --key the bundle's own parts (its name, version, image and member
# list) are signed too, not only its members.
"$pkgtool" bundle -o "$work/extras-7.1.3.kmp" --key "$key" --name extras --version 7.1.3 --build-time 1767225600 \
  --squashfs "$work/extras.squashfs" --member-list ipv6 "$work/wireless-7.1.3.kmp" "$work/ipv6-7.1.3.kmp"

echo "== a router with system 7.1, installed from standard input"
echo "+ installer -r $root - < system-7.1.kmp"
"$installer" -r "$root" - <"$work/system-7.1.kmp"
"$installer" -r "$root" --show

echo
echo "== new packages in the download directory: a newer system, a package that"
echo "== depends on it, and a bundle whose ipv6 member starts disabled"
cp "$work/system-7.1.3.kmp" "$work/routing-7.1.3.kmp" "$work/extras-7.1.3.kmp" "$root/rw/pckg/.download/"
ls "$root/rw/pckg/.download/"
echo "+ installer -r $root"
"$installer" -r "$root"
echo
echo "+ installer -r $root --show"
"$installer" -r "$root" --show
echo
echo "+ installer -r $root   (the next boot: nothing new to install)"
rm -f "$root"/rw/pckg/.download/*
"$installer" -r "$root"
"$installer" -r "$root" --show
echo
echo "Installed files under $root/flash:"
(cd "$root/flash" && find . -path ./var -prune -o -type f -print | sort)
echo "Post-run log ($root/flash/postlog):"
cat "$root/flash/postlog"
echo
echo "The bundle's own parts are signed (pkgtool inspect extras-7.1.3.kmp):"
"$pkgtool" inspect "$work/extras-7.1.3.kmp" | grep -A1 '^  bundle signature:'
