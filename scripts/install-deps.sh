#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, and
# those named as arguments (the cross builds add their compiler and qemu).
# With --no-recommends first, the missing ones come without the packages
# they recommend (the VM leg's qemu would otherwise bring a desktop's).
set -euo pipefail
options=(-y -qq)
if [ "${1:-}" = --no-recommends ]; then
  options+=(--no-install-recommends)
  shift
fi
packages=(g++ cmake make zlib1g-dev libssl-dev libgtest-dev libgmock-dev libisal-dev squashfs-tools "$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install "${options[@]}" "${missing[@]}"
fi
