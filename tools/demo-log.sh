# Shared by the demos (sourced): follow_traffic_log LOG_DIR PID TENTHS prints
# the traffic log as it grows while the terminal simulator PID runs (at most
# TENTHS tenths of a second), then the rest of it and both simulators' sides
# ($demo/catsim.out and $demo/vansim.out).
follow_traffic_log() {
    log_dir="$1"
    shown=0
    i=0
    while kill -0 "$2" 2>/dev/null && [ $i -lt "$3" ]; do
        if [ -d "$log_dir" ]; then
            lines=$(cat "$log_dir"/*.LOG 2>/dev/null | wc -l)
            if [ "$lines" -gt "$shown" ]; then
                cat "$log_dir"/*.LOG | tr -d '\r' | tail -n +"$((shown + 1))" | head -n "$((lines - shown))"
                shown=$lines
            fi
        fi
        i=$((i + 1)); sleep 0.1
    done
    sleep 0.5
    cat "$log_dir"/*.LOG 2>/dev/null | tr -d '\r' | tail -n +"$((shown + 1))"
    echo "== the terminal's side"
    cat "$demo/catsim.out"
    echo "== the VAN's side"
    cat "$demo/vansim.out"
}
