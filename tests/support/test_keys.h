#pragma once
#include <string>

// EC P-256 key pairs and signatures made with libcrypto at test time, so no
// test ever holds a real release key.

struct TestKeyPair {
    std::string privatePem;  // PKCS#8 "PRIVATE KEY"
    std::string publicPem;   // "PUBLIC KEY"
};

// A fresh P-256 key pair (throws when libcrypto cannot make one).
TestKeyPair MakeTestKeyPair();

// The DER ECDSA / SHA-256 signature of bytes with the private key.
std::string SignDer(const std::string& privatePem, const std::string& bytes);

// Standard base64 with padding, on one line.
std::string Base64(const std::string& bytes);

// A release signature as the update server sends it: the base64 of the
// signature over "brisken <version>\n" followed by the file's bytes.
std::string ReleaseSig(const std::string& privatePem, const std::string& version,
                       const std::string& file);
