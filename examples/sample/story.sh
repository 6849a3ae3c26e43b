#!/usr/bin/env bash
# The sample product's whole story in a private Wine prefix, every state
# checked: the machine before; install; what changed; check; a file made to
# disagree and repair; version 2 while the shared library is in use, a real
# restart and finish; uninstall; the machine after, compared with before.
#   story.sh <x64 build tree> <prefix> <work folder>
# The medium is <tree>/sample (target sample_media). Exits non-zero at the
# first state that is not as expected; the last line gives the verdict.
set -u
TREE=$1; PREFIX=$2; WORK=$3
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
MEDIUM=$TREE/sample
export ORV_WINEPREFIX=$PREFIX WINEPREFIX=$PREFIX WINEDEBUG=-all
mkdir -p "$WORK"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
LOG=$WORK/kernel.log
APP="$PREFIX/drive_c/Program Files/Orv Sample"
BIN='C:\Program Files\Orv Sample\bin'
COMMON="$PREFIX/drive_c/Program Files/Common Files"

step() { echo; echo "=== $*"; }
fail() {
  echo "story: FAILED: $*"
  "$ROOT/scripts/wine-prefix" stop "$PREFIX"
  exit 1
}
# A Windows program of the prefix; its output goes through a file, since the
# system processes a Wine process may start keep what they inherit.
win() {
  "$TREE/wine-run" "$@" >"$WORK/out" 2>&1 </dev/null
  local rc=$?
  tr -d '\r' <"$WORK/out"
  return $rc
}
# orvsetup <verb> <manifest> <expected exit code>: Wine hands on the low 8 bits.
orvsetup() {
  echo "> orvsetup $1 $2"
  win "$MEDIUM/orvsetup.exe" "$1" "$(winpath "$MEDIUM/$2")" --log "$(winpath "$LOG")"
  local rc=$?
  [ $rc -eq $(($3 % 256)) ] || fail "orvsetup $1 $2 ended with $rc, expected $3 ($(($3 % 256)))"
}
# The prefix's files and registry as sorted text, without what Wine itself
# changes as it runs: temporary folders, the hardware keys it fills when a
# program first uses the display (HKLM\System, HKLM\Hardware), its own
# settings (Software\Wine).
snapshot() {
  (cd "$PREFIX/drive_c" && find . \( -path ./windows/temp -o -path './users/*/Temp' -o -path './users/*/AppData/Local/Temp' \) \
     -prune -o -printf '%y %p %s\n' | sort) >"$WORK/$1.files"
  win regedit /E "$(winpath "$WORK/$1.export")" >/dev/null || fail "regedit /E"
  iconv -f UTF-16 -t UTF-8 "$WORK/$1.export" | tr -d '\r' | awk '
    /\\$/ { sub(/\\$/, ""); held = held $0; next }
    { line = held $0; held = "" }
    line ~ /^\[/ { key = line; print key; next }
    line != "" && key != "" { print key " " line }' \
    | grep -v -e '^\[HKEY_LOCAL_MACHINE\\System[]\\]' -e '^\[HKEY_LOCAL_MACHINE\\Hardware[]\\]' -e '^\[HKEY_USERS\\[^]\\]*\\Software\\Wine[]\\]' \
    | sort >"$WORK/$1.registry"
}
changes() {  # changes <from> <to>: what was added (+) and taken away (-)
  for kind in files registry; do
    comm -13 "$WORK/$1.$kind" "$WORK/$2.$kind" | sed 's/^/  + /'
    comm -23 "$WORK/$1.$kind" "$WORK/$2.$kind" | sed 's/^/  - /'
  done
}
added() {  # added <from> <to>: the files and registry keys added, in short
  comm -13 "$WORK/$1.files" "$WORK/$2.files" | awk '$1 == "f" { sub(/^f \.\//, ""); sub(/ [0-9]+$/, ""); print "  " $0 }'
  comm -13 "$WORK/$1.registry" "$WORK/$2.registry" | grep -v Wow6432Node | grep '\]$' | sed 's/^/  /'
}
shared_count() {  # shared_count <FILE NAME in Common Files> <snapshot>
  grep -F "SharedDLLs] \"C:\\\\PROGRAM FILES\\\\COMMON FILES\\\\$1\"=" "$WORK/$2.registry" | head -1 | sed 's/.*=dword://'
}
[ -f "$MEDIUM/orvsetup.exe" ] || fail "no medium in $MEDIUM (build the target sample_media)"
rm -f "$LOG"

# A prefix an interrupted run left the product in is made anew.
[ -e "$APP" ] && { echo "(the prefix still holds Orv Sample from an interrupted run: a new prefix)"; rm -rf "$PREFIX"; }
"$ROOT/scripts/wine-prefix" start "$PREFIX" || fail "cannot start the prefix $PREFIX"

