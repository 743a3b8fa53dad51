#!/bin/bash
# UBIFS on a simulated NAND flash (nandsim: 128 MiB, 2 KiB pages, 128 KiB
# erase blocks; the device is a partition of it), cut by the kernel's own
# power-cut emulation, then attached and mounted again (UBI's scan, UBIFS's
# recovery), one run of the installer, and the invariant. Two emulations:
#   header  UBI's debugfs knob tst_emulate_power_cut: UBI turns read-only
#           instead of writing the erase-counter or volume header that its
#           counter N (tst_emulate_power_cut_min = _max = N) reaches after
#           it is armed, so the flash keeps every write before that one and
#           none after. N = 1, 2, ... give successive headers. Such headers
#           are written when an erase block is taken into use or erased, so
#           these cuts fall where UBIFS moves to a new erase block, not
#           between its page writes.
#   random  UBIFS's debugfs knob tst_recovery: UBIFS itself picks a moment
#           at random, writes part of the buffer at hand with garbage in it
#           (a torn write) and fails every write after it. Where the moment
#           comes after the transaction, the run counts as not cut.
# Each cut starts from an image of the device as the transaction finds it.
#   ci    header cuts at N = 1, 2, 4, ... while the transaction gets that
#         far, and at 3 more N below; 3 random runs per transaction
#   full  every header cut; 12 random runs per transaction
# Usage (in the guest): ubifs-cut.sh ci|full SEED
source /vm/common.sh
mode=$1
RANDOM=$2
work=/tmp/ubifs
root=/mnt/root
failed=0
[ "$mode" = full ] && random_runs=12 || random_runs=3
ubi_debug=/sys/kernel/debug/ubi/ubi0
partition_blocks=320  # 40 MiB

# The volume each transaction gets. UBIFS compresses (LZO by default), and
# the routing files are two thirds blanks: the small flash is smaller than
# on ext4 for about as much room beside 7.1 and the 7.2 package file.
volume_mib() { [ "$1" = small-flash-upgrade ] && echo 14 || echo 32; }

load_nandsim() {
  insmod /lib/modules/nandsim.ko first_id_byte=0x20 second_id_byte=0xf1 third_id_byte=0x00 fourth_id_byte=0x15 \
    parts=$partition_blocks
  mkdir -p "$work" "$root"
}

attach() { ubiattach -m 0 -d 0 >/dev/null; }
detach() { ubidetach -d 0 >/dev/null; }

mount_device() {
  mount -t ubifs ubi0:flash "$root"
  mount_ram "$root"
}

unmount_device() { umount "$root/ram" && umount "$root"; }

# A fresh UBI device with one volume of MIB, the transaction's device laid
# out on it; its image is kept in $work/base.img.
format() {
  ubiformat -q -y /dev/mtd0
  attach
  ubimkvol /dev/ubi0 -N flash -s "$1MiB" >/dev/null
  mount_device
  lay_out "$root"
}

save_image() { dd if=/dev/mtd0 of="$work/base.img" bs=128k 2>/dev/null; }

# The device as the saved image has it, attached (pages that hold nothing
# but 0xff are left erased, as UBI expects of unwritten pages).
restore() {
  flash_erase -q /dev/mtd0 0 0
  nandwrite -q -k /dev/mtd0 "$work/base.img"
  attach
}

# After a cut: everything down, attached again, mounted (recovery), one run.
# Prints the verdict; fails on a violation.
after_cut() {
  umount "$root/ram" 2>/dev/null || true
  umount "$root" 2>/dev/null || true
  detach
  attach
  if ! mount_device; then
    echo "the file system does not mount"
    detach
    return 1
  fi
  next_run "$root" || true
  local verdict status=0
  verdict=$(judge "$root" "$old" "$new") || status=1
  echo "$verdict"
  unmount_device
  detach
  return "$status"
}

# Whether the emulation cut the power since the log was last cleared (the
# kernel's log buffer is made large enough on its command line for the
# errors that follow a cut).
# (Through a file: grep -q would end dmesg early, and pipefail fail it.)
cut_happened() {
  dmesg -s 16777216 >"$work/dmesg"
  grep -q -e 'emulating a power cut' -e 'Power cut emulated' "$work/dmesg"
}

