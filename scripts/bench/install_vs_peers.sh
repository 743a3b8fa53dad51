#!/usr/bin/env bash
# Install speed of `installer -q -r ROOT -` against the tools one would use
# instead, on the same files: `dpkg-deb -x` of a .deb and `tar -xzf` of a
# .tar.gz, each followed by `sync` so that every row pays for durability (the
# installer syncs by itself). Run as root, on demand; not part of CI.
#
# Usage: scripts/bench/install_vs_peers.sh
# Environment:
#   RUNS=5          timed runs per row, after one warm-up run
#   MB=256          payload size in MiB (1,000 files in 111 directories)
#   WORK=/var/tmp/installer-bench   payloads, packages and the disk roots (kept
#                   between runs: the payloads are made once per size)
#   TMPFS=/dev/shm  where the tmpfs roots go
#   INSTALLERS="isal=build-bench/isal zlib=build-bench/zlib"   LABEL=BUILD_DIR
#                   rows of installers; the two default builds are made here
#                   (RelWithDebInfo), others must exist (for example an older
#                   commit built elsewhere: "old=/tmp/old/build")
#   EXTRAS=1        also peak RSS at 16 MiB and 1 GiB, and --show and an
#                   upgrade run over a database of 1,000 packages (0: skip)
#
# The payload is the same on every machine (fixed seeds): one third each
# random bytes, text-like lines and binary records with repetition, packed
# with pkgtool (zlib level 9, its only level), as a .deb (gzip -6) and as a
# .tar.gz (gzip -6). MB/s is payload megabytes (10^6 bytes) per second of
# wall time; CPU is user + system seconds; RSS is the largest of the runs.
set -euo pipefail
cd "$(dirname "$0")/../.."
source=$PWD
runs=${RUNS:-5}
megabytes=${MB:-256}
work=${WORK:-/var/tmp/installer-bench}
tmpfs=${TMPFS:-/dev/shm}
installers=${INSTALLERS:-}
extras=${EXTRAS:-1}

[ "$(id -u)" = 0 ] || { echo "run as root: the installer's -r chroots" >&2; exit 1; }
for tool in openssl:openssl time:/usr/bin/time; do
  command -v "${tool#*:}" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${tool%%:*}"
done
mkdir -p "$work"

build() {  # build DIR BACKEND
  [ -x "$1/installer" ] && [ -x "$1/tools/pkgtool/pkgtool" ] && return
  nice cmake -S "$source" -B "$1" -DINSTALLER_INFLATE="$2" -DINSTALLER_TESTS=OFF >/dev/null
  nice cmake --build "$1" -j2 >/dev/null
}
if [ -z "$installers" ]; then
  build build-bench/isal isal
  build build-bench/zlib zlib
  installers="isal=build-bench/isal zlib=build-bench/zlib"
fi
first=${installers%% *}
pkgtool=$(cd "${first#*=}" && pwd)/tools/pkgtool/pkgtool

# The byte streams the files are cut from: $1 bytes of each kind in $2.
make_streams() {
  head -c "$1" /dev/zero | openssl enc -aes-128-ctr -nosalt -K 0123456789abcdef0123456789abcdef \
    -iv 00000000000000000000000000000000 >"$2/random"
  LC_ALL=C awk -v seed=13 -v bytes="$1" 'BEGIN {
    n = split("the of and to in is for on that with as by at from this be or are it an config value set " \
      "interface address route bridge vlan port firewall rule accept drop chain table user enable disable " \
      "name comment mtu true false 0 1 10 100 192.168.88.1 255.255.255.0 ether1 ether2 wlan1 default", w, " ")
    srand(seed)
    while (total < bytes) {
      line = w[1 + int(rand() * n)]
      for (j = 3 + int(rand() * 12); j > 1; j--) line = line " " w[1 + int(rand() * n)]
      if (rand() < 0.3) line = line "=" int(rand() * 65536)
      print line
      total += length(line) + 1
    }
  }' >"$2/text"
  # Records of 31 bytes: a counter, a type, and one of 64 random templates with one byte changed.
  LC_ALL=C awk -v seed=17 -v bytes="$1" 'BEGIN {
    srand(seed)
    for (i = 0; i < 256; i++) c[i] = sprintf("%c", i)
    for (t = 0; t < 64; t++) for (j = 0; j < 26; j++) tpl[t] = tpl[t] c[int(rand() * 256)]
    for (r = 0; r * 31 < bytes; r++) {
      t = int(rand() * 64); x = int(rand() * 26)
      printf "%s%s%s%s%s%s%s%s", c[r % 256], c[int(r / 256) % 256], c[int(r / 65536) % 256], c[t % 8], c[1],
        substr(tpl[t], 1, x), c[int(rand() * 256)], substr(tpl[t], x + 2)
    }
  }' >"$2/binary"
}

