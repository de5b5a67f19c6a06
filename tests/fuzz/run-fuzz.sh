#!/bin/sh
# Builds the fuzz targets with clang (ASan + UBSan) into build-fuzz/ and runs
# each in turn.
#   tests/fuzz/run-fuzz.sh 30s              each target for 30 seconds
#   tests/fuzz/run-fuzz.sh 1000000          each target for 1,000,000 runs
#   tests/fuzz/run-fuzz.sh 10s log_line     only the targets named
# Each target starts from its seeds (tests/fuzz/corpus/<target>, copied, so the
# repository's corpus stays small) and its dictionary when it has one; what it
# learns stays in build-fuzz/corpus/<target>. A broken promise or a crash stops
# that target, its input is left in build-fuzz/artifacts/<target>/ (save it
# under tests/fuzz/regressions/<target>/ once the fault is fixed) and the
# script fails. One line per target: runs, wall seconds, runs per second and
# the load average (1 min) when it ended.
set -eu
cd "$(dirname "$0")/../.."

budget="${1:-}"
case "$budget" in
    *[0-9]s) limit="-max_total_time=${budget%s}" ;;
    *[0-9]) limit="-runs=$budget" ;;
    *) echo "usage: $0 SECONDSs|RUNS [target...]" >&2; exit 2 ;;
esac
shift
targets="${*:-cat_request session_end settings_ini update_answer log_line}"

command -v clang++ >/dev/null 2>&1 || { echo "run-fuzz: no clang++ (./setup.sh fuzz)" >&2; exit 1; }
dir=build-fuzz
build() {
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DBRISKEN_FUZZ=ON -DBRISKEN_BUILD_GUI=OFF || return 1
    for t in $targets; do
        cmake --build "$dir" -j 2 --target "${t}_fuzzer" || return 1
    done
}
mkdir -p "$dir"
if ! build >"$dir/build.log" 2>&1; then
    tail -n 30 "$dir/build.log" >&2
    echo "run-fuzz: the build failed (all of it in $dir/build.log)" >&2
    exit 1
fi

# The settings target writes its INI file once per run: into memory where the
# machine offers it.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=""
for t in $targets; do
    corpus="$dir/corpus/$t"
    artifacts="$dir/artifacts/$t"
    mkdir -p "$corpus" "$artifacts"
    cp tests/fuzz/corpus/"$t"/* "$corpus"/
    dict=""
    [ -f "tests/fuzz/dict/$t.dict" ] && dict="-dict=tests/fuzz/dict/$t.dict"
    log="$dir/$t.log"
    # -timeout: one input taking seconds is a fault too (a loop that does not end).
    start=$(date +%s.%N)
    if "$dir/tests/fuzz/${t}_fuzzer" "$limit" $dict -timeout=10 -max_len=4096 \
           -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
        result=ok
    else
        result="FAILED (see $log, input in $artifacts/)"
        failed="$failed $t"
    fi
    end=$(date +%s.%N)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    # Wall time of the whole run (start-up and seeds included), to the millisecond.
    awk -v t="$t" -v runs="${runs:-0}" -v a="$start" -v b="$end" -v r="$result" \
        -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
            s = b - a
            printf "%-14s runs %-9d seconds %7.1f  runs/s %8.0f  load %s  %s\n", t, runs, s, runs / s, load, r
        }'
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
[ -z "$failed" ] || { echo "run-fuzz: failed:$failed" >&2; exit 1; }
