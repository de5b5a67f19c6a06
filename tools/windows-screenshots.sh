#!/bin/sh
# The README's pictures of the Windows windows: screenshots.exe draws them
# under Wine on a virtual display (Xvfb) with the build's test prefix (its
# fonts draw Korean), and each BMP becomes OUTDIR/windows-<name>.png.
#   tools/windows-screenshots.sh OUTDIR
set -eu
cd "$(dirname "$0")/.."
out=$(cd "${1:?usage: $0 OUTDIR}" && pwd)
./setup.sh windows
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBRISKEN_BUILD_GUI=ON >/dev/null
cmake --build build-windows -j 2 --target screenshots

work=$(mktemp -d /tmp/talmira-shots-XXXXXX)
export WINEPREFIX="$(pwd)/build-windows/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# The 64-bit loader itself (Debian's "wine" starts the 32-bit one first).
WINELOADER=$(sh tests/support/windows/wine_prefix.sh loader)
export WINELOADER
cleanup() {
    sh tests/support/windows/wine_prefix.sh xvfb-stop "$work"
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
sh tests/support/windows/wine_prefix.sh xvfb-start "$work"
DISPLAY=$(cat "$work/display")
export DISPLAY
sh tests/support/windows/wine_prefix.sh prefix "$WINEPREFIX"
"$WINELOADER" build-windows/ui/win32/screenshots.exe "Z:$work"
for bmp in "$work"/*.bmp; do
    name=$(basename "$bmp" .bmp)
    bmptopnm "$bmp" 2>/dev/null | pnmtopng >"$out/windows-$name.png"
    echo "$out/windows-$name.png"
done
