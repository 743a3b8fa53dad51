#!/usr/bin/env bash
# Prints the lines of tests against the lines of code: every text file under
# tests/ against src/ and tools/, blank lines and comment lines ("//" or "#")
# not counted, nor the fuzz targets' seed inputs (tests/fuzz/corpus). The
# project keeps tests at about a third of the code.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  find "$@" -path tests/fuzz/corpus -prune -o -type f -print0 | while IFS= read -r -d '' file; do
    grep -Iq . "$file" 2>/dev/null && cat "$file"  # text files only
  done | grep -cvE '^[[:space:]]*($|//|#)' || true
}

code=$(count src tools)
tests=$(count tests)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests: %d lines, code: %d lines, ratio %.2f\n", t, c, t / c }'
