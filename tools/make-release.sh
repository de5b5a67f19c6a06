#!/bin/sh
# Makes a release: builds the shop program of one version for one platform,
# signs it and writes the folder an update server serves as it stands.
set -eu

usage() {
    cat <<'EOF'
usage: tools/make-release.sh --platform windows|linux --version V --host URL
                             --key RELEASE_KEY.pem --out DIR
                             [--cert CERT.p12 --cert-password-file FILE] [--timestamp URL]
                             [--arch x86|x64]

Builds the shop program (Release) of version V for the platform, with the
update server URL and the public half of the release key compiled in, and
writes into DIR (which must not exist yet) what the update server serves:

  DIR/brisken/brisken_ver.php   the version answer, one line
  DIR/brisken/brisken.exe       the program (Windows; "brisken" for Linux)

  --platform P          windows (cross-built with MinGW-w64) or linux
  --version V           four dot-separated numbers, such as 2.0.0.7; shops
                        update when V, read without its dots as one number,
                        is greater than their own
  --host URL            the update server: [http://|https://]host[:port];
                        the answer's "url" names the program there
  --key FILE            the release key: the EC P-256 private key (PEM) whose
                        public half the program carries; the answer's "sig"
                        is made with it
  --out DIR             the release folder to write; never overwritten
  --cert FILE           Windows: the Authenticode certificate and its key,
                        PKCS#12; the program is signed with it (SHA-256). The
                        key must be RSA: Windows 11's Smart App Control blocks
                        a program whose signature is ECC, at every shop that
                        has it on
  --cert-password-file FILE
                        Windows: the file whose first line is the PKCS#12
                        password (never given on the command line)
  --timestamp URL       Windows: an RFC 3161 time-stamp server, so that the
                        signature outlives the certificate
  --arch A              Windows: x86 (the default: 32-bit, which every shop PC
                        runs, 64-bit Windows through WoW64) or x64 (64-bit
                        Windows only)
  --help                this text

The build folder is build-release-PLATFORM (build-release-windows-ARCH for
Windows) in the source tree, or the folder
named by RELEASE_BUILD_DIR; it is kept, so the next release builds only what
changed. RELEASE_JOBS sets the build's parallel jobs (default: every core).
One update server serves one platform and one architecture: the version
request is the same from every build, and a program takes no update built
for another machine type than its own.
EOF
}

fail() {
    echo "make-release: $*" >&2
    exit 1
}

here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")

platform="" version="" host="" key="" out="" cert="" passfile="" timestamp="" arch=""
while [ $# -gt 0 ]; do
    case "$1" in
    --help | -h)
        usage
        exit 0
        ;;
    --platform | --version | --host | --key | --out | --cert | --cert-password-file | --timestamp | --arch)
        [ $# -ge 2 ] || fail "$1 needs a value"
        case "$1" in
        --platform) platform=$2 ;;
        --version) version=$2 ;;
        --host) host=$2 ;;
        --key) key=$2 ;;
        --out) out=$2 ;;
        --cert) cert=$2 ;;
        --cert-password-file) passfile=$2 ;;
        --timestamp) timestamp=$2 ;;
        --arch) arch=$2 ;;
        esac
        shift 2
        ;;
    *)
        echo "make-release: unknown argument \"$1\"" >&2
        usage >&2
        exit 2
        ;;
    esac
done

# Everything is checked before the build, which takes minutes.
for opt in platform version host key out; do
    eval "value=\$$opt"
    [ -n "$value" ] || fail "--$opt is missing (--help tells the rest)"
done
case "$platform" in
windows) exe=brisken.exe ;;
linux) exe=brisken ;;
*) fail "--platform is windows or linux, not \"$platform\"" ;;
esac
# The same rule as the build's: four numbers of 0 to 65535, no leading zero.
part='(0|[1-9][0-9]{0,4})'
if ! printf '%s\n' "$version" | grep -Eqx "$part\.$part\.$part\.$part" || [ "$(echo "$version" | wc -l)" -ne 1 ]; then
    fail "--version \"$version\" is not four dot-separated numbers (such as 2.0.0.7)"
fi
for n in $(echo "$version" | tr . ' '); do
    [ "$n" -le 65535 ] || fail "--version $version: $n is above 65535"
done
# host[:port], optionally after http:// or https://; nothing that would need
# quoting in the answer or the build.
if ! printf '%s\n' "$host" | grep -Eqx '([Hh][Tt][Tt][Pp][Ss]?://)?[A-Za-z0-9.-]+(:[0-9]{1,5})?/?' ||
    [ "$(echo "$host" | wc -l)" -ne 1 ]; then
    fail "--host \"$host\" is not [http://|https://]host[:port]"
