#!/bin/bash
# What the guest's checks share (sourced): the transactions, the device
# layout the installer expects below its root, the listing of a tree and the
# invariant.
#
# A device: the flash file system mounted at ROOT holds /flash, /rw (with
# the download directory) and /tmp; "/ram" is a tmpfs of its own mounted at
# ROOT/ram, so what a run stages there is gone at a cut.
set -euo pipefail
pkg=/vm/pkg

# The transactions every file system runs, and the flash each needs (MiB;
# the small flash holds routing 7.1 and the 7.2 package file with about
# 2.5 MB to spare, so most of 7.2's files are staged in "/ram").
transactions=(standalone-install standalone-upgrade bundle-install bundle-upgrade commit-install commit-upgrade
  small-flash-upgrade)
# VMTEST_TRANSACTIONS (from init.sh) may pick some of them.
if [ "${VMTEST_TRANSACTIONS:-all}" != all ]; then
  IFS=, read -r -a transactions <<<"$VMTEST_TRANSACTIONS"
fi
flash_mib() { [ "$1" = small-flash-upgrade ] && echo 20 || echo 32; }

installer() { /bin/installer "$@"; }

# For the small flash: how much room the upgrade finds.
note_free() {
  [ "$2" = small-flash-upgrade ] || return 0
  echo "VMTEST note $1 $2: $(df -k "$3" | awk 'NR == 2 { print $4 }') KiB free beside routing 7.1 (9.0 MB)" \
    "and the 7.2 package file"
}

# Makes the directories of a device on the file system just mounted at ROOT.
lay_out() {
  mkdir -p "$1/flash/var/pdb" "$1/rw/pckg/.download" "$1/ram" "$1/tmp"
}

mount_ram() {
  [ -d "$1/ram" ] || mkdir "$1/ram"
  mount -t tmpfs -o size=64m tmpfs "$1/ram"
}

# The device as the transaction finds it.
prepare() {
  local name=$1 root=$2
  case $name in
    standalone-install | bundle-install) ;;
    standalone-upgrade) installer -q -r "$root" - <$pkg/hello-1.kmp ;;
    bundle-upgrade) installer -q -r "$root" - <$pkg/extras-1.kmp ;;
    commit-install) cp $pkg/hello-1.kmp "$root/rw/pckg/.download/hello.kmp" ;;
    commit-upgrade)
      installer -q -r "$root" - <$pkg/hello-1.kmp
      cp $pkg/hello-2.kmp "$root/rw/pckg/.download/hello.kmp"
      ;;
    small-flash-upgrade)
      installer -q -r "$root" - <$pkg/routing-7.1.kmp
      cp $pkg/routing-7.2.kmp "$root/rw/pckg/.download/routing.kmp"
      ;;
  esac
  sync
}

# The transaction itself, as a device runs it; its messages go to standard
# output. BETWEEN (a command) runs between the two runs of a deferred
# upgrade. Fails when a run fails.
transact() {
  local name=$1 root=$2 between=${3:-true}
  case $name in
    standalone-install) installer -r "$root" - <$pkg/hello-1.kmp ;;
    standalone-upgrade) installer -r "$root" - <$pkg/hello-2.kmp ;;
    bundle-install) installer -r "$root" - <$pkg/extras-1.kmp ;;
    bundle-upgrade) installer -r "$root" - <$pkg/extras-2.kmp ;;
    commit-*) installer -r "$root" --safe && $between && installer -r "$root" --commit ;;
    small-flash-upgrade) installer -r "$root" ;;
  esac
}

# The run after a cut: a listing, which first finishes an interrupted commit.
next_run() { installer -r "$1" --show >/dev/null 2>&1; }

# Every path below ROOT with its type and mode (and a link's target), and
# the digest of every file's contents; not the post-run log and the RAM
# disk, which every run rewrites.
listing() {
  (cd "$1" && {
    find . -path ./flash/postlog -prune -o -path ./ram -prune -o -printf '%p %y %m %l\n'
    find . -path ./ram -prune -o -type f ! -path ./flash/postlog -exec md5sum {} +
  } | sort)
}

# The invariant on a device after the run that follows a cut: prints "old"
# or "new", or "mixed" (with the differences) or "leftover" (with the
# temporary files: "tmp" and six letters or digits) and fails. OLD and NEW
# are the two listings.
judge() {
  local root=$1 old=$2 new=$3 now
  now=$(listing "$root")
  if [[ $now =~ /tmp[A-Za-z0-9]{6}[[:space:]] ]]; then
    echo "leftover"
    echo "$now" | grep -E '/tmp[A-Za-z0-9]{6}[[:space:]]' | head -5 | sed 's/^/    temporary: /'
    return 1
  elif [ "$now" = "$old" ]; then
    echo old
  elif [ "$now" = "$new" ]; then
    echo new
  else
    echo mixed
    diff <(echo "$old") <(echo "$now") | head -12 | sed 's/^/    against old: /'
    diff <(echo "$new") <(echo "$now") | head -12 | sed 's/^/    against new: /'
    return 1
  fi
}

# A device-mapper device NAME with TABLE; without udev in the guest, dmsetup
# is asked to make its node in /dev/mapper itself.
dm_create() { dmsetup create "$1" --table "$2" && dmsetup mknodes "$1"; }
