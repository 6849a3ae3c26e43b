#!/usr/bin/env bash
# A real restart of the Wine system between scheduling and checking:
#   restart_across_reboot.sh <wine-run> <prefix> <restart_reboot.exe> <work folder>
# wineserver -k stops every Wine process; the next one boots the prefix again
# and wineboot carries out the pending renames. A persistent wineserver is
# started again for the tests after this one.
set -u
run=$1; prefix=$2; helper=$3; work=$4
export WINEPREFIX="$prefix" ORV_WINEPREFIX="$prefix" ORV_REBOOT_DIR="Z:${work//\//\\}"
rm -rf "$work" && mkdir -p "$work"
# Through a file: the system processes the first Wine process starts keep the
# output they inherit, and CTest would wait for them.
step() {
  "$run" "$helper" --gtest_filter="Reboot.$1" >"$work.out" 2>&1 </dev/null
  local status=$?
  cat "$work.out"; rm -f "$work.out"
  return $status
}
step Prepare && {
  echo "== restart"
  wineserver -k >/dev/null 2>&1 </dev/null
  wineserver -w >/dev/null 2>&1 </dev/null
  wineserver -p >/dev/null 2>&1 </dev/null &
  step Verify
}
rc=$?
rm -rf "$work"
exit $rc