step "1. The machine before"
# Windows always has the SharedDLLs key; a new Wine prefix has not (yet).
win reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs' /f >/dev/null || fail "reg add"
snapshot before
echo "$(wc -l <"$WORK/before.files") files and folders, $(wc -l <"$WORK/before.registry") registry lines; no Orv Sample:"
[ ! -e "$APP" ] && ! grep -q 'Orv Sample' "$WORK/before.registry" || fail "Orv Sample is there before the install"
echo "  (none found)"

step "2. Install version 1"
orvsetup install sample.ini 0

step "3. What changed"
snapshot installed
echo "Files and registry keys added (the kernel's markers and the 32-bit registry's mirrors left out):"
added before installed | grep -v -e '__orv.dir' | sed 's/^\(.\{130\}\).*/\1.../'
echo "SharedDLLs counts (the shared library, and the in-process server, which counts wherever it lies):"
grep -v Wow6432Node "$WORK/installed.registry" | grep -i 'SharedDLLs\] ".*ORVSAMPLE' | sed 's/^[^]]*\] /  /'
[ "$(shared_count ORVSAMPLESHARED.DLL installed)" = 00000001 ] || fail "SharedDLLs count of the shared library"
echo "App Paths:"
grep -v Wow6432Node "$WORK/installed.registry" | grep 'App Paths\\OrvSample.*\] ' | sed 's/^/  /'
echo "Shortcuts:"
links=$(cd "$PREFIX/drive_c" && find users ProgramData -iname 'Orv Sample*.lnk' 2>/dev/null)
echo "$links" | sed 's/^/  /'
[ "$(echo "$links" | grep -c .)" -eq 2 ] || fail "expected two shortcuts"
echo "Font:"
grep -i 'Fonts\] "Orv Sans DV (TrueType)"' "$WORK/installed.registry" | sed 's/^/  /' || fail "the font is not in the fonts key"
[ -f "$APP/fonts/OrvSansDV.ttf" ] || fail "the font file is not installed"
echo "The program and both COM servers, created through COM:"
win "$BIN\\OrvSample.exe" | sed 's/^/  /'
win "$BIN\\OrvSample.exe" --servers | sed 's/^/  /'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "OrvSample.exe --servers"

step "4. Check"
orvsetup check sample.ini 0

step "5. A file made to disagree, then repair"
echo "> delete bin\\OrvSample.exe; unregister the in-process server (regsvr32 /u)"
rm -f "$APP/bin/OrvSample.exe"
win regsvr32 /s /u "$BIN\\OrvSampleInproc.dll"
orvsetup check sample.ini 1603
orvsetup repair sample.ini 0
orvsetup check sample.ini 0
win "$BIN\\OrvSample.exe" --servers | sed 's/^/  /'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "the servers after the repair"

step "6. Version 2 while the program runs and holds the shared library"
"$TREE/wine-run" "$BIN\\OrvSample.exe" --run 600 >"$WORK/held.out" 2>&1 </dev/null &
for _ in $(seq 1 100); do grep -q running "$WORK/held.out" 2>/dev/null && break; sleep 0.2; done
tr -d '\r' <"$WORK/held.out" | sed 's/^/  /'
grep -q running "$WORK/held.out" || fail "the program did not start"
orvsetup install sample-2.ini 3010
orvsetup finish sample-2.ini 3010
ls "$COMMON" | grep -i orvsampleshared | sed 's/^/  waiting: /'

step "7. A real restart (wineserver -k), then finish"
"$ROOT/scripts/wine-prefix" stop "$PREFIX"
wait
"$ROOT/scripts/wine-prefix" start "$PREFIX" || fail "the prefix did not come back"
[ ! -e "$COMMON/OrvSampleShared_orvtmp.dll" ] || fail "the restart did not replace the shared library"
orvsetup finish sample-2.ini 0
orvsetup check sample-2.ini 0
win "$BIN\\OrvSample.exe" | tee "$WORK/version.out" | sed 's/^/  /'
grep -q "Orv Sample 2.0, shared library 2.0" "$WORK/version.out" || fail "version 2 is not in place"
orvsetup status sample-2.ini 0

step "8. Uninstall"
orvsetup uninstall sample-2.ini 0

step "9. The machine after (restarted once more, so Wine settles its font lists), compared with before"
"$ROOT/scripts/wine-prefix" stop "$PREFIX"
"$ROOT/scripts/wine-prefix" start "$PREFIX" || fail "the prefix did not come back"
snapshot after
changes before after >"$WORK/left"
if [ -s "$WORK/left" ]; then
  cat "$WORK/left"
  fail "the machine is not as before ($(wc -l <"$WORK/left") differences)"
fi
echo "  files and registry as before: nothing left"
"$ROOT/scripts/wine-prefix" stop "$PREFIX"
echo
echo "The kernel's log: $LOG"
echo "story: machine clean"