# A payload of $1 MiB in $2/tree (1,000 files: the root, 10 directories and
# 10 below each), packed as $2/bench.kmp, $2/bench.deb and $2/bench.tar.gz.
make_payload() {
  local total=$(($1 * 1048576)) dir=$2
  [ -f "$dir/bench.tar.gz" ] && return
  echo "making a payload of $1 MiB in $dir" >&2
  rm -rf "$dir" && mkdir -p "$dir/tree" "$dir/streams"
  make_streams $((total / 3 + 1048576)) "$dir/streams"
  # File sizes from a fixed sequence, scaled to the total; the last takes the rest.
  LC_ALL=C awk -v total="$total" 'BEGIN {
    x = 7; for (i = 0; i < 1000; i++) { x = (x * 48271) % 2147483647; w[i] = 1 + x % 1000; sum += w[i] }
    for (i = 0; i < 1000; i++) {
      size = i < 999 ? int(w[i] * total / sum) : total - used; used += size
      d = i % 111; path = d == 0 ? "" : d <= 10 ? "d" d "/" : "d" (1 + (d - 11) % 10) "/s" int((d - 11) / 10) "/"
      print path "f" i, size, i % 3
    }
  }' >"$dir/files"
  local name size kind kinds=(random text binary)
  exec 3<"$dir/streams/random" 4<"$dir/streams/text" 5<"$dir/streams/binary"
  while read -r name size kind; do
    mkdir -p "$dir/tree/$(dirname "$name")"
    head -c "$size" <&$((kind + 3)) >"$dir/tree/$name"
  done <"$dir/files"
  exec 3<&- 4<&- 5<&-
  rm -rf "$dir/streams"
  "$pkgtool" build -o "$dir/bench.kmp" --key keys/development.key --name bench --version 1.0 --files "$dir/tree"
  mkdir -p "$dir/deb/DEBIAN"
  printf 'Package: bench\nVersion: 1.0\nArchitecture: all\nMaintainer: bench <bench@localhost>\nDescription: bench\n' \
    >"$dir/deb/DEBIAN/control"
  cp -a "$dir/tree/." "$dir/deb/"
  dpkg-deb -Zgzip -z6 --root-owner-group -b "$dir/deb" "$dir/bench.deb" >/dev/null
  rm -rf "$dir/deb"
  tar -C "$dir/tree" -cf - . | gzip -6 >"$dir/bench.tar.gz"
}

fresh_root() {  # an empty device root at $1
  rm -rf "$1"
  mkdir -p "$1/flash/var/pdb" "$1/ram" "$1/rw" "$1/tmp"
}

# Runs "$@" once; prints "nanoseconds rss_kb cpu_seconds".
timed() {
  local start end rss user system
  start=$(date +%s%N)
  /usr/bin/time -f "%M %U %S" -o "$work/time.out" "$@" >/dev/null || { echo "failed: $* ($(head -1 "$work/time.out"))" >&2; exit 1; }
  end=$(date +%s%N)
  read -r rss user system <"$work/time.out"
  echo "$((end - start)) $rss $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')"
}

# One warm-up and $runs timed runs of every row on both file systems, taken
# in turns so that a change in the machine's load falls on every row alike;
# appends "row fs nanoseconds rss_kb cpu_seconds" lines to $work/results.
measure_all() {
  local i row fs base result
  for ((i = 0; i <= runs; i++)); do
    for row in "${rows[@]}"; do
      for fs in tmpfs disk; do
        base=$work/root
        [ "$fs" = tmpfs ] && base=$tmpfs/installer-bench-root
        fresh_root "$base"
        sync
        result=$(timed_row "$row" "$base")
        [ "$i" = 0 ] || echo "$row $fs $result" >>"$work/results"
        rm -rf "$base"
      done
    done
  done
}

timed_row() {  # timed_row ROW ROOT
  case $1 in
    sync) timed sync ;;
    dpkg-deb) timed sh -c 'dpkg-deb -x "$0" "$1" && sync' "$payload/bench.deb" "$2/flash" ;;
    tar) timed sh -c 'tar -xzf "$0" -C "$1" && sync' "$payload/bench.tar.gz" "$2/flash" ;;
    *) timed "${binaries[$1]}" -q -r "$2" - <"$payload/bench.kmp" ;;
  esac
}

