#pragma once
#include <string>

// EC P-256 key pairs and signatures made at test time (libcrypto on Linux,
// CNG on Windows), so no test ever holds a real release key.

struct TestKeyPair {
    std::string
        privateKey;         // as SignDer takes it: PKCS#8 PEM (Linux), a CNG private blob (Windows)
    std::string publicPem;  // "PUBLIC KEY", as OpenSSL writes it
};

// A fresh P-256 key pair (throws when none can be made).
TestKeyPair MakeTestKeyPair();

// The DER ECDSA / SHA-256 signature of bytes with the private key, as
// OpenSSL's dgst -sign writes it.
std::string SignDer(const std::string& privateKey, const std::string& bytes);

// Standard base64 with padding, on one line.
std::string Base64(const std::string& bytes);

// A release signature as the update server sends it: the base64 of the
// signature over "brisken <version>\n" followed by the file's bytes.
inline std::string ReleaseSig(const std::string& privateKey, const std::string& version,
                              const std::string& file) {
    return Base64(SignDer(privateKey, "brisken " + version + "\n" + file));
}
