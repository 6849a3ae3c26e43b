#!/usr/bin/env bash
# The SDK as a setup author gets it: both trees installed into one folder,
# the layout checked, the setup program built from its sources against that
# folder alone (x86 and x64), the x64 build run with the SDK's modules on a
# small product, and the ZIP that CPack packs from both trees.
#   check_sdk.sh <source> <x86 tree> <x64 tree> <work folder>
set -u
src=$1; x86=$2; x64=$3; work=$4
fail() { echo "sdk: FAILED: $*"; exit 1; }
rm -rf "$work" && mkdir -p "$work"
sdk=$work/sdk

cmake --install "$x86" --prefix "$sdk" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install of $x86"; }
cmake --install "$x64" --prefix "$sdk" >>"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install of $x64"; }
expected="README.md include/TqOrvWexKr_h.h include/TqOrvWexKr_i.c lib/x86/TqOrvWexKr.tlb lib/x64/TqOrvWexKr.tlb"
programs="TqOrvWexKr.dll TqOrvWexUt.dll TqOrvWexLg.dll orvsetup.exe"
[ -f "$x64/bin/orvregsv.exe" ] && programs="$programs orvregsv.exe"
for arch in x86 x64; do for f in $programs; do expected="$expected bin/$arch/$f"; done; done
actual=$(cd "$sdk" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
want=$(printf '%s\n' $expected | sort | tr '\n' ' ')
[ "$actual" = "$want" ] || fail "layout: got [$actual], expected [$want]"
echo "sdk: layout as expected: $want"

for arch in x86 x64; do
  triple=$([ $arch = x86 ] && echo i686-w64-mingw32 || echo x86_64-w64-mingw32)
  cmake -S "$src/tests/sdk/client" -B "$work/build-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-$triple.cmake" -DORV_SDK="$sdk" \
    -DORV_SETUP_SOURCES="$src/tools/orvsetup" >"$work/build-$arch.log" 2>&1 \
    || { cat "$work/build-$arch.log"; fail "configure against the SDK ($arch)"; }
  ninja -C "$work/build-$arch" >>"$work/build-$arch.log" 2>&1 || { cat "$work/build-$arch.log"; fail "build against the SDK ($arch)"; }
done
echo "sdk: orvsetup built against the SDK for x86 and x64"

# The SDK-built program with the SDK's modules installs and removes a product.
medium=$work/medium
mkdir -p "$medium"
cp "$sdk"/bin/x64/*.dll "$work/build-x64/orvsetup.exe" "$medium/"
printf 'read me\r\n' >"$medium/readme.txt"
printf '[Product]\r\nName=SDK check\r\nVersion=1\r\nInstallDir=%s\r\n[File readme]\r\nSource=readme.txt\r\nTarget=readme.txt\r\n' \
  "Z:$(echo "$work/installed" | tr / '\\')" >"$medium/p.ini"
manifest="Z:$(echo "$medium/p.ini" | tr / '\\')"
for verb in install uninstall; do
  "$x64/wine-run" "$medium/orvsetup.exe" $verb "$manifest" </dev/null || fail "orvsetup $verb (exit $?)"
done
[ ! -e "$work/installed" ] || fail "the product was not removed"

(cd "$x64" && cpack -G ZIP -B "$work/zip" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
zip=$work/zip/TqOrvWex-SDK-1.0.zip
listing=$(cd "$work" && cmake -E tar tf "$zip") || fail "cannot list $zip"
for f in $expected; do
  echo "$listing" | grep -qx "TqOrvWex-SDK-1.0/$f" || fail "$f is not in the ZIP"
done
echo "sdk: $zip holds the same layout"
rm -rf "$work"
echo "sdk: passed"
