#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Standard base64 (A-Z a-z 0-9 + /, '=' padding to whole groups of four; line
// breaks and blanks between groups allowed) as bytes; nullopt for any other text.
std::optional<std::string> DecodeBase64(std::string_view text);

// Checks an ECDSA P-256 / SHA-256 signature over bytes given piece by piece.
// The key is a PEM "PUBLIC KEY" (SubjectPublicKeyInfo) of an EC P-256 key; the
// signature is DER (a SEQUENCE of r and s), as OpenSSL's dgst -sign writes it.
// One thread at a time per object.
class SignatureVerifier {
public:
    explicit SignatureVerifier(const std::string& publicKeyPem);
    ~SignatureVerifier();
    SignatureVerifier(const SignatureVerifier&) = delete;
    SignatureVerifier& operator=(const SignatureVerifier&) = delete;

    // False when the key is not an EC P-256 public key in PEM: nothing verifies then.
    bool KeyUsable() const;
    // Adds the next bytes of the signed text.
    void Update(const void* data, size_t size);
    // True only when der is a well-formed signature, made with the key's private
    // half, over exactly the bytes given so far. Call once, after the last Update.
    bool Verify(std::string_view der);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
