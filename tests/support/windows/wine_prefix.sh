#!/bin/sh
# The Wine side of the Windows runs (tests, demo, pictures).
#   wine_prefix.sh prefix PREFIX     makes the Wine prefix PREFIX once, with
#                                    fonts that draw Korean dialog texts and
#                                    one virtual desktop for every window
#   wine_prefix.sh xvfb-start DIR    a virtual display (Xvfb) for the windows;
#                                    its pid in DIR/xvfb.pid, its name in DIR/display
#   wine_prefix.sh xvfb-stop DIR     ends that Xvfb by its pid
#   wine_prefix.sh loader            the Wine loader for WINEARCH (win64 unless set)
set -eu
mode="$1"
target="${2:-}"

# With both Wines installed, Debian's "wine" always starts the 32-bit loader,
# which hands 64-bit programs on to the 64-bit one; a machine that runs no
# 32-bit user code cannot start it at all. A 64-bit prefix is therefore run
# by the 64-bit loader itself, which the programs Wine starts inherit.
loader() {
    if [ "${WINEARCH:-win64}" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then
        echo /usr/lib/wine/wine64
    else
        command -v wine
    fi
}
WINELOADER=$(loader)
export WINELOADER

case "$mode" in
loader)
    echo "$WINELOADER"
    ;;
prefix)
    export WINEPREFIX="$target"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        "$WINELOADER" wineboot -i >/dev/null 2>&1
    fi
    if [ ! -f "$WINEPREFIX/.talmira-setup" ]; then
        # Wine's own "MS Shell Dlg" has no Hangul and draws boxes; a Korean
        # Windows has the fonts. Test set-up only: the program sets nothing.
        # Windows are drawn inside one virtual desktop, which needs no window
        # manager (without one, Wine waits seconds on every window that goes).
        reg="$WINEPREFIX/talmira-fonts.reg"
        # regedit reads a version 5 file as UTF-16, which carries the Korean name.
        { printf '\357\273\277'; cat <<'REG'; } | iconv -f UTF-8 -t UTF-16LE >"$reg"
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS Shell Dlg"="Noto Sans CJK KR"
"MS Shell Dlg 2"="Noto Sans CJK KR"
"굴림체"="Noto Sans Mono CJK KR"

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1280x800"
REG
        "$WINELOADER" regedit /S "$reg" >/dev/null 2>&1
        rm -f "$reg"
        touch "$WINEPREFIX/.talmira-setup"
    fi
    ;;
xvfb-start)
    mkdir -p "$target"
    rm -f "$target/display" "$target/xvfb.pid"
    # Xvfb picks a free display and names it on descriptor 3.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$target/display.fd" \
        >"$target/xvfb.log" 2>&1 &
    echo $! >"$target/xvfb.pid"
    i=0
    until [ -s "$target/display.fd" ]; do
        i=$((i + 1))
        if [ $i -ge 100 ]; then
            echo "xvfb: no display" >&2
            cat "$target/xvfb.log" >&2
            kill "$(cat "$target/xvfb.pid")" 2>/dev/null || true
            exit 1
        fi
        sleep 0.1
    done
    echo ":$(tr -d '\n' <"$target/display.fd")" >"$target/display"
    rm -f "$target/display.fd"
    ;;
xvfb-stop)
    if [ -f "$target/xvfb.pid" ]; then
        pid=$(cat "$target/xvfb.pid")
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do i=$((i + 1)); sleep 0.1; done
        rm -f "$target/xvfb.pid" "$target/display"
    fi
    ;;
*)
    echo "usage: $0 prefix PREFIX | xvfb-start DIR | xvfb-stop DIR | loader" >&2
    exit 2
    ;;
esac
