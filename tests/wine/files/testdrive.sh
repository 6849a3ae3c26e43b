#!/usr/bin/env bash
# testdrive.sh full|readonly DIR COMMAND...
# Runs COMMAND while a small tmpfs is mounted on DIR, with ORV_TEST_DRIVE set
# to DIR's Windows path (drive Z: maps "/"):
#   full      256 KiB, empty
#   readonly  holds "readonly.dat" ("kept", read-only attribute) and is then
#             remounted read-only
# Without the rights to mount (not root) COMMAND runs without it and the
# tests that need the drive skip.
set -u
mode=$1; dir=$2; shift 2
mkdir -p "$dir"
mountpoint -q "$dir" && umount "$dir"
if mount -t tmpfs -o size=256k tmpfs "$dir" 2>/dev/null; then
  trap 'umount "$dir" 2>/dev/null || umount -l "$dir"' EXIT
  if [ "$mode" = readonly ]; then
    printf kept > "$dir/readonly.dat"
    chmod 0444 "$dir/readonly.dat"
    mount -o remount,ro "$dir"
  fi
  ORV_TEST_DRIVE="Z:$(printf '%s' "$dir" | tr / '\\')" "$@"
else
  echo "testdrive.sh: cannot mount a tmpfs on $dir (not root?); the tests that need it skip"
  "$@"
fi
