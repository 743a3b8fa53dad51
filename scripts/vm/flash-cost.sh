#!/bin/bash
# Flash cost, as the block device sees it: a 10 MiB install and a 10 MiB
# upgrade (80 files of 128 KiB that do not compress) on a 64 MiB ext4
# behind dm-log-writes, by the installer (standard-input mode) and by
# `dpkg-deb -x` of a Debian package of the same files followed by `sync`.
# Marks in the log bound each step (a sync before each mark puts every
# write of the step before it); between two marks the log gives the bytes
# written to the device, the flushes and the FUA writes. Writes the file
# system makes later (its journal's checkpoint at unmount) are not counted.
# Usage (in the guest): flash-cost.sh
source /vm/common.sh
work=/tmp/cost
root=/mnt/root
payload_mib=10

# One tool's install then upgrade on a fresh ext4, logged; prints the log.
logged_run() {
  local tool=$1
  mkdir -p "$work" "$root"
  truncate -s 64M "$work/flash.img"
  truncate -s 256M "$work/log.img"
  losetup /dev/loop0 "$work/flash.img"
  losetup /dev/loop1 "$work/log.img"
  mke2fs -q -F -t ext4 -b 4096 -m 0 -E nodiscard,lazy_itable_init=0,lazy_journal_init=0 /dev/loop0
  dm_create vmlog "0 $(blockdev --getsz /dev/loop0) log-writes /dev/loop0 /dev/loop1"
  mount -t ext4 /dev/mapper/vmlog "$root"
  lay_out "$root"
  mount_ram "$root"
  sync
  dmsetup message vmlog 0 mark begin
  local version
  for version in 1 2; do
    if [ "$tool" = installer ]; then
      installer -q -r "$root" - <"$pkg/cost-$version.kmp"
    else
      dpkg-deb -x "$pkg/cost-$version.deb" "$root/flash"
    fi
    sync
    dmsetup message vmlog 0 mark "done$version"
  done
  umount "$root/ram"
  umount "$root"
  dmsetup remove vmlog
  log-replay list /dev/loop1
  losetup -d /dev/loop0
  losetup -d /dev/loop1
  rm -rf "$work"
}

# Sums the entries between two marks: "BYTES FLUSHES FUA".
between() {
  awk -v from="$1" -v to="$2" '
    $2 ~ /M/ { if ($5 == from) on = 1; if ($5 == to) on = 0; next }
    on && $2 !~ /D/ { bytes += $4 * 512 }
    on && $2 ~ /F/ { flushes++ }
    on && $2 ~ /U/ { fua++ }
    END { print bytes + 0, flushes + 0, fua + 0 }'
}

printf 'VMTEST row %-22s %9s %9s %8s %8s %11s\n' "flash cost (10 MiB)" "MiB" "per MiB" flushes FUA "flush/MiB"
for tool in installer dpkg-deb; do
  log=$(logged_run "$tool")
  for step in install upgrade; do
    [ "$step" = install ] && range=(begin done1) || range=(done1 done2)
    read -r bytes flushes fua < <(between "${range[@]}" <<<"$log")
    echo "VMTEST cost $tool $step bytes=$bytes flushes=$flushes fua=$fua payload_mib=$payload_mib"
    awk -v label="$tool $step" -v b="$bytes" -v f="$flushes" -v u="$fua" -v p="$payload_mib" 'BEGIN {
      printf "VMTEST row %-22s %9.2f %9.2f %8d %8d %11.2f\n", label, b / 1048576, b / 1048576 / p, f, u, f / p }'
  done
done
