#!/bin/bash
# ext4, every crash point: each transaction runs on an ext4 behind
# dm-log-writes, which logs every write in the order it reached stable
# storage, and every flush and FUA write. The log is then replayed onto a
# copy of the disk as it was before the transaction, stopping at chosen
# entries; each stop is the disk a power cut at that moment could leave
# (writes after the last flush kept in the order they completed). On a
# snapshot of each: mount (the journal's recovery), one run of the
# installer, and the invariant.
#   ci    per transaction 16 of the states after a flush or FUA entry and
#         6 of the others, drawn with the seed, and the state before it
#   full  every state
# Usage (in the guest): ext4-crash.sh ci|full SEED
source /vm/common.sh
mode=$1
RANDOM=$2
flush_sample=16
other_sample=6
work=/tmp/ext4
root=/mnt/root
failed=0

# Loop devices over files in the guest's memory: the flash, the log, the
# replay target and the snapshot's store of changed blocks.
setup() {
  mkdir -p "$work" "$root"
  truncate -s "$(flash_mib "$1")M" "$work/flash.img"
  truncate -s 512M "$work/log.img"
  truncate -s 64M "$work/cow.img"
  losetup /dev/loop0 "$work/flash.img"
  losetup /dev/loop1 "$work/log.img"
  losetup /dev/loop3 "$work/cow.img"
  sectors=$(blockdev --getsz /dev/loop0)
}

teardown() {
  umount "$root/ram" 2>/dev/null || true
  umount "$root" 2>/dev/null || true
  dmsetup remove vmsnap 2>/dev/null || true
  dmsetup remove vmlog 2>/dev/null || true
  for loop in 0 1 2 3; do losetup -d /dev/loop$loop 2>/dev/null || true; done
  rm -rf "$work"
}

# ext4 keeps clusters back from every writer (2 % of the disk, at most
# 4096 clusters), and statfs counts them as free: the installer, which
# weighs the flash's free blocks when it chooses between the flash and
# "/ram", then fails the small-flash upgrade with "disk is too small"
# (ENOSPC) on a 20 MiB ext4 that fits it without them. The flash is mounted
# without that reserve, so that the upgrade runs and its crash states are
# checked.
mount_device() {
  local reserve
  mount -t ext4 "$1" "$root"
  for reserve in /sys/fs/ext4/*/reserved_clusters; do echo 0 >"$reserve"; done  # one ext4 is mounted
  mount_ram "$root"
}

unmount_device() { umount "$root/ram" && umount "$root"; }

# The states to check: a state K is the disk with log entries 0..K-1
# written; the states that differ are K = 0 and K just after each entry
# that is not a mark. Prints "K flush" (after a flush or FUA entry) or
# "K other" per chosen state, in order.
choose_states() {
  awk -v mode="$mode" -v seed="$RANDOM" -v flush_sample="$flush_sample" -v other_sample="$other_sample" '
    function draw(list, n, take, kind,   i, j, t) {
      if (mode == "full" || take > n) take = n
      for (i = 0; i < take; i++) { j = i + int(rand() * (n - i)); t = list[i]; list[i] = list[j]; list[j] = t }
      for (i = 0; i < take; i++) print list[i], kind
    }
    BEGIN { srand(seed); print "0 other" }
    $2 ~ /M/ { next }
    $2 ~ /[FU]/ { flushes[f++] = $1 + 1; next }
    { others[o++] = $1 + 1 }
    END { draw(flushes, f, flush_sample, "flush"); draw(others, o, other_sample, "other") }' "$1" | sort -n
}

run_transaction() {
  local name=$1 old new
  setup "$name"
  mke2fs -q -F -t ext4 -b 4096 -m 0 -E nodiscard,lazy_itable_init=0,lazy_journal_init=0 /dev/loop0
  mount_device /dev/loop0
  lay_out "$root"
  prepare "$name" "$root"
  next_run "$root"
  old=$(listing "$root")
  note_free ext4 "$name" "$root"
  unmount_device
  cp "$work/flash.img" "$work/base.img"

  # The transaction, logged.
  dm_create vmlog "0 $sectors log-writes /dev/loop0 /dev/loop1"
  mount_device /dev/mapper/vmlog
  dmsetup message vmlog 0 mark start
  if ! transact "$name" "$root" "dmsetup message vmlog 0 mark between" >"$work/run.out" 2>&1; then
    echo "VMTEST error ext4 $name: the transaction failed"
    tr '\r' '\n' <"$work/run.out" | tail -5
    failed=1
    teardown
    return
  fi
  unmount_device
  dmsetup remove vmlog
  mount_device /dev/loop0
  next_run "$root"
  new=$(listing "$root")
  unmount_device

  log-replay list /dev/loop1 >"$work/entries"
  local total flushes chosen=0 olds=0 news=0 bad=0 k kind at=0 verdict
  total=$(awk '$2 !~ /M/' "$work/entries" | wc -l)
  flushes=$(awk '$2 ~ /[FU]/ && $2 !~ /M/' "$work/entries" | wc -l)
  choose_states "$work/entries" >"$work/states"
  losetup /dev/loop2 "$work/base.img"
  while read -r k kind; do
    log-replay replay /dev/loop1 /dev/loop2 "$at" "$k"
    at=$k
    dm_create vmsnap "0 $sectors snapshot /dev/loop2 /dev/loop3 N 8"
    if ! mount_device /dev/mapper/vmsnap; then
      echo "VMTEST violation ext4 $name state $k ($kind): the file system does not mount"
      bad=$((bad + 1))
    else
      next_run "$root" || true
      if verdict=$(judge "$root" "$old" "$new"); then
        [ "$verdict" = old ] && olds=$((olds + 1)) || news=$((news + 1))
      else
        echo "VMTEST violation ext4 $name state $k ($kind, entry $((k - 1)) of the log): $verdict"
        bad=$((bad + 1))
      fi
      unmount_device
    fi
    dmsetup remove vmsnap
    chosen=$((chosen + 1))
  done <"$work/states"
  echo "VMTEST ext4 $name states=$((total + 1)) flush_states=$flushes checked=$chosen old=$olds new=$news violations=$bad"
  printf 'VMTEST row %-6s %-20s %7d %7d %7d %5d %5d %10d\n' ext4 "$name" $((total + 1)) "$flushes" "$chosen" "$olds" "$news" "$bad"
  [ "$bad" -eq 0 ] || failed=1
  teardown
}

printf 'VMTEST row %-6s %-20s %7s %7s %7s %5s %5s %10s\n' fs transaction states flushes checked old new violations
for name in "${transactions[@]}"; do
  start=$(cut -d' ' -f1 /proc/uptime)
  run_transaction "$name"
  echo "ext4 $name: done in $(awk -v s="$start" '{ printf "%.0f", $1 - s }' /proc/uptime) s"
done
exit "$failed"
