#!/usr/bin/env bash
# Fails when a source file includes a folder above its own: the folders of
# src/ form layers, and includes only point down (or within a folder).
# Usage: scripts/check-layers.sh [SOURCE_DIR]   (default: src of this checkout)
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}
layers=(base platform model package staging pdb rules install cli)

rank() {
  local i
  for i in "${!layers[@]}"; do
    if [ "${layers[$i]}" = "$1" ]; then
      echo "$i"
      return
    fi
  done
  echo -1
}

status=0
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  own=$(rank "$folder")
  if [ "$own" -lt 0 ]; then
    echo "src/$folder: not a known layer (add it to scripts/check-layers.sh)"
    status=1
    continue
  fi
  while IFS= read -r match; do
    file=${match%%:*}
    included=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$match")
    other=$(rank "$included")
    [ "$other" -lt 0 ] && continue  # generated headers and the like
    if [ "$other" -gt "$own" ]; then
      echo "${file#"$src"/}: includes $included/, which lies above $folder/"
      status=1
    fi
  done < <(grep -rHE '^#include "[^/"]+/' "$dir" || true)
done
if [ "$status" -eq 0 ]; then
  echo "layers: ${layers[*]}: every include points down"
fi
exit "$status"
