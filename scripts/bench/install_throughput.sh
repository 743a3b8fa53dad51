#!/usr/bin/env bash
# Install throughput of `installer -r ROOT -` on one large package.
# Usage: scripts/bench/install_throughput.sh [MEGABYTES] (default 200)
# Needs a built tree in ./build (scripts/test.sh or cmake --build build).
# Prints the package size, wall time, MB/s and the installer's peak RSS.
set -euo pipefail
cd "$(dirname "$0")/../.."
megabytes=${1:-200}
build=${BUILD_DIR:-build}
work=$(mktemp -d /tmp/installer-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

g++ -std=c++17 -O2 -DSOURCE_DIR="\"$PWD\"" -Isrc -Itools/pkgtool -Itests -I"$build/generated" \
  tests/bench/large_package.cpp tests/support/signed_packages.cpp tests/support/temp_root.cpp \
  "$build/tools/pkgtool/libpkgtool_core.a" "$build/libinstaller_core.a" -lcrypto -lz -o "$work/large_package"
"$work/large_package" "$work/large.pkg" "$megabytes"

root="$work/root"
mkdir -p "$root/flash/var/pdb" "$root/ram" "$root/rw" "$root/tmp"
size=$(stat -c %s "$work/large.pkg")
# Through a pipe, as a package arrives on the device.
cat "$work/large.pkg" | /usr/bin/time -f "%e %M" -o "$work/time" "$build/installer" -q -r "$root" -
read -r seconds rss_kb < "$work/time"
installed=$(du -sb "$root/flash/data" | cut -f1)
python3 - "$size" "$seconds" "$rss_kb" "$installed" <<'PY'
import sys
size, seconds, rss, installed = int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
mb = size / 1e6
print(f"package {mb:.1f} MB, files installed {installed / 1e6:.1f} MB")
print(f"time {seconds:.2f} s, throughput {mb / max(seconds, 0.01):.1f} MB/s, peak RSS {rss / 1024:.1f} MiB")
PY
