#pragma once
#include <string>

// Signed releases. A release is signed over the text "brisken <version>\n"
// followed by the file's bytes, so a file signed for one version cannot be
// offered under another. The signature is ECDSA P-256 / SHA-256 in DER, sent
// base64-encoded as the version answer's "sig".

// True when the file at path is not empty and sigBase64 is a good signature of
// it for version under publicKeyPem (PEM "PUBLIC KEY", EC P-256). Any thread.
bool ReleaseSignatureValid(const std::string& path, const std::string& version,
                           const std::string& sigBase64, const std::string& publicKeyPem);
