#!/bin/sh
# The TLS fronts of the Windows HTTPS tests. The Windows test build has no TLS
# library for its test server, so socat speaks TLS here with the test
# certificates, on 127.0.0.1, and hands each connection on as plain TCP to the
# port the test's server wrote into "<certificate>.backend"; the front's own
# port is in "<certificate>.port".
#   tls_front.sh start BUILD_DIR    start one front per certificate (pids kept)
#   tls_front.sh stop BUILD_DIR     end those socats by their pids, remove the files
set -eu
mode="$1"
build="$(cd "$2" && pwd)"
dir="$build/tls-front"
certs="$(cd "$(dirname "$0")/../../data/tls" && pwd)"
names="server stranger"

stop() {
    for name in $names; do
        if [ -f "$dir/$name.pid" ]; then
            pid=$(cat "$dir/$name.pid")
            kill "$pid" 2>/dev/null || true
            i=0
            while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do i=$((i + 1)); sleep 0.1; done
        fi
        rm -f "$dir/$name.pid" "$dir/$name.port" "$dir/$name.backend" "$dir/$name.sh" "$dir/$name.log"
    done
}

case "$mode" in
start)
    stop
    mkdir -p "$dir"
    for name in $names; do
        # Each connection, once its handshake is done, goes to the port the
        # test's server listens on now.
        printf '#!/bin/sh\nexec socat STDIO "TCP:127.0.0.1:$(cat "%s")"\n' "$dir/$name.backend" >"$dir/$name.sh"
        chmod +x "$dir/$name.sh"
        : >"$dir/$name.log"
        socat -d -d \
            "OPENSSL-LISTEN:0,bind=127.0.0.1,fork,cert=$certs/$name.pem,key=$certs/$name-key.pem,verify=0" \
            "EXEC:$dir/$name.sh" </dev/null >/dev/null 2>"$dir/$name.log" &
        echo $! >"$dir/$name.pid"
        i=0
        until port=$(sed -n 's/.*listening on AF=2 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/$name.log") &&
              [ -n "$port" ]; do
            i=$((i + 1))
            if [ $i -ge 50 ] || ! kill -0 "$(cat "$dir/$name.pid")" 2>/dev/null; then
                echo "tls_front: socat does not listen for $name" >&2
                cat "$dir/$name.log" >&2
                stop
                exit 1
            fi
            sleep 0.1
        done
        echo "$port" >"$dir/$name.port"
        echo "tls_front: $name.pem on 127.0.0.1:$port (socat pid $(cat "$dir/$name.pid"))"
    done
    ;;
stop)
    stop
    ;;
*)
    echo "usage: $0 start|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