fi
[ -r "$key" ] || fail "--key $key: no such file"
if ! openssl pkey -in "$key" -passin pass: -noout -text 2>/dev/null | grep -q 'prime256v1'; then
    fail "--key $key is not an unencrypted EC P-256 private key (PEM)"
fi
if [ "$platform" = windows ]; then
    [ -n "$cert" ] || fail "a Windows release is Authenticode-signed: --cert CERT.p12 is missing"
    [ -n "$passfile" ] || fail "--cert-password-file is missing"
    [ -r "$cert" ] || fail "--cert $cert: no such file"
    [ -r "$passfile" ] || fail "--cert-password-file $passfile: no such file"
    if ! openssl pkcs12 -in "$cert" -passin "file:$passfile" -noout 2>/dev/null &&
        ! openssl pkcs12 -legacy -in "$cert" -passin "file:$passfile" -noout 2>/dev/null; then
        fail "--cert $cert does not open with the password in $passfile"
    fi
elif [ -n "$cert$passfile$timestamp" ]; then
    fail "--cert, --cert-password-file and --timestamp are for a Windows release"
fi

# The Windows machine type, and a code-signing key that Windows 11 trusts.
if [ "$platform" = windows ]; then
    case "${arch:-x86}" in
    x86) arch=x86 triplet=i686-w64-mingw32 pe_format=pei-i386 ;;
    x64) triplet=x86_64-w64-mingw32 pe_format=pei-x86-64 ;;
    *) fail "--arch is x86 or x64, not \"$arch\"" ;;
    esac
    leaf=$(openssl pkcs12 -in "$cert" -passin "file:$passfile" -nokeys -clcerts 2>/dev/null ||
        openssl pkcs12 -legacy -in "$cert" -passin "file:$passfile" -nokeys -clcerts 2>/dev/null) || true
    algorithm=$(printf '%s\n' "$leaf" | openssl x509 -noout -text 2>/dev/null |
        sed -n 's/^ *Public Key Algorithm: *//p' | head -n 1)
    [ "$algorithm" = rsaEncryption ] ||
        fail "--cert $cert: its key is ${algorithm:-of no kind read}, not RSA: Windows 11's Smart App Control accepts only RSA Authenticode signatures and blocks the program at every shop that has it on"
elif [ -n "$arch" ]; then
    fail "--arch is for a Windows release"
fi
[ "$platform" = linux ] || command -v osslsigncode >/dev/null || fail "osslsigncode is missing (./setup.sh windows)"
[ ! -e "$out" ] || fail "$out exists already: a release folder is never overwritten"

abs() { (cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")"); }
key=$(abs "$key")
[ -z "$cert" ] || cert=$(abs "$cert")
[ -z "$passfile" ] || passfile=$(abs "$passfile")

# The folder is claimed first and removed again if anything fails after.
mkdir -p "$(dirname "$out")"
mkdir "$out" || fail "$out could not be made"
out=$(cd "$out" && pwd)
pass=""
trap 'rc=$?; [ -z "$pass" ] || rm -f "$pass"; [ $rc -eq 0 ] || rm -rf "$out"; exit $rc' EXIT
trap 'exit 1' INT TERM HUP

build=${RELEASE_BUILD_DIR:-$src/build-release-$platform${arch:+-$arch}}
mkdir -p "$build"
build=$(cd "$build" && pwd)
pub=$build/release-pub.pem
openssl ec -in "$key" -pubout -conv_form uncompressed -out "$pub.new" 2>/dev/null
if cmp -s "$pub.new" "$pub"; then rm -f "$pub.new"; else mv -f "$pub.new" "$pub"; fi

echo "make-release: building $platform${arch:+ $arch} $version for $host in $build"
toolchain=""
[ "$platform" = linux ] || toolchain="-DCMAKE_TOOLCHAIN_FILE=$src/cmake/mingw-w64-${triplet%%-*}.cmake"
# A kept folder stays with the compiler it was first configured with: one
# made for the other architecture is refused, not built into the wrong kind.
if [ "$platform" = windows ] && [ -f "$build/CMakeCache.txt" ] &&
    ! grep -q "^CMAKE_CXX_COMPILER_AR:FILEPATH=.*/$triplet-" "$build/CMakeCache.txt"; then
    fail "$build was configured for another architecture than $arch: name another build folder (RELEASE_BUILD_DIR)"
