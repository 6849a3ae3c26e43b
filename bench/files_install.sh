#!/usr/bin/env bash
# bench/files_install.sh [x64 build tree] [count [bytes [rounds]]]
# Installs data files through InstallFile and copies them with CopyFileW, side
# by side in one wine64 run, and prints the ratios (see files_install.cpp).
# The x64 tree must be built (default: build/x64).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/x64}
shift || true
if [ ! -f "$build/bin/TqOrvWexKr.dll" ] || [ ! -x "$build/wine-run" ]; then
  echo "no built x64 tree at $build (configure with cmake/toolchain-x86_64-w64-mingw32.cmake and build it)" >&2
  exit 1
fi
out=$build/bench
mkdir -p "$out"
x86_64-w64-mingw32-g++-posix -O2 -std=c++17 -municode -static -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN \
  -I"$root/src" -I"$build/src/kernel/gen" \
  "$root/bench/files_install.cpp" "$build/src/kernel/gen/kernel/TqOrvWexKr_i.c" \
  -o "$out/files_install.exe" -lole32 -loleaut32 -luuid
"$build/wine-run" "$out/files_install.exe" "$@"
