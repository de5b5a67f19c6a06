#!/bin/sh
# A release end to end, as the people who ship make one and as a shop takes
# it up: a test release key (and for Windows a test CA with a code-signing
# certificate and a time-stamp server, lighttpd running openssl ts), the
# shop build 2.0.0.6 and the release 2.0.0.7 made by tools/make-release.sh,
# the release folder served as it stands by lighttpd on 127.0.0.1, and the
# watcher, which installs and starts the 2.0.0.6 build and sees the program
# replace itself and come back as 2.0.0.7.
#   release_e2e.sh linux|windows PORT SHOP_BUILD_DIR WATCHER [EMULATOR]
set -eu
platform=$1
port=$2
RELEASE_BUILD_DIR=$3
watcher=$4
emulator=${5:-}
export RELEASE_BUILD_DIR
tools=$(cd "$(dirname "$0")/../../tools" && pwd)

work=$(mktemp -d)
server=""
cleanup() {
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    [ -z "$server" ] || wait "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
step() { echo "release_e2e: $*"; }

openssl ecparam -name prime256v1 -genkey -noout -out "$work/release-key.pem"
mkdir "$work/www"
set --
if [ "$platform" = windows ]; then
    # A test CA; a code-signing certificate it issued, exported with the
    # chain as PKCS#12 whose password sits in a file; a time-stamp server's
    # certificate it issued, for openssl ts behind the test's web server.
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" \
        -days 2 -subj "/CN=Talmira Test CA" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    serial=1
    for role in sign:codeSigning tsa:critical,timeStamping; do
        name=${role%%:*}
        serial=$((serial + 1))
        openssl req -newkey rsa:2048 -nodes -keyout "$work/$name.key" -out "$work/$name.csr" \
            -subj "/CN=Talmira Test $name" 2>/dev/null
        printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "${role#*:}" >"$work/$name.ext"
        openssl x509 -req -in "$work/$name.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
            -set_serial $serial -days 2 -extfile "$work/$name.ext" -out "$work/$name.pem" 2>/dev/null
    done
    printf 'a test password\n' >"$work/password"
    openssl pkcs12 -export -inkey "$work/sign.key" -in "$work/sign.pem" -certfile "$work/ca.pem" \
        -passout "file:$work/password" -out "$work/sign.p12"
    echo 01 >"$work/tsa.serial"
    cat >"$work/tsa.cnf" <<EOF
[ tsa ]
default_tsa = test_tsa
[ test_tsa ]
serial = $work/tsa.serial
signer_cert = $work/tsa.pem
signer_key = $work/tsa.key
certs = $work/ca.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
EOF
    cat >"$work/www/tsa.cgi" <<EOF
printf 'Content-Type: application/timestamp-reply\r\n\r\n'
exec openssl ts -reply -config "$work/tsa.cnf" -queryfile /dev/stdin -out /dev/stdout 2>/dev/null
EOF
    set -- --cert "$work/sign.p12" --cert-password-file "$work/password" --arch "${RELEASE_ARCH:-x86}"
fi

cat >"$work/lighttpd.conf" <<EOF
server.modules += ( "mod_cgi" )
server.document-root = "$work/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/lighttpd-error.log"
cgi.assign = ( ".cgi" => "/bin/sh" )
mimetype.assign = ( "" => "application/octet-stream" )
EOF
lighttpd -D -f "$work/lighttpd.conf" &
server=$!
tries=0
until grep -q "server started" "$work/lighttpd-error.log" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$server" 2>/dev/null; then
        cat "$work/lighttpd-error.log" 2>/dev/null || true
        echo "release_e2e: lighttpd did not start" >&2
        exit 1
    fi
    sleep 0.1
done

for version in 2.0.0.6 2.0.0.7; do
    step "making release $version"
    # The release, not the build a shop starts from, is time-stamped.
    [ "$platform:$version" != windows:2.0.0.7 ] || set -- "$@" --timestamp "http://127.0.0.1:$port/tsa.cgi"
    start=$(date +%s)
    "$tools/make-release.sh" --platform "$platform" --version "$version" --host "127.0.0.1:$port" \
        --key "$work/release-key.pem" --out "$work/release-$version" "$@"
    step "release $version made in $(($(date +%s) - start)) s (load: $(cut -d' ' -f1-3 /proc/loadavg))"
done
exe=brisken
[ "$platform" = linux ] || exe=brisken.exe
served=$work/release-2.0.0.7/brisken/$exe
grep -q '^{"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1:'"$port"'/brisken/'"$exe"'","sig":"[A-Za-z0-9+/=]*"}$' \
    "$work/release-2.0.0.7/brisken/brisken_ver.php"
if [ "$platform" = windows ]; then
    osslsigncode verify -CAfile "$work/ca.pem" -TSA-CAfile "$work/ca.pem" -in "$served" \
        >"$work/verify.log" 2>&1 || { cat "$work/verify.log"; exit 1; }
    grep -q "Timestamp Server Signature verification: ok" "$work/verify.log" ||
        { cat "$work/verify.log"; exit 1; }
    step "osslsigncode verify passes against the test CA, time stamp included"
    format=pei-i386
    [ "${RELEASE_ARCH:-x86}" = x86 ] || format=pei-x86-64
    x86_64-w64-mingw32-objdump -f "$served" | grep "file format $format\$"
fi
# The release folder uploaded to the server's web root.
cp -R "$work/release-2.0.0.7/brisken" "$work/www/"

step "the 2.0.0.6 shop build takes up the release"
host_path() { if [ -n "$emulator" ]; then echo "Z:$1"; else echo "$1"; fi; }
RELEASE_OLD_EXE=$(host_path "$work/release-2.0.0.6/brisken/$exe")
RELEASE_NEW_EXE=$(host_path "$served")
export RELEASE_OLD_EXE RELEASE_NEW_EXE
# shellcheck disable=SC2086
$emulator "$watcher"
