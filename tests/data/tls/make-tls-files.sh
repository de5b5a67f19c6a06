#!/bin/sh
# Makes the TLS files of the HTTPS tests: a test CA that only the tests trust,
# a server certificate for 127.0.0.1 issued by it, and a stranger's self-signed
# certificate for 127.0.0.1 that nothing trusts. Valid from 2000 to 2100, so a
# machine's clock never makes them "not yet valid". 127.0.0.1 stands in the
# server certificates both as an address and as a DNS name: Wine's check of a
# server's name matches DNS names only. For tests only.
#   tests/data/tls/make-tls-files.sh      (writes into its own folder)
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/index.txt"
cat >"$work/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $work/index.txt
new_certs_dir = $work
serial = $work/serial
default_md = sha256
policy = any
unique_subject = no
email_in_dn = no
copy_extensions = none
[any]
commonName = supplied
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost
authorityKeyIdentifier = keyid
CNF

# sign NAME KEY SUBJECT EXTENSIONS [ISSUER ISSUER_KEY]: a certificate from 2000 to 2100.
sign() {
    echo 01 >"$work/serial"
    openssl req -new -key "$2" -subj "$3" -out "$work/$1.csr"
    if [ $# -eq 4 ]; then
        openssl ca -batch -config "$work/ca.cnf" -selfsign -keyfile "$2" -extensions "$4" \
            -startdate 20000101000000Z -enddate 21000101000000Z -in "$work/$1.csr" -out "$work/$1.pem"
    else
        openssl ca -batch -config "$work/ca.cnf" -cert "$5" -keyfile "$6" -extensions "$4" \
            -startdate 20000101000000Z -enddate 21000101000000Z -in "$work/$1.csr" -out "$work/$1.pem"
    fi
    openssl x509 -in "$work/$1.pem" -out "$1.pem"
    : >"$work/index.txt"
}

for k in test-ca server stranger; do openssl ecparam -name prime256v1 -genkey -noout -out "$k-key.pem"; done
sign test-ca test-ca-key.pem "/CN=Talmira test CA" ca_ext
sign server server-key.pem "/CN=127.0.0.1" server_ext test-ca.pem test-ca-key.pem
sign stranger stranger-key.pem "/CN=127.0.0.1" server_ext
rm -f test-ca-key.pem   # nothing more is issued; the next run makes a new CA
