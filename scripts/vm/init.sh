#!/bin/bash
# The guest's first process (scripts/vm-test.sh packs it as /init): mounts
# the kernel's file systems, loads the modules the checks need, runs the
# checks the kernel command line asks for (vmtest.mode=ci|full,
# vmtest.seed=N; vmtest.only=ext4,ubifs,cost and vmtest.transactions=NAME,...
# for a part of them) and powers
# the machine off. The host reads "VMTEST ..." lines from the console; the
# last is "VMTEST end STATUS".
set -uo pipefail
export PATH=/bin LC_ALL=C
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
ln -s /proc/self/fd /dev/fd  # bash's <(...)
mount -t debugfs debugfs /sys/kernel/debug
mount -t tmpfs -o size=1500m tmpfs /tmp

status=0
# nandsim is loaded by the UBIFS check, with the geometry it simulates.
while read -r module; do
  [ "$module" = nandsim.ko ] && continue
  insmod "/lib/modules/$module" || { echo "VMTEST error cannot load $module"; status=1; }
done </lib/modules/order

mode=ci seed=1 only=ext4,ubifs,cost
export VMTEST_TRANSACTIONS=all
for word in $(cat /proc/cmdline); do
  case $word in
    vmtest.transactions=*) VMTEST_TRANSACTIONS=${word#*=} ;;
    vmtest.mode=*) mode=${word#*=} ;;
    vmtest.seed=*) seed=${word#*=} ;;
    vmtest.only=*) only=${word#*=} ;;
  esac
done
echo "guest up after $(cut -d' ' -f1 /proc/uptime) s: mode $mode, seed $seed, checks $only"

if [ "$status" -eq 0 ]; then
  for part in ${only//,/ }; do
    case $part in
      ext4) bash /vm/ext4-crash.sh "$mode" "$seed" || status=1 ;;
      ubifs) bash /vm/ubifs-cut.sh "$mode" "$seed" || status=1 ;;
      cost) bash /vm/flash-cost.sh || status=1 ;;
      *) echo "VMTEST error unknown check $part" && status=1 ;;
    esac
  done
fi
echo "VMTEST end $status"
sync
poweroff -f
