#!/usr/bin/env bash
# Kills the installer with SIGKILL at random moments and checks what the next
# run leaves: the old software or the new one, whole, and no temporary file.
# Two cases, run on demand as root (the installer changes its root with -r,
# and the second case mounts file systems):
#   stdin        a standard-input install of 1,500 files over an older version
#   small-flash  the boot-time upgrade of one 9.0 MB package of 122 files on a
#                16 MiB flash (tmpfs) whose download directory holds the new
#                version: old and new do not fit together, most new files are
#                staged in "/ram" (a tmpfs of its own); every kill is followed
#                by one more boot-time run, which must leave the new version
# Usage: scripts/bench/kill_loop.sh [RUNS] [SEED] [stdin|small-flash|all]
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-100}
RANDOM=${2:-20261206}
cases=${3:-all}
build=build
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target installer pkgtool >/dev/null
installer=$PWD/$build/installer
pkgtool=$PWD/$build/tools/pkgtool/pkgtool
work=$(mktemp -d /tmp/kill-loop-XXXXXX)
cleanup() {
  grep -o " $work/[^ ]*" /proc/mounts | sort -r | while read -r mounted; do umount "$mounted" || true; done
  rm -rf "$work"
}
trap cleanup EXIT
failed=0

# The tree as the next run must leave it: every entry with its contents,
# without the log, the lock and the RAM disk, which every run rewrites.
listing() {
  (cd "$1" && {
    find . -path ./flash/postlog -prune -o -path ./ram -prune -o -printf '%p %y %m\n'
    find . -path ./ram -prune -o -type f ! -path ./flash/postlog -exec md5sum {} +
  } | sort)
}

temporaries() { find "$1/flash" "$1/rw" "$1/ram" -name 'tmp??????' 2>/dev/null | wc -l; }

# A random delay up to `limit` microseconds, in seconds for sleep.
pause() { awk -v d="$(((RANDOM * 32768 + RANDOM) % $1))" 'BEGIN { printf "%.6f", d / 1e6 }'; }

run_stdin_case() {
  # Two versions of a package of 1,500 files: the second changes every file,
  # drops the last hundred and adds a hundred new ones.
  make_tree() {
    local dir=$1 version=$2 first=$3 last=$4
    for i in $(seq "$first" "$last"); do
      mkdir -p "$dir/d$((i % 50))"
      head -c $((500 + i)) /dev/zero | tr '\0' "$version" >"$dir/d$((i % 50))/f$i"
    done
  }
  make_tree "$work/v1" a 1 1500
  make_tree "$work/v2" b 101 1600
  "$pkgtool" build -o "$work/v1.kmp" --key keys/development.key --name big --version 1.0 --files "$work/v1" >/dev/null
  "$pkgtool" build -o "$work/v2.kmp" --key keys/development.key --name big --version 2.0 --files "$work/v2" >/dev/null

  mkdir -p "$work/base/flash/var/pdb" "$work/base/ram" "$work/base/rw"
  "$installer" -q -r "$work/base" - <"$work/v1.kmp"
  "$installer" -r "$work/base" --show >/dev/null
  local old new took start
  old=$(listing "$work/base")
  cp -a "$work/base" "$work/done"
  start=$(date +%s%N)
  "$installer" -q -r "$work/done" - <"$work/v2.kmp"
  took=$((($(date +%s%N) - start) / 1000))
  "$installer" -r "$work/done" --show >/dev/null
  new=$(listing "$work/done")

  local olds=0 news=0 mixed=0 leftovers=0 root=$work/run
  for run in $(seq "$runs"); do
    rm -rf "$root"
    cp -a "$work/base" "$root"
    # Over twice the time of an undisturbed run: a run on a busy machine
    # takes longer, and kills after its end must find the new software.
    "$installer" -q -r "$root" - <"$work/v2.kmp" &
    local pid=$!
    sleep "$(pause $((2 * took)))"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    "$installer" -r "$root" --show >/dev/null
    local now
    now=$(listing "$root")
    if [ "$now" = "$old" ]; then olds=$((olds + 1)); elif [ "$now" = "$new" ]; then news=$((news + 1)); else
      mixed=$((mixed + 1))
      echo "stdin run $run: neither the old nor the new tree"
    fi
    leftovers=$((leftovers + $(temporaries "$root")))
  done
  echo "stdin: an uninterrupted install took ${took} us; $runs runs killed at random moments:"
  echo "  old software: $olds, new software: $news, mixed: $mixed, temporary files left: $leftovers"
  [ "$mixed" -eq 0 ] && [ "$leftovers" -eq 0 ] || failed=1
}

