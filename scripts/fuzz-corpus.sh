#!/usr/bin/env bash
# Writes the seed corpus of the fuzz targets to tests/fuzz/corpus/<target>/:
# packages and bundles built by pkgtool, the database files, schedule and
# manifest that our installer writes when it installs them into a scratch
# root (so, like scripts/demo.sh, it runs as root: "-r ROOT" changes the
# root), and short text files for the settings, trust and description
# readers. Each seed is small: libFuzzer grows the rest.
#
# Run it when a format changes, check the result in, and keep any seed a
# finding added (named "finding-*"): this script leaves those alone.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-fuzz
if [ ! -x "$build/installer" ] || [ ! -x "$build/tools/pkgtool/pkgtool" ]; then
  bash scripts/fuzz.sh --build-only
fi
installer=$PWD/$build/installer
pkgtool=$PWD/$build/tools/pkgtool/pkgtool
corpus=$PWD/tests/fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=0

for target in package_stream stream_install manifest package_database schedule system_settings trust_file \
  package_description; do
  mkdir -p "$corpus/$target"
  find "$corpus/$target" -type f ! -name 'finding-*' -delete
done

# Packages: PKG NAME VERSION [SETTING VALUE]...; files come from $work/tree-NAME.
pkg() {
  local out=$work/$1-$2.kmp name=$1 version=$2
  shift 2
  mkdir -p "$work/tree-$name/bin"
  echo "$name" >"$work/tree-$name/bin/$name"
  "$pkgtool" build -o "$out" --key keys/development.key --name "$name" --version "$version" \
    --build-time 1767225600 --architecture i386 --files "$work/tree-$name" "$@" >/dev/null
}
printf 'hsqs image' >"$work/image"
pkg system 7.1
mkdir -p "$work/tree-hello/bin"
ln -s hello "$work/tree-hello/bin/hi"
pkg hello 1.0 --depends "system min=7.1" --provides "greeting priority=2" --conflicts "hola max=0.9" \
  --note "says hello" --text24 "t24" --text2 "t2" --mode "bin/hello 755"
pkg hello 1.1 --depends "system min=7.1" --provides "greeting priority=2"
pkg legacy 1.0 --digest sha1 --signature legacy
pkg loose 1.0 --magic unrecorded --signature none --header-flags 1 --variant "bin/loose 2"
pkg imaged 1.0 --squashfs "$work/image"
pkg ipv6 1.0
pkg wireless 1.0
# A signed bundle, and one without a bundle signature.
bundle() {
  "$pkgtool" bundle -o "$work/$1.kmp" --name extras --version 1.0 --build-time 1767225600 --architecture i386 \
    --squashfs "$work/image" --member-list ipv6 "${@:2}" "$work/ipv6-1.0.kmp" "$work/wireless-1.0.kmp" >/dev/null
}
bundle extras-1.0 --key keys/development.key
bundle extras-unsigned-1.0
for file in system-7.1 hello-1.0 legacy-1.0 loose-1.0 imaged-1.0 extras-1.0 extras-unsigned-1.0; do
  cp "$work/$file.kmp" "$corpus/package_stream/$file.kmp"
  cp "$work/$file.kmp" "$corpus/stream_install/$file.kmp"
done

# The database, the schedule and the manifest our installer writes.
root=$work/root
mkdir -p "$root"/flash/var/pdb "$root"/ram/pdb/hello "$root"/rw/pckg/.download
for file in system-7.1 hello-1.0 extras-1.0; do
  "$installer" -q -r "$root" - <"$work/$file.kmp" || echo "warning: $file was not installed"
