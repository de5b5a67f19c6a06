#!/bin/sh
# The gateway's main job on Windows, for real: brisken.exe runs under Wine and
# relays one card transaction. The terminal simulator runs on the Linux end of
# a pseudo-terminal pair (socat) whose other end is COM21 of a Wine prefix;
# brisken.exe auto-connects on COM21; the VAN simulator listens on 127.0.0.1.
# The traffic log is printed as it grows. Everything lives in a temporary
# folder (its own Wine prefix included) that is removed afterwards; without a
# display the windows are drawn on a virtual one (Xvfb). Every process started
# here is ended by its pid.
set -eu
cd "$(dirname "$0")/.."
./setup.sh
./setup.sh windows
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target catsim_cli vansim_tool
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBRISKEN_BUILD_GUI=ON >/dev/null
cmake --build build-windows -j 2 --target brisken

top=$(pwd)
demo=$(mktemp -d /tmp/talmira-windemo-XXXXXX)
export WINEPREFIX="$demo/prefix"
export WINEDEBUG=-all
# No Mono or Gecko installers; no menu entries on this machine for the
# shortcut the program makes on its (Wine) desktop.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# The 64-bit loader itself (Debian's "wine" starts the 32-bit one first).
WINELOADER=$(sh "$top/tests/support/windows/wine_prefix.sh" loader)
export WINELOADER
pids=""
gateway=""
cleanup() {
    [ -n "$gateway" ] && kill "$gateway" 2>/dev/null || true
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    for p in $pids $gateway; do wait "$p" 2>/dev/null || true; done
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
    sh "$top/tests/support/windows/wine_prefix.sh" xvfb-stop "$demo"
    rm -rf "$demo"
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
    sh tests/support/windows/wine_prefix.sh xvfb-start "$demo"
    DISPLAY=$(cat "$demo/display")
    export DISPLAY
fi
echo "== making the Wine prefix (the first start of Wine takes a while)"
sh tests/support/windows/wine_prefix.sh prefix "$WINEPREFIX"
drive_c="$WINEPREFIX/drive_c"
# One server for the whole demo, ended at the end.
wineserver -p </dev/null >/dev/null 2>&1 || true  # one may be running already

# Waits (at most 10 s) until FILE holds a line matching PATTERN.
wait_for_line() {
    i=0
    until grep -q "$2" "$1" 2>/dev/null; do
        i=$((i + 1)); [ $i -lt 100 ] || { echo "$3 did not start"; exit 1; }; sleep 0.1
    done
}

# COM21 of the prefix and the terminal's line: two ends of one socat pair.
socat pty,raw,echo=0,link="$demo/com21" pty,raw,echo=0,link="$demo/terminal" \
    >"$demo/socat.log" 2>&1 &
pids="$pids $!"
i=0
until [ -e "$demo/com21" ] && [ -e "$demo/terminal" ]; do
    i=$((i + 1)); [ $i -lt 50 ] || { echo "socat made no pair"; exit 1; }; sleep 0.1
done
ln -sfn "$demo/com21" "$WINEPREFIX/dosdevices/com21"
# On Windows the port's driver enters it in the serial device map; Wine enters
# only its own /dev/ttyS ports, so the demo enters COM21 as a driver would.
"$WINELOADER" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\TalmiraDemo0' /d COM21 /f \
    >/dev/null 2>&1

"$top/build/tools/vansim/vansim" --port 0 --greeting "VAN READY" >"$demo/vansim.out" 2>&1 &
pids="$pids $!"
wait_for_line "$demo/vansim.out" "listening on" vansim
van_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$demo/vansim.out")

# The program lives in its install folder, as an installed copy would, with
# its settings: COM21, auto-connect, the status window and the log on.
mkdir -p "$drive_c/QAVEX"
cp build-windows/ui/win32/brisken.exe "$drive_c/QAVEX/brisken.exe"
printf '[COMPORT]\r\nport=21\r\nspeed=9.6K\r\n[STATUSBOX]\r\nshow=show\r\n[COMMON]\r\nauto_run=Y\r\nlog=Y\r\n' \
    >"$drive_c/QAVEX/brisken.ini"

"$top/build/tools/catsim/catsim" --device "$demo/terminal" --baud 9600 --van-port "$van_port" \
    --wait-ms 90000 >"$demo/catsim.out" 2>&1 &
cat_pid=$!
pids="$pids $cat_pid"

echo "== terminal on COM21, VAN on 127.0.0.1:$van_port; starting brisken.exe"
(cd "$drive_c/QAVEX" && exec "$WINELOADER" 'C:\QAVEX\brisken.exe') >"$demo/brisken.out" 2>&1 &
gateway=$!

# Print the traffic log as it grows until the terminal has finished.
. tools/demo-log.sh
follow_traffic_log "$drive_c/QAVEX/CATLOG" "$cat_pid" 1200
if wait "$cat_pid"; then
    echo "== transaction complete"
else
    echo "== transaction FAILED"
    cat "$demo/brisken.out"
    exit 1
fi