# 122 files, 9.0 MB, about a third of each file random (so the package
# compresses to about 3.5 MB), different for each seed.
make_routing() {
  python3 - "$1" "$2" <<'PY'
import os, random, sys
directory, seed = sys.argv[1], int(sys.argv[2])
rng = random.Random(seed)
os.makedirs(os.path.join(directory, "lib/routing"), exist_ok=True)
for i in range(122):
    with open(os.path.join(directory, "lib/routing/part%d" % i), "wb") as out:
        out.write(rng.randbytes(26557) + b" " * (73770 - 26557))
PY
}

# A fresh device: the flash a 16 MiB tmpfs holding routing 7.1 (with /rw
# on it), "/ram" a tmpfs of its own, routing 7.2 in the download directory.
small_flash() {
  local root=$1
  mkdir -p "$root"
  mount -t tmpfs -o size=16m tmpfs "$root"
  mkdir -p "$root/flash/var/pdb" "$root/rw/pckg/.download" "$root/ram" "$root/tmp"
  mount -t tmpfs -o size=64m tmpfs "$root/ram"
  "$installer" -q -r "$root" - <"$work/r71.kmp"
  cp "$work/r72.kmp" "$root/rw/pckg/.download/routing.kmp"
}

take_down() { umount "$1/ram" && umount "$1"; }

run_small_flash_case() {
  make_routing "$work/r71" 1
  make_routing "$work/r72" 2
  "$pkgtool" build -o "$work/r71.kmp" --key keys/development.key --name routing --version 7.1 --files "$work/r71" >/dev/null
  "$pkgtool" build -o "$work/r72.kmp" --key keys/development.key --name routing --version 7.2 --files "$work/r72" >/dev/null
  local root=$work/flash free took start new
  small_flash "$root"
  free=$(df -B1 --output=avail "$root" | tail -1)
  start=$(date +%s%N)
  "$installer" -r "$root" | tr '\r' '\n' | grep -a -o 'installed routing.*\|ERROR.*' || true
  took=$((($(date +%s%N) - start) / 1000))
  "$installer" -q -r "$root"
  new=$(listing "$root")
  take_down "$root"
  grep -q "^./flash/var/pdb/routing/version" <<<"$new" || { echo "small-flash: the upgrade did not go through"; failed=1; return; }

  local news=0 olds=0 mixed=0 leftovers=0
  # (After a kill and one boot every run must show the new software: "old"
  # would mean the upgrade was lost, and counts as mixed.)
  for run in $(seq "$runs"); do
    small_flash "$root"
    "$installer" -q -r "$root" &
    local pid=$!
    sleep "$(pause $((2 * took)))"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    "$installer" -q -r "$root"  # the next boot
    local now
    now=$(listing "$root")
    leftovers=$((leftovers + $(temporaries "$root")))
    if [ "$now" = "$new" ]; then news=$((news + 1)); else
      mixed=$((mixed + 1))
      echo "small-flash run $run: not the new tree after the next boot"
    fi
    take_down "$root"
  done
  echo "small-flash: $((free / 1024)) KiB free beside routing 7.1 and the 7.2 package file;"
  echo "  an uninterrupted upgrade took ${took} us; $runs runs killed at random moments, then one boot each:"
  echo "  new software: $news, old: $olds, mixed: $mixed, temporary files left after the next boot: $leftovers"
  [ "$mixed" -eq 0 ] && [ "$leftovers" -eq 0 ] || failed=1
}

case $cases in
  stdin) run_stdin_case ;;
  small-flash) run_small_flash_case ;;
  all) run_stdin_case && run_small_flash_case ;;
  *) echo "usage: scripts/bench/kill_loop.sh [RUNS] [SEED] [stdin|small-flash|all]" >&2; exit 2 ;;
esac
exit "$failed"
