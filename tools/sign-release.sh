#!/bin/sh
# Signs a release file for the update server and prints the value of the
# version answer's "sig": the base64 of the ECDSA P-256 / SHA-256 signature
# (DER) over "brisken <version>\n" followed by the file's bytes.
#   tools/sign-release.sh PRIVATE_KEY.pem VERSION FILE
# The key is the private half of the key the shop build carries
# (BRISKEN_UPDATE_PUBKEY); the version is the answer's "version", exactly.
set -eu
if [ $# -ne 3 ]; then
    echo "usage: $0 PRIVATE_KEY.pem VERSION FILE" >&2
    exit 2
fi
key=$1
version=$2
file=$3
if [ ! -s "$file" ]; then
    echo "$0: $file is missing or empty" >&2
    exit 1
fi
if [ -z "$version" ]; then
    echo "$0: the version is empty" >&2
    exit 1
fi
if ! openssl pkey -in "$key" -noout -text 2>/dev/null | grep -q prime256v1; then
    echo "$0: $key is not an EC P-256 private key" >&2
    exit 1
fi
sig=$({ printf 'brisken %s\n' "$version"; cat "$file"; } |
    openssl dgst -sha256 -sign "$key" -binary | openssl base64 -A)
printf '%s\n' "$sig"
