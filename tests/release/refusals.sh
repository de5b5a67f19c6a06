#!/bin/sh
# What tools/make-release.sh refuses, before it builds anything: each case
# fails with its reason, makes no release folder and no build folder, and
# leaves an existing release folder as it was. The build refuses a version
# that is not four numbers as well.
#   refusals.sh tools/make-release.sh
set -eu
make_release=$1
src=$(cd "$(dirname "$make_release")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
RELEASE_BUILD_DIR=$work/build
export RELEASE_BUILD_DIR

openssl ecparam -name prime256v1 -genkey -noout -out "$work/p256.pem"
openssl ecparam -name secp384r1 -genkey -noout -out "$work/p384.pem"
# Code-signing certificates with an RSA and an ECC key, as PKCS#12.
printf 'pw\n' >"$work/pass"
for kind in rsa ec; do
    set -- -newkey rsa:2048
    [ $kind = rsa ] || set -- -newkey ec -pkeyopt ec_paramgen_curve:P-256
    openssl req -x509 "$@" -nodes -keyout "$work/$kind.key" -out "$work/$kind.pem" -days 2 \
        -subj "/CN=Talmira Test sign" 2>/dev/null
    openssl pkcs12 -export -inkey "$work/$kind.key" -in "$work/$kind.pem" -passout "file:$work/pass" \
        -out "$work/$kind.p12"
done
mkdir "$work/existing"
echo kept >"$work/existing/brisken_ver.php"

failed=0
# out | what the message says | arguments after --out
while IFS='|' read -r out says args; do
    [ -n "$out" ] || continue
    # shellcheck disable=SC2086
    if sh "$make_release" --out "$work/$out" $args >"$work/out" 2>"$work/err"; then
        echo "FAIL: $args: accepted"
        failed=1
    elif ! grep -q -- "$says" "$work/err"; then
        echo "FAIL: $args: said: $(cat "$work/err")"
        failed=1
    elif [ "$out" != existing ] && [ -e "$work/$out" ] || [ -e "$work/build" ]; then
        echo "FAIL: $args: left a folder behind"
        failed=1
    fi
done <<EOF
r1|is not four dot-separated numbers|--platform linux --version 2.0.0 --host 127.0.0.1:8 --key $work/p256.pem
r2|is not four dot-separated numbers|--platform linux --version 2.0.0.7a --host 127.0.0.1:8 --key $work/p256.pem
r3|is not four dot-separated numbers|--platform linux --version 2.0.0.07 --host 127.0.0.1:8 --key $work/p256.pem
r4|is above 65535|--platform linux --version 2.0.0.70000 --host 127.0.0.1:8 --key $work/p256.pem
r5|is not an unencrypted EC P-256|--platform linux --version 2.0.0.7 --host 127.0.0.1:8 --key $work/p384.pem
r6|--cert CERT.p12 is missing|--platform windows --version 2.0.0.7 --host 127.0.0.1:8 --key $work/p256.pem
r7|are for a Windows release|--platform linux --version 2.0.0.7 --host 127.0.0.1:8 --key $work/p256.pem --cert $work/p256.pem
r8|is not \[http|--platform linux --version 2.0.0.7 --host 127.0.0.1:8/x"y --key $work/p256.pem
r9|not RSA: Windows 11's Smart App Control|--platform windows --version 2.0.0.7 --host 127.0.0.1:8 --key $work/p256.pem --cert $work/ec.p12 --cert-password-file $work/pass
r10|--arch is x86 or x64|--platform windows --version 2.0.0.7 --host 127.0.0.1:8 --key $work/p256.pem --cert $work/rsa.p12 --cert-password-file $work/pass --arch arm64
r11|--arch is for a Windows release|--platform linux --version 2.0.0.7 --host 127.0.0.1:8 --key $work/p256.pem --arch x86
existing|exists already|--platform linux --version 2.0.0.7 --host 127.0.0.1:8 --key $work/p256.pem
EOF
if [ "$(cat "$work/existing/brisken_ver.php")" != kept ] || [ "$(ls "$work/existing")" != brisken_ver.php ]; then
    echo "FAIL: the existing release folder was changed"
    failed=1
fi

# The build itself: configure stops before anything else.
if cmake -S "$src" -B "$work/configure" -DBRISKEN_VERSION=2.0.0 >"$work/out" 2>&1; then
    echo "FAIL: configure took BRISKEN_VERSION=2.0.0"
    failed=1
elif ! grep -q "is not four dot-separated numbers" "$work/out"; then
    echo "FAIL: configure said: $(cat "$work/out")"
    failed=1
fi
[ $failed -eq 0 ] && echo "make-release and the build refuse every case"
exit $failed
