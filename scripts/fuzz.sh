#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, ASan and UBSan) in
# build-fuzz/ and runs one target, or all of them, each for SECONDS (default
# 60) over a copy of its seed corpus in tests/fuzz/corpus/<target>/. Fails
# when a target crashes, leaks, trips a sanitizer or hangs on an input; the
# input is left in build-fuzz/fuzz-runs/<target>/ (crash-*, leak-*,
# timeout-*). Prints, per target, the executions per second and the
# coverage (cov: edges, ft: features) at the start and at the end.
#
# After the trust_file target, every trust file of its corpus is also read
# by cmake/TrustFile.cmake, which reads the trust file of a build; the run
# fails where it and pkgtool disagree on whether the file is valid.
#
# A finding is fixed in the code and its input kept as a regression seed:
#   cp build-fuzz/fuzz-runs/TARGET/crash-... tests/fuzz/corpus/TARGET/finding-WHAT
# so that every later run, the CI smoke included, starts from it.
#
# Usage: scripts/fuzz.sh [--build-only | --no-build] [TARGET|all] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-fuzz}
targets=(package_stream stream_install manifest package_database schedule system_settings trust_file
  package_description interrupted_commit)

step=build
case "${1:-}" in
  --build-only) step=build-only; shift ;;
  --no-build) step=run; shift ;;
esac
which=${1:-all}
seconds=${2:-60}

if [ "$step" != run ]; then
  bash scripts/install-deps.sh clang libclang-rt-14-dev
  CXX=clang++ cmake -S . -B "$build" -DINSTALLER_FUZZ=ON -DINSTALLER_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
fi
[ "$step" = build-only ] && exit 0

# "cov: N ft: N" of a libFuzzer log's lines matching $2, the last of them;
# and a final stat.
coverage() { grep -E "$2" "$1" | grep -oE "cov: [0-9]+ ft: [0-9]+" | tail -1 | awk '{print $2, $4}'; }
final_stat() { sed -n "s/^stat::$2: *//p" "$1"; }

run() {
  local target=$1 dir=$build/fuzz-runs/$1
  rm -rf "$dir"
  mkdir -p "$dir/corpus"
  cp tests/fuzz/corpus/"$target"/* "$dir/corpus/"
  local seeds status=0
  seeds=$(find "$dir/corpus" -type f | wc -l)
  "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="$dir/" "$dir/corpus" >"$dir/log" 2>&1 || status=$?
  read -r cov0 ft0 < <(coverage "$dir/log" INITED) || true
  read -r cov1 ft1 < <(coverage "$dir/log" "cov:") || true
  printf '%-20s %9s execs %6s exec/s  cov %5s -> %-5s ft %6s -> %-6s corpus %s -> %s\n' "$target" \
    "$(final_stat "$dir/log" number_of_executed_units)" "$(final_stat "$dir/log" average_exec_per_sec)" \
    "$cov0" "$cov1" "$ft0" "$ft1" "$seeds" "$(find "$dir/corpus" -type f | wc -l)"
  if [ "$status" -ne 0 ] || compgen -G "$dir/crash-*" >/dev/null || compgen -G "$dir/leak-*" >/dev/null ||
    compgen -G "$dir/timeout-*" >/dev/null || compgen -G "$dir/oom-*" >/dev/null; then
    echo "$target: FINDING (status $status); log and input in $dir/"
    grep -E "ERROR|SUMMARY|runtime error" "$dir/log" | head -5
    return 1
  fi
}

# Whether cmake/TrustFile.cmake and pkgtool's reader agree on each file.
trust_differential() {
  local file cmake_ok pkgtool_ok said count=0 differ=0 scratch
  scratch=$(mktemp -d)
  # Read under the build's policies, as a configure step reads it; the
  # header it generates goes to the scratch directory (cmake -P would put it
  # below the current one).
  printf '%s\nset(CMAKE_BINARY_DIR "%s")\ninclude("%s/cmake/TrustFile.cmake")\n' \
    "$(grep -m1 '^cmake_minimum_required' CMakeLists.txt)" "$scratch" "$PWD" >"$scratch/read.cmake"
  for file in "$1"/*; do
    count=$((count + 1))
    cmake_ok=yes pkgtool_ok=yes
    cmake -DINSTALLER_TRUST_FILE="$file" -P "$scratch/read.cmake" >/dev/null 2>&1 ||
      cmake_ok=no
    said=$(ASAN_OPTIONS=detect_leaks=0 "$build/tools/pkgtool/pkgtool" inspect /dev/null --trust "$file" 2>&1 \
      >/dev/null || true)
    case "$said" in "pkgtool: $file:"*) pkgtool_ok=no ;; esac
    if [ "$cmake_ok" != "$pkgtool_ok" ]; then
      echo "trust file $file: valid for cmake: $cmake_ok, for pkgtool: $pkgtool_ok"
      differ=$((differ + 1))
    fi
  done
  rm -rf "$scratch"
  echo "trust files read by cmake and by pkgtool: $count, verdicts differ: $differ"
  [ "$differ" -eq 0 ]
}

run_target() {
  run "$1" || return 1
  if [ "$1" = trust_file ]; then trust_differential "$build/fuzz-runs/trust_file/corpus"; fi
}

failed=0
if [ "$which" = all ]; then
  for target in "${targets[@]}"; do run_target "$target" || failed=1; done
else
  run_target "$which" || failed=1
fi
exit "$failed"