run_transaction() {
  local name=$1 n verdict
  format "$(volume_mib "$name")"
  prepare "$name" "$root"
  next_run "$root"
  old=$(listing "$root")
  note_free ubifs "$name" "$root"
  unmount_device
  detach
  save_image

  # The transaction uncut: the new software.
  restore
  mount_device
  if ! transact "$name" "$root" >"$work/run.out" 2>&1; then
    echo "VMTEST error ubifs $name: the transaction failed"
    tr '\r' '\n' <"$work/run.out" | tail -5
    failed=1
    unmount_device
    detach
    return
  fi
  next_run "$root"
  new=$(listing "$root")
  unmount_device
  detach

  local header_cuts=0 random_cuts=0 uncut=0 olds=0 news=0 bad=0 n reach
  # Header cuts. full: at N = 1, 2, ... until the transaction ends before
  # the cut. ci: at N = 1, 2, 4, ... until it does, then at 3 more N drawn
  # below that bound.
  if [ "$mode" = full ]; then
    for ((n = 1; ; n++)); do header_cut "$n" || break; done
    reach="$((n - 1))"
  else
    for ((n = 1; ; n *= 2)); do header_cut "$n" || break; done
    reach=">=$((n / 2))"
    for _ in 1 2 3; do
      [ "$n" -gt 3 ] && header_cut $((2 + RANDOM % (n - 2))) || true
    done
  fi
  # Random cuts by UBIFS.
  for ((n = 0; n < random_runs; n++)); do
    restore
    mount_device
    dmesg -c >/dev/null
    echo 1 >/sys/kernel/debug/ubifs/ubi0_0/tst_recovery
    transact "$name" "$root" >/dev/null 2>&1 || true
    sync
    echo 0 >/sys/kernel/debug/ubifs/ubi0_0/tst_recovery
    if ! cut_happened; then
      uncut=$((uncut + 1))
      unmount_device
      detach
      continue
    fi
    random_cuts=$((random_cuts + 1))
    tally "random cut $n" "$(after_cut)"
  done
  echo "VMTEST ubifs $name header_points=$reach header_cuts=$header_cuts random_cuts=$random_cuts" \
    "random_uncut=$uncut old=$olds new=$news violations=$bad"
  printf 'VMTEST row %-6s %-20s %7s %7s %7s %7s %5d %5d %10d\n' ubifs "$name" "$reach" "$header_cuts" "$random_cuts" \
    "$uncut" "$olds" "$news" "$bad"
  [ "$bad" -eq 0 ] || failed=1
}

# One run cut at the header write that the knob's counter N reaches; fails
# when the transaction ended before it.
header_cut() {
  restore
  mount_device
  dmesg -c >/dev/null
  echo "$1" >"$ubi_debug/tst_emulate_power_cut_min"
  echo "$1" >"$ubi_debug/tst_emulate_power_cut_max"
  echo 3 >"$ubi_debug/tst_emulate_power_cut"  # erase-counter and volume headers
  transact "$name" "$root" >/dev/null 2>&1 || true
  sync
  if ! cut_happened; then
    unmount_device
    detach
    return 1
  fi
  header_cuts=$((header_cuts + 1))
  tally "header cut N=$1" "$(after_cut)"
}

# Counts one verdict of after_cut (in the caller's counters).
tally() {
  case $2 in
    old) olds=$((olds + 1)) ;;
    new) news=$((news + 1)) ;;
    *)
      echo "VMTEST violation ubifs $name $1: $2"
      bad=$((bad + 1))
      ;;
  esac
}

load_nandsim
printf 'VMTEST row %-6s %-20s %7s %7s %7s %7s %5s %5s %10s\n' fs transaction headers cut random uncut old new violations
for name in "${transactions[@]}"; do
  start=$(cut -d' ' -f1 /proc/uptime)
  run_transaction "$name"
  echo "ubifs $name: done in $(awk -v s="$start" '{ printf "%.0f", $1 - s }' /proc/uptime) s"
done
exit "$failed"
