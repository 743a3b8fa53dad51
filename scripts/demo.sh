#!/usr/bin/env bash
# The installer's main job on a demo router: builds a few signed packages,
# installs a first system from standard input, drops newer packages into the
# download directory and runs the boot-time upgrade, then lists the database.
# Every step says what it does and why; every command it runs is shown after
# "+ ", with paths inside this tree given relative to it.
set -euo pipefail
cd "$(dirname "$0")/.."

say() {
  echo
  printf '== %s\n' "$@"
}
show() {
  local text="$*"
  echo "+ ${text//$PWD\//}"
}
run() {
  show "$@"
  "$@"
}

say "Debian packages for the build (installed with apt-get when missing)"
run bash scripts/install-deps.sh
say "Building the installer and pkgtool in build/ (the first build takes a few minutes)"
show cmake -S . -B build
cmake -S . -B build >/dev/null
run cmake --build build -j"$(nproc)" --target installer pkgtool

installer=$PWD/build/installer
pkgtool=$PWD/build/tools/pkgtool/pkgtool
key=$PWD/keys/development.key
root=$PWD/build/demo-root
work=$PWD/build/demo-packages
say "A fresh demo router root: its flash, its RAM disk and its download directory" \
  "(the installer works inside it with -r, as if it were the router's /)"
run rm -rf "$root" "$work"
run mkdir -p "$root"/flash/var/pdb "$root"/ram "$root"/rw/pckg/.download "$work"

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
  run "$pkgtool" build -o "$out" --key "$key" --build-time 1767225600 "$@"
}

say "Package files, built and signed with the development key (keys/development.key)," \
  "each from a small file tree written under build/demo-packages/:" \
  "two systems, a package that needs the newer one, and two for a bundle"
build "$work/system-7.1.kmp" --name system --version 7.1 \
  --files "$(tree system-7.1 bin/shell='shell 7.1' etc/version='7.1')"
build "$work/system-7.1.3.kmp" --name system --version 7.1.3 \
  --files "$(tree system-7.1.3 bin/shell='shell 7.1.3' etc/version='7.1.3')"
build "$work/routing-7.1.3.kmp" --name routing --version 7.1.3 \
  --depends "system min=7.1.3" --files "$(tree routing bin/routed='routed')"
build "$work/wireless-7.1.3.kmp" --name wireless --version 7.1.3 --depends "system min=7.1" \
  --files "$(tree wireless lib/wireless.ko='driver')"
build "$work/ipv6-7.1.3.kmp" --name ipv6 --version 7.1.3 --files "$(tree ipv6 lib/ipv6.ko='ipv6')"

say "A bundle of wireless and ipv6 whose member list names ipv6, so ipv6 starts disabled." \
  "It carries a squashfs image, which the database keeps as the bundle's image:" \
  "it is what lists the members at every later run"
mkdir -p "$work/extras-image"
echo "extras 7.1.3" >"$work/extras-image/README"
show mksquashfs "$work/extras-image" "$work/extras.squashfs" -quiet -noappend
mksquashfs "$work/extras-image" "$work/extras.squashfs" -quiet -noappend >/dev/null
# With --key the bundle's own parts (its name, version, image and member
# list) are signed too, not only its members.
run "$pkgtool" bundle -o "$work/extras-7.1.3.kmp" --key "$key" --name extras --version 7.1.3 --build-time 1767225600 \
  --squashfs "$work/extras.squashfs" --member-list ipv6 "$work/wireless-7.1.3.kmp" "$work/ipv6-7.1.3.kmp"

say "Step 1: a router with system 7.1, installed from standard input" \
  "(how a first system is put on a router: the stream's signature is checked, its files go" \
  "under /flash, and the package is recorded in the database, /flash/var/pdb/system/)"
show "$installer" -r "$root" - "<" "$work/system-7.1.kmp"
"$installer" -r "$root" - <"$work/system-7.1.kmp"
say "The database now: one package"
run "$installer" -r "$root" --show

say "Step 2: new packages arrive in the download directory (/rw/pckg/.download/):" \
  "a newer system, a package that depends on it, and the bundle"
run cp "$work/system-7.1.3.kmp" "$work/routing-7.1.3.kmp" "$work/extras-7.1.3.kmp" "$root/rw/pckg/.download/"
run ls "$root/rw/pckg/.download/"

say "Step 3: the boot-time upgrade run, what the router does at every boot:" \
  "it checks each file's signature, installs the newest of each package in dependency order" \
  "(system before routing), and commits all file changes together at the end"
run "$installer" -r "$root"

say "The database after the upgrade. Flag columns: X = disabled (ipv6, as the bundle's member list" \
  "asked), B = member of a bundle (loaded from the bundle's image). The Note column is empty:" \
  "these packages carry no note"
run "$installer" -r "$root" --show

say "Step 4: the next boot, with the download directory emptied: nothing is newer than what is" \
  "installed, so the run installs nothing and prints nothing; the database stays as it was"
show rm -f "$root/rw/pckg/.download/*"
rm -f "$root"/rw/pckg/.download/*
run "$installer" -r "$root"
run "$installer" -r "$root" --show

say "What the runs left in the router's /flash: package files, markers, the post-run log," \
  "and one database entry per package: its meta files (version, dependencies, files, state)," \
  "and the image of what carries a squashfs image (here only the bundle)"
show "cd $root/flash && find . -path ./var -prune -o -type f -print"
# The owner of a file: the package whose database "files" list names it.
owner() {
  local list
  for list in "$root"/flash/var/pdb/*/files; do
    grep -qxF "$1" "$list" && basename "$(dirname "$list")" && return
  done
  echo "?"
}
(cd "$root/flash" && find . -path ./var -prune -o -type f -print | sort) | while read -r file; do
  file=${file#./}
  case $file in
    PCKGS_CHANGED) label="marker: the installed packages changed (read by the boot scripts)" ;;
    UPGRADED | BRANDING_INSTALLED) label="marker for the boot scripts" ;;
    postlog) label="post-run log: the runs' messages, shown below" ;;
    x/*) label="file of the disabled package $(owner "$file"), kept aside under x/NAME/ until it is enabled" ;;
    *) label="file of the package $(owner "$file")" ;;
  esac
  printf '  /flash/%-20s %s\n' "$file" "$label"
done
for dir in "$root"/flash/var/pdb/*/; do
  printf '  /flash/%-20s %s\n' "var/pdb/$(basename "$dir")/" "database entry: $(ls "$dir" | paste -sd ' ')"
done

say "Post-run log (${root#$PWD/}/flash/postlog): the messages the runs left for the rest of the system"
run cat "$root/flash/postlog"

say "The bundle's own parts are signed: pkgtool inspect shows its bundle signature part"
show "$pkgtool" inspect "$work/extras-7.1.3.kmp" "| grep -A1 '^  bundle signature:'"
"$pkgtool" inspect "$work/extras-7.1.3.kmp" | grep -A1 '^  bundle signature:'
