#!/usr/bin/env bash
# Builds the installer and runs it on a demo device root in build/demo-root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DINSTALLER_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
root=build/demo-root
rm -rf "$root"
mkdir -p "$root"/flash/var/pdb "$root"/ram "$root"/rw/pckg/.download
echo "+ installer -r $root --bogus"
build/installer -r "$root" --bogus
