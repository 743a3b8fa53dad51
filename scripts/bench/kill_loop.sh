#!/usr/bin/env bash
# Kills a large standard-input install with SIGKILL at random moments and
# checks what the next run leaves: the old software or the new one, whole,
# and no temporary file. Run on demand, as root (the installer changes its
# root with -r). Usage: scripts/bench/kill_loop.sh [RUNS] [SEED]
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-100}
RANDOM=${2:-20261206}
build=build
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target installer pkgtool >/dev/null
installer=$PWD/$build/installer
pkgtool=$PWD/$build/tools/pkgtool/pkgtool
work=$(mktemp -d /tmp/kill-loop-XXXXXX)
trap 'rm -rf "$work"' EXIT

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

# The tree as the next run must leave it: every entry with its contents,
# without the log and the lock, which every run rewrites.
listing() {
  (cd "$1" && {
    find . -path ./flash/postlog -prune -o -path ./ram/installer.lock -prune -o -printf '%p %y %m\n'
    find . -type f ! -path ./flash/postlog ! -path ./ram/installer.lock -exec md5sum {} +
  } | sort)
}

mkdir -p "$work/base/flash/var/pdb" "$work/base/ram" "$work/base/rw"
"$installer" -q -r "$work/base" - <"$work/v1.kmp"
"$installer" -r "$work/base" --show >/dev/null
old=$(listing "$work/base")
cp -a "$work/base" "$work/done"
start=$(date +%s%N)
"$installer" -q -r "$work/done" - <"$work/v2.kmp"
took=$((($(date +%s%N) - start) / 1000))
"$installer" -r "$work/done" --show >/dev/null
new=$(listing "$work/done")

olds=0 news=0 mixed=0 leftovers=0
for run in $(seq "$runs"); do
  root=$work/run
  rm -rf "$root"
  cp -a "$work/base" "$root"
  # Over twice the time of an undisturbed run: a run on a busy machine
  # takes longer, and kills after its end must find the new software.
  delay=$(((RANDOM * 32768 + RANDOM) % (2 * took)))
  "$installer" -q -r "$root" - <"$work/v2.kmp" &
  pid=$!
  sleep "$(awk -v d="$delay" 'BEGIN { printf "%.6f", d / 1e6 }')"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  "$installer" -r "$root" --show >/dev/null
  now=$(listing "$root")
  if [ "$now" = "$old" ]; then olds=$((olds + 1)); elif [ "$now" = "$new" ]; then news=$((news + 1)); else
    mixed=$((mixed + 1))
    echo "run $run (killed after ${delay} us): neither the old nor the new tree"
  fi
  found=$(find "$root/flash" "$root/ram" -name 'tmp??????' | wc -l)
  leftovers=$((leftovers + found))
done
echo "an uninterrupted install took ${took} us; $runs runs killed at random moments:"
echo "  old software: $olds, new software: $news, mixed: $mixed, temporary files left: $leftovers"
[ "$mixed" -eq 0 ] && [ "$leftovers" -eq 0 ]
