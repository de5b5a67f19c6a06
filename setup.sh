#!/bin/sh
# Installs the Debian packages Talmira builds, tests and runs with.
# Only what is missing is installed; run as root (or with sudo available).
# lighttpd serves the release tests' update server; osslsigncode signs a
# Windows release (tools/make-release.sh).
#   ./setup.sh            what the Linux build needs
#   ./setup.sh windows    what the Windows cross build and its tests under Wine need
#   ./setup.sh windows32  the same for the 32-bit build: Debian's i386 architecture
#                         beside this one, the 32-bit Wine and the i686 cross compiler
#   ./setup.sh fuzz       what the fuzz targets need besides the Linux build (clang, libFuzzer)
set -eu

PKGS="build-essential cmake ninja-build pkg-config git
qt6-base-dev qt6-base-dev-tools libgl-dev
libserialport-dev libsystemd-dev libcurl4-openssl-dev libssl-dev rapidjson-dev libsimpleini-dev
openssl ca-certificates socat
libgtest-dev libgmock-dev libcpp-httplib-dev
fonts-noto-cjk
lighttpd"
if [ "${1:-}" = fuzz ]; then
    PKGS="$PKGS clang libclang-rt-dev"
elif [ "${1:-}" = windows ] || [ "${1:-}" = windows32 ]; then
    PKGS="cmake ninja-build g++-mingw-w64-x86-64-posix googletest rapidjson-dev
wine wine64 socat openssl xvfb fonts-noto-cjk netpbm
osslsigncode ca-certificates lighttpd"
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
updated=0
if [ "${1:-}" = windows32 ]; then
    # wine32 is an i386 package: the architecture is added once, and the
    # package lists are read again for it.
    PKGS="$PKGS g++-mingw-w64-i686-posix wine32:i386"
    if ! dpkg --print-foreign-architectures | grep -qx i386 &&
        [ "$(dpkg --print-architecture)" != i386 ]; then
        echo "setup: adding the i386 architecture"
        $SUDO dpkg --add-architecture i386
        $SUDO apt-get update -qq
        updated=1
    fi
fi

missing=""
for p in $PKGS; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    [ $updated -eq 1 ] || $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