# Prints the table of $work/results: per file system and row, MB/s median
# (min-max), the ratio of the medians to dpkg-deb's, peak RSS and CPU time.
report() {
  sort -k2,2 -k1,1 -k3,3n "$work/results" | awk -v bytes="$1" '
    function flush() {
      if (n == 0) return
      median = n % 2 ? t[(n + 1) / 2] : (t[n / 2] + t[n / 2 + 1]) / 2
      rows[++count] = sprintf("%s|%s|%.0f|%.0f|%.0f|%.1f|%.2f|%.3f", fs, row, bytes * 1e3 / median, bytes * 1e3 / t[n],
                              bytes * 1e3 / t[1], rss / 1024, cpu / n, median / 1e9)
      speed[fs, row] = bytes * 1e3 / median
      n = 0; rss = 0; cpu = 0
    }
    $1 != row || $2 != fs { flush(); row = $1; fs = $2 }
    { t[++n] = $3; if ($4 > rss) rss = $4; cpu += $5 }
    END {
      flush()
      printf "%-6s %-10s %18s %10s %10s %8s\n", "fs", "row", "MB/s median (min-max)", "vs dpkg-deb", "RSS MiB", "CPU s"
      for (i = 1; i <= count; i++) {
        split(rows[i], f, "|")
        if (f[2] == "sync") {
          printf "%-6s %-10s a sync alone: %.3f s (median)\n", f[1], f[2], f[8]
          continue
        }
        ratio = speed[f[1], "dpkg-deb"] ? sprintf("%.2f", speed[f[1], f[2]] / speed[f[1], "dpkg-deb"]) : "-"
        printf "%-6s %-10s %6d (%4d-%4d) %10s %10s %8s\n", f[1], f[2], f[3], f[4], f[5], ratio, f[6], f[7]
      }
    }'
}

declare -A binaries
rows=()
for entry in $installers; do
  binaries[${entry%%=*}]=$(cd "${entry#*=}" && pwd)/installer
  rows+=("${entry%%=*}")
done
installer_rows=("${rows[@]}")
rows+=(dpkg-deb tar sync)

payload=$work/payload-$megabytes
make_payload "$megabytes" "$payload"
bytes=$(awk '{ sum += $2 } END { print sum }' "$payload/files")
echo "payload: $((bytes / 1048576)) MiB in $(wc -l <"$payload/files") files;" \
  "kmp $(($(stat -c %s "$payload/bench.kmp") / 1048576)) MiB, deb $(($(stat -c %s "$payload/bench.deb") / 1048576)) MiB," \
  "tar.gz $(($(stat -c %s "$payload/bench.tar.gz") / 1048576)) MiB; load: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f "$work/results"
cat "$payload/bench.kmp" "$payload/bench.deb" "$payload/bench.tar.gz" >/dev/null  # into the page cache
measure_all
report "$bytes"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

[ "$extras" = 1 ] || exit 0

echo
echo "peak RSS by package size (tmpfs):"
for size in 16 "$megabytes" 1024; do
  payload=$work/payload-$size
  make_payload "$size" "$payload"
  for row in "${installer_rows[@]}"; do
    fresh_root "$tmpfs/installer-bench-root"
    read -r ns rss cpu < <(timed_row "$row" "$tmpfs/installer-bench-root")
    printf '  %5d MiB  %-6s %6.1f MiB RSS, %6.2f s\n' "$size" "$row" "$(awk -v r="$rss" 'BEGIN { print r / 1024 }')" \
      "$(awk -v n="$ns" 'BEGIN { print n / 1e9 }')"
  done
  rm -rf "$tmpfs/installer-bench-root"
done

# 1,000 packages of 100 small files each, installed as one bundle.
db=$work/db
if [ ! -f "$db/all.kmp" ]; then
  echo "making 1,000 packages" >&2
  rm -rf "$db" && mkdir -p "$db/packages"
  echo "a small file" >"$db/contents"
  for ((p = 0; p < 1000; p++)); do
    for ((f = 0; f < 100; f++)); do echo "file p$p/f$f contents"; done >"$db/description"
    "$pkgtool" build -o "$db/packages/p$p.kmp" -d "$db/description" --key keys/development.key --name "p$p" \
      --version 1.0 >/dev/null
  done
  "$pkgtool" bundle -o "$db/all.kmp" --name all --version 1.0 "$db/packages"/p*.kmp >/dev/null
fi
echo
echo "a database of 1,000 packages with 100 files each (disk), $runs runs, median seconds:"
for row in "${installer_rows[@]}"; do
  fresh_root "$db/root"
  "${binaries[$row]}" -q -r "$db/root" - <"$db/all.kmp"
  for mode in --show upgrade; do
    times=()
    for ((i = 0; i <= runs; i++)); do
      arguments=(-q -r "$db/root")
      [ "$mode" = --show ] && arguments=(-r "$db/root" --show)
      read -r ns _ < <(timed "${binaries[$row]}" "${arguments[@]}" </dev/null)
      [ "$i" = 0 ] || times+=("$ns")
    done
    printf '  %-6s %-8s %.3f\n' "$row" "$mode" "$(printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 }
      END { print (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2) / 1e9 }')"
  done
done
rm -rf "$db/root"
