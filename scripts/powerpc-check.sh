#!/usr/bin/env bash
# Compiles the sources for 32-bit big-endian PowerPC, the router's processor.
# Debian has a PowerPC cross compiler but no PowerPC libraries, so nothing is
# linked or run: the PowerPC-only files (the processor register read) are
# compiled and assembled, and every other source of the installer's library
# is compiled with -fsyntax-only, with the build's warnings as errors. The
# OpenSSL files are left out: the host's OpenSSL configuration headers are
# not the target's.
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=powerpc-linux-gnu-g++
command -v "$compiler" >/dev/null || bash scripts/install-deps.sh g++-powerpc-linux-gnu
# trust_keys.cpp includes the trust header that configuring generates.
generated=$PWD/build-powerpc/generated
if [ ! -f "$generated/trust_config.h" ]; then
  bash scripts/install-deps.sh
  cmake --no-warn-unused-cli -S . -B build-powerpc -DINSTALLER_TESTS=OFF -DINSTALLER_INFLATE=zlib >/dev/null
fi
flags=(-std=c++17 -fno-exceptions -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Werror -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64
       -Isrc -I"$generated")

for source in src/*/*_powerpc.cpp; do
  echo "powerpc: compiling $source"
  "$compiler" "${flags[@]}" -O2 -c "$source" -o /dev/null
done
sources=$(find src -name '*.cpp' ! -name '*_generic.cpp' ! -name '*_powerpc.cpp' -print0 |
  xargs -0 grep -LE '#include <(openssl|isa-l)/' | sort)
echo "powerpc: checking $(echo "$sources" | wc -l) other sources (-fsyntax-only)"
echo "$sources" | xargs -P"$(nproc)" -n4 nice "$compiler" "${flags[@]}" -fsyntax-only
echo "powerpc: compiles"
