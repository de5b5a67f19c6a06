#!/bin/sh
# Builds Talmira and runs its whole test suite.
#   ./run-tests.sh          plain build, every test
#   ./run-tests.sh asan     AddressSanitizer + UBSan build, every test
#   ./run-tests.sh tsan     ThreadSanitizer build, the threaded tests
#   ./run-tests.sh fuzz     the fuzz targets (clang, ASan + UBSan), each run for a few seconds
#   ./run-tests.sh windows  Windows cross build (MinGW-w64), its tests under Wine
#   ./run-tests.sh windows32  the same for 32-bit Windows (i686), under a 32-bit Wine prefix
set -eu
cd "$(dirname "$0")"

mode="${1:-plain}"
if [ "$mode" = fuzz ]; then
    ./setup.sh fuzz
    exec tests/fuzz/run-fuzz.sh 5s
fi
if [ "$mode" = windows ] || [ "$mode" = windows32 ]; then
    ./setup.sh "$mode"
    if [ "$mode" = windows ]; then
        dir=build-windows toolchain=cmake/mingw-w64-x86_64.cmake WINEARCH=win64
    else
        # The 32-bit program in a 32-bit Wine prefix, as on a 32-bit Windows.
        dir=build-windows32 toolchain=cmake/mingw-w64-i686.cmake WINEARCH=win32
    fi
    export WINEARCH
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DBRISKEN_BUILD_GUI=ON >/dev/null
    cmake --build "$dir" -j 2
    if [ "$mode" = windows32 ] && ! "$(WINEARCH=win32 sh tests/support/windows/wine_prefix.sh loader)" --version >/dev/null 2>&1; then
        # What needs no Wine still runs: which Windows the program starts on.
        sh tools/check-imports.sh "$dir/ui/win32/brisken.exe"
        ! sh tools/check-imports.sh "$dir/tests/win32/later_import.exe" >/dev/null
        echo "run-tests: the 32-bit build and its import check pass; its suite under the 32-bit" >&2
        echo "Wine cannot run on this machine, which starts no 32-bit program (the kernel's" >&2
        echo "IA-32 emulation is off, so the 32-bit Wine loader gives \"Exec format error\")." >&2
        exit 3
    fi

    # One Wine prefix inside the build folder, made once; one server for the
    # whole run (the tests start many short programs, two at a time), ended at
    # the end whatever happens. The windows are drawn on a virtual display of
    # the run's own (Xvfb), ended by its pid at the end.
    WINEPREFIX="$(pwd)/$dir/wine-prefix"
    WINEDEBUG=-all
    WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
    WINELOADER=$(sh tests/support/windows/wine_prefix.sh loader)
    export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES WINELOADER
    unset WAYLAND_DISPLAY || true
    trap 'sh tests/support/windows/com_pair.sh stop "$dir"; sh tests/support/windows/tls_front.sh stop "$dir"; wineserver -k 2>/dev/null || true; sh tests/support/windows/wine_prefix.sh xvfb-stop "$dir/xvfb"' EXIT INT TERM
    sh tests/support/windows/wine_prefix.sh xvfb-start "$dir/xvfb"
    TALMIRA_WINE_DISPLAY=$(cat "$dir/xvfb/display")
    DISPLAY="$TALMIRA_WINE_DISPLAY"
    export TALMIRA_WINE_DISPLAY DISPLAY
    sh tests/support/windows/wine_prefix.sh prefix "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1 || true  # one may be running already
    # Wine's own services start with the first program and live as long as
    # the server; started here, they hold none of CTest's output pipes.
    "$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1
    # COM11 and COM12 for the serial tests: two ends of a socat pair; and
    # the TLS fronts of the HTTPS tests. Both ended by their pids at the end.
    sh tests/support/windows/com_pair.sh start "$dir"
    sh tests/support/windows/tls_front.sh start "$dir"
    ctest --test-dir "$dir" --output-on-failure -LE slow -j 2
    exit 0
fi

./setup.sh
case "$mode" in
    plain) dir=build;      flags="";                   label="" ;;
    asan)  dir=build-asan; flags="address,undefined";  label="" ;;
    tsan)  dir=build-tsan; flags="thread";             label="threaded" ;;
    *) echo "usage: $0 [plain|asan|tsan|fuzz|windows|windows32]" >&2; exit 2 ;;
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