done
echo uninstall >"$root/ram/pdb/hello/schedule"
touch "$root/flash/var/pdb/hello/enabled"
# A database file: the files of the tree, each as its path, a line feed and
# its contents, separated by zero bytes (tests/fuzz/fuzz_input.h).
database() {
  local first=1 file
  while IFS= read -r file; do
    [ "$first" = 1 ] || printf '\0'
    first=0
    printf '%s\n' "${file#"$root"}"
    cat "$file"
  done < <(find "$root/flash/var/pdb" "$root/ram/pdb" -type f "$@" | sort)
}
database >"$corpus/package_database/installed"
database ! -name image >"$corpus/package_database/meta-files-only"
cp "$work/hello-1.1.kmp" "$root/rw/pckg/.download/"
"$installer" -q -r "$root" --safe || true
cp "$root/ram/MANIFEST" "$corpus/manifest/upgrade" 2>/dev/null || echo "warning: no manifest written"
printf 'M /flash/bin/a\\040b /ram/tmpabc123\nL /flash/bootimage\\012 /flash/var/pdb/x/image\nU /flash/old\\134\n' \
  >"$corpus/manifest/escapes"

printf 'hello\nuninstall\n' >"$corpus/schedule/uninstall"
printf 'hello-2.x\nenable' >"$corpus/schedule/enable"
printf 'h\n  disable  \n' >"$corpus/schedule/disable"

cat >"$corpus/system_settings/every-setting" <<'END'
# comment
flagged 1
device-mode-any-system 0
safe-package 0x07000000 0x07050000 0 4294967295 0  # repeatable
safe-package 7 8 9 10 11
min-system-version 0x07020000
processor-version 0x80200020
flash-ioctl-result -22
END
printf 'flagged 2\nunknown 1\nmin-system-version 0x\n' >"$corpus/system_settings/malformed"

cp keys/development.trust "$corpus/trust_file/development.trust"
cp keys/development.key "$corpus/trust_file/development.key"
grep '^ed25519-public-key' keys/development.trust >"$corpus/trust_file/ed25519-only.trust"

cat >"$corpus/package_description/package.desc" <<'END'
name hello
version 7.1rc2
build-time 0x5f5e1000
header-flags 1
architecture i386
note a note  # comment
depends system min=7.1 max=7.2
provides greeting priority=-1
conflicts hola
files tree
file bin/data data
mode bin/tool 4755
variant bin/tool 2
squashfs image
digest sha1
signature both
magic unrecorded
END
printf 'name extras\nversion 0x07010303\nmember-list all\nsquashfs image\nmagic recorded\n' \
  >"$corpus/package_description/bundle.desc"
du -sh "$corpus"/*
# An interrupted commit as a run finds it: a journal (sealed with the SHA-256
# of its text), the registries, a manifest and the files they name.
mkdir -p "$corpus/interrupted_commit"
find "$corpus/interrupted_commit" -type f ! -name 'finding-*' -delete
journal_body=$(printf 'installer-journal 1\npackage 12 %s /rw/pckg/.download/hello.kmp\nremove 0 /flash/old\nlink /flash/l target\nrename 0 /flash/bin/hello /flash/bin/tmpAbc123\ncopy 3 644 %s 0 0 0 /flash/lib/x /ram/tmpXyz789 /flash/lib/tmpQwe456\n' \
  "$(printf 'hello.kmp...' | sha256sum | cut -c1-64)" "$(printf 'new' | sha256sum | cut -c1-64)")
{
  printf '/flash/var/pdb/.installer-journal\n%s\nend %s\n' "$journal_body" "$(printf '%s\n' "$journal_body" | sha256sum | cut -c1-64)"
  printf '\0/flash/var/pdb/.installer-temporaries\n/flash/bin/tmpAbc123\n/flash/tmpLeft01\n'
  printf '\0/ram/installer.temporaries\n/ram/tmpXyz789\n'
  printf '\0/flash/bin/tmpAbc123\nhello 2\n\0/flash/tmpLeft01\nleft\n\0/ram/tmpXyz789\nnew'
  printf '\0/flash/old\nold\n\0/rw/pckg/.download/hello.kmp\nhello.kmp...'
  printf '\0/ram/MANIFEST\nM /flash/later /flash/tmpLeft01\n'
} >"$corpus/interrupted_commit/journal"
