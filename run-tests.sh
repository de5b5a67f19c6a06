#!/bin/sh
# Builds Talmira and runs its whole test suite.
#   ./run-tests.sh          plain build, every test
#   ./run-tests.sh asan     AddressSanitizer + UBSan build, every test
#   ./run-tests.sh tsan     ThreadSanitizer build, the threaded tests
set -eu
cd "$(dirname "$0")"
./setup.sh

mode="${1:-plain}"
case "$mode" in
    plain) dir=build;      flags="";                   label="" ;;
    asan)  dir=build-asan; flags="address,undefined";  label="" ;;
    tsan)  dir=build-tsan; flags="thread";             label="threaded" ;;
    *) echo "usage: $0 [plain|asan|tsan]" >&2; exit 2 ;;
esac

gui=ON
[ "$mode" = tsan ] && gui=OFF   # Qt itself is not built for ThreadSanitizer

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DBRISKEN_SANITIZE="$flags" -DBRISKEN_BUILD_GUI=$gui >/dev/null
cmake --build "$dir" -j "$(nproc)"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
if [ -n "$label" ]; then
    ctest --test-dir "$dir" --output-on-failure -L "$label" -LE slow -j 2
else
    ctest --test-dir "$dir" --output-on-failure -LE slow -j 2
fi