fi
# Every value the shop build depends on is given each time: a kept folder
# never carries over a setting of an earlier release.
# shellcheck disable=SC2086
cmake -S "$src" -B "$build" -G Ninja $toolchain -DCMAKE_BUILD_TYPE=Release \
    -DBRISKEN_VERSION="$version" -DBRISKEN_UPDATE_HOST="$host" -DBRISKEN_UPDATE_PUBKEY="$pub" \
    -DBRISKEN_SANITIZE= -DBRISKEN_BUILD_GUI=ON -DBRISKEN_FUZZ=OFF >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log" >&2; fail "configure failed"; }
cmake --build "$build" --target brisken -j "${RELEASE_JOBS:-$(nproc)}" >"$build/build.log" 2>&1 ||
    { tail -n 40 "$build/build.log" >&2; fail "the build failed (all of it in $build/build.log)"; }
built=$(find "$build/ui" -maxdepth 2 -type f -name "$exe" | head -n 1)
[ -n "$built" ] || fail "the build made no $exe"
if [ "$platform" = windows ]; then
    # The machine type asked for, and nothing imported that Windows 7 SP1 lacks.
    x86_64-w64-mingw32-objdump -f "$built" | grep -q "file format $pe_format\$" ||
        fail "$built is not a $pe_format program"
    "$here/check-imports.sh" "$built" >"$build/imports.log" 2>&1 ||
        { cat "$build/imports.log" >&2; fail "the program imports what Windows 7 SP1 lacks"; }
fi

mkdir "$out/brisken"
served=$out/brisken/$exe
base=$(echo "$host" | sed -e 's|^[Hh][Tt][Tt][Pp][Ss]://|https://|' -e 's|^[Hh][Tt][Tt][Pp]://|http://|' -e 's|/$||')
case "$base" in
http://* | https://*) ;;
*) base="http://$base" ;;
esac

if [ "$platform" = windows ]; then
    # Authenticode: SHA-256, the product's name and the update server's page
    # in the signature, time-stamped when a server is given.
    # osslsigncode reads the password file whole: it gets the first line
    # only, without its line end, as openssl's file: takes it.
    pass=$build/release-cert-password
    (umask 077 && head -n 1 "$passfile" | tr -d '\r\n' >"$pass")
    set -- -pkcs12 "$cert" -readpass "$pass" -h sha256 -n Talmira -i "$base/brisken/"
    [ -z "$timestamp" ] || set -- "$@" -ts "$timestamp"
    signed=0
    osslsigncode sign "$@" -in "$built" -out "$served" >"$build/sign.log" 2>&1 && signed=1
    rm -f "$pass"
    [ $signed -eq 1 ] || { cat "$build/sign.log" >&2; fail "Authenticode signing failed"; }
    # The signature just made, and its time stamp, are checked against the
    # system's trusted roots and the chain the certificate file carries.
    chain=$build/release-chain.pem
    cat /etc/ssl/certs/ca-certificates.crt >"$chain" 2>/dev/null || : >"$chain"
    openssl pkcs12 -in "$cert" -passin "file:$passfile" -nokeys 2>/dev/null >>"$chain" ||
        openssl pkcs12 -legacy -in "$cert" -passin "file:$passfile" -nokeys 2>/dev/null >>"$chain"
    set -- -CAfile "$chain"
    [ -z "$timestamp" ] || set -- "$@" -TSA-CAfile "$chain"
    osslsigncode verify "$@" -in "$served" >"$build/verify.log" 2>&1 ||
        { cat "$build/verify.log" >&2; fail "the Authenticode signature does not verify"; }
    if [ -n "$timestamp" ] && ! grep -q "Timestamp Server Signature verification: ok" "$build/verify.log"; then
        cat "$build/verify.log" >&2
        fail "the signature carries no time stamp that verifies"
    fi
else
    cp "$built" "$served"
    chmod 755 "$served"
fi

# The update's own signature, made last: Authenticode changes the bytes.
sig=$("$here/sign-release.sh" "$key" "$version" "$served")
printf '{"status":"ok","version":"%s","url":"%s","sig":"%s"}\n' \
    "$version" "$base/brisken/$exe" "$sig" >"$out/brisken/brisken_ver.php"

cat <<EOF
make-release: $platform${arch:+ $arch} release $version in $out
Upload the folder's contents to the web root of $base (the shops of this platform${arch:+ and architecture} only):
  $out/brisken/brisken_ver.php  ->  $base/brisken/brisken_ver.php
  $out/brisken/$exe  ->  $base/brisken/$exe
EOF
