#!/bin/sh
# Runs the gateway's main job for real: the Talmira program relays one card
# transaction between a simulated terminal (on a pseudo-terminal) and a
# simulated VAN (on 127.0.0.1), and the traffic log is printed as it grows.
# Where there is no display the program runs headless (Qt's offscreen platform).
# Everything happens under a temporary HOME, so the user's own settings,
# autostart entry and desktop are never touched.
#   ./run-demo.sh            the Linux program
#   ./run-demo.sh windows    brisken.exe under Wine (tools/windows-demo.sh)
set -eu
cd "$(dirname "$0")"
if [ "${1:-}" = windows ]; then
    exec sh tools/windows-demo.sh
fi
./setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target brisken catsim_cli vansim_tool

top=$(pwd)
demo=$(mktemp -d /tmp/talmira-demo-XXXXXX)
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    for p in $pids; do wait "$p" 2>/dev/null || true; done
    rm -rf "$demo"
}
trap cleanup EXIT INT TERM

export HOME="$demo/home"
export XDG_CONFIG_HOME="$HOME/.config"
unset HOMEDRIVE || true
mkdir -p "$HOME/QAVEX" "$XDG_CONFIG_HOME"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi

# The program lives in its install folder, as an installed copy would.
cp "$top/build/ui/qt/brisken" "$HOME/QAVEX/brisken"

# Waits (at most 10 s) until FILE holds a line matching PATTERN.
wait_for_line() {
    i=0
    until grep -q "$2" "$1"; do
        i=$((i + 1)); [ $i -lt 100 ] || { echo "$3 did not start"; exit 1; }; sleep 0.1
    done
}

"$top/build/tools/vansim/vansim" --port 0 --greeting "VAN READY" >"$demo/vansim.out" 2>&1 &
pids="$pids $!"
wait_for_line "$demo/vansim.out" "listening on" vansim
van_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$demo/vansim.out")

"$top/build/tools/catsim/catsim" --pty --van-port "$van_port" --wait-ms 30000 >"$demo/catsim.out" 2>&1 &
cat_pid=$!
pids="$pids $cat_pid"
wait_for_line "$demo/catsim.out" "^line: " catsim
line=$(sed -n 's/^line: //p' "$demo/catsim.out")

# Settings: the terminal's line, auto-connect, the status window and the log on.
cat >"$HOME/QAVEX/brisken.ini" <<INI
[COMPORT]
port=$line
speed=9.6K
[STATUSBOX]
show=show
[COMMON]
auto_run=Y
log=Y
INI

echo "== terminal on $line, VAN on 127.0.0.1:$van_port; starting Talmira"
(cd "$HOME/QAVEX" && exec ./brisken) >"$demo/brisken.out" 2>&1 &
pids="$pids $!"

# Print the traffic log as it grows until the terminal has finished.
. tools/demo-log.sh
follow_traffic_log "$HOME/QAVEX/CATLOG" "$cat_pid" 600
wait "$cat_pid" && echo "== transaction complete" || { echo "== transaction FAILED"; exit 1; }
