#!/usr/bin/env bash
# A real restart of the Wine system between scheduling and checking:
#   restart_across_reboot.sh <wine-run> <prefix> <restart_reboot.exe> <work folder>
# Stopping every Wine process of the prefix (wineserver -k) and starting any
# new one boots the prefix again, and wineboot carries out the pending renames.
# The whole test run shares one wineserver: it is started again, persistent,
# for the tests after this one (the run's cleanup fixture stops it).
set -u
run=$1; prefix=$2; helper=$3; work=$4
export ORV_WINEPREFIX="$prefix" WINEPREFIX="$prefix"
rm -rf "$work"
mkdir -p "$work"
winwork="Z:${work//\//\\}"

# The first Wine process after the restart starts the system's own processes,
# which keep the output they inherit: ours stays away from them (CTest would
# wait for them), through a file.
step() {
  "$run" "$helper" "$1" "$winwork" >"$work.$1.out" 2>&1 </dev/null
  local status=$?
  cat "$work.$1.out"
  rm -f "$work.$1.out"
  return $status
}

echo "== before the restart"
step prepare
rc=$?
if [ $rc -eq 0 ]; then
  echo "== restart"
  wineserver -k >/dev/null 2>&1 </dev/null
  wineserver -w >/dev/null 2>&1 </dev/null
  # The server inherits our output: it gets none, or whoever reads it waits for ever.
  wineserver -p >/dev/null 2>&1 </dev/null &
  echo "== after the restart"
  step verify
  rc=$?
fi
rm -rf "$work"
exit $rc
