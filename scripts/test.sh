#!/usr/bin/env bash
# Builds the installer and its tests in ./build and runs every test.
# Extra arguments go to cmake's configure step (for example -DINSTALLER_SANITIZE=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" "$@"
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
