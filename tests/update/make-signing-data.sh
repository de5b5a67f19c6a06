#!/bin/sh
# The signing script's run for the signature tests, on the build machine: a
# release key pair made as the README makes one, a release file, and what
# tools/sign-release.sh prints for it with its exit status.
#   make-signing-data.sh SIGN_RELEASE_SH OUT_DIR
set -eu
script=$1
out=$2
mkdir -p "$out"
cd "$out"
rm -f release-key.pem release-pub.pem brisken sig status
openssl ecparam -name prime256v1 -genkey -noout -out release-key.pem
openssl ec -in release-key.pem -pubout -out release-pub.pem 2>/dev/null
head -c 100000 /dev/urandom >brisken
status=0
env -i PATH=/usr/bin:/bin sh "$script" release-key.pem 2.0.0.7 brisken >sig || status=$?
echo "$status" >status
