#!/bin/sh
# The COM pair of the Windows serial tests: socat joins two pseudo-terminals,
# and the Wine prefix maps COM11 and COM12 to their two ends.
#   com_pair.sh start BUILD_DIR    make the pair and link it (socat's pid is kept)
#   com_pair.sh stop BUILD_DIR     end that socat by its pid and remove the links
set -eu
mode="$1"
build="$(cd "$2" && pwd)"
dir="$build/com-pair"
devices="$build/wine-prefix/dosdevices"

stop() {
    if [ -f "$dir/socat.pid" ]; then
        pid=$(cat "$dir/socat.pid")
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do i=$((i + 1)); sleep 0.1; done
        rm -f "$dir/socat.pid"
    fi
    rm -f "$devices/com11" "$devices/com12" "$dir/a" "$dir/b"
}

case "$mode" in
start)
    [ -d "$devices" ] || { echo "com_pair: no Wine prefix at $build/wine-prefix" >&2; exit 1; }
    stop
    mkdir -p "$dir"
    socat pty,raw,echo=0,link="$dir/a" pty,raw,echo=0,link="$dir/b" >"$dir/socat.log" 2>&1 &
    echo $! >"$dir/socat.pid"
    i=0
    until [ -e "$dir/a" ] && [ -e "$dir/b" ]; do
        i=$((i + 1))
        [ $i -lt 50 ] || { echo "com_pair: socat made no pair" >&2; cat "$dir/socat.log" >&2; stop; exit 1; }
        sleep 0.1
    done
    ln -sfn "$dir/a" "$devices/com11"
    ln -sfn "$dir/b" "$devices/com12"
    echo "com_pair: COM11 <-> COM12 (socat pid $(cat "$dir/socat.pid"))"
    ;;
stop)
    stop
    ;;
*)
    echo "usage: $0 start|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
