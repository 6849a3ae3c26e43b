#!/usr/bin/env bash
# testdrive.sh full|readonly DIR COMMAND...: runs COMMAND with a 256 KiB tmpfs
# on DIR and ORV_TEST_DRIVE set to its Windows path (Z: maps "/"); "readonly"
# puts "readonly.dat" ("kept", read-only) on it and remounts it read-only.
# Without the rights to mount, COMMAND runs as it is and its drive tests skip.
set -u
mode=$1; dir=$2; shift 2
mkdir -p "$dir"
mountpoint -q "$dir" && umount "$dir"
if ! mount -t tmpfs -o size=256k tmpfs "$dir" 2>/dev/null; then
  echo "testdrive.sh: cannot mount a tmpfs on $dir (not root?)"; exec "$@"
fi
trap 'umount "$dir" 2>/dev/null || umount -l "$dir"' EXIT
if [ "$mode" = readonly ]; then
  printf kept > "$dir/readonly.dat" && chmod 0444 "$dir/readonly.dat" && mount -o remount,ro "$dir"
fi
ORV_TEST_DRIVE="Z:$(printf '%s' "$dir" | tr / '\\')" "$@"
