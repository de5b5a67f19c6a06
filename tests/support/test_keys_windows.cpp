// Test key pairs and signatures on CNG, for the Windows test build (which has
// no libcrypto): a fresh P-256 pair, its public half written as a PEM
// SubjectPublicKeyInfo the way OpenSSL writes one, and signatures turned from
// CNG's r || s into DER.
#include <windows.h>
// After windows.h, which they build on.
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/support/test_keys.h"

namespace {

struct AlgCloser {
    void operator()(void* h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct KeyCloser {
    void operator()(void* h) const { BCryptDestroyKey(h); }
};
struct HashCloser {
    void operator()(void* h) const { BCryptDestroyHash(h); }
};
struct LocalCloser {
    void operator()(void* p) const { LocalFree(p); }
};
using Alg = std::unique_ptr<void, AlgCloser>;
using Key = std::unique_ptr<void, KeyCloser>;

void Check(NTSTATUS status, const char* what) {
    if (status < 0) throw std::runtime_error(std::string("test keys: ") + what + " failed");
}

Alg OpenAlgorithm(const wchar_t* name) {
    BCRYPT_ALG_HANDLE h = nullptr;
    Check(BCryptOpenAlgorithmProvider(&h, name, nullptr, 0), "BCryptOpenAlgorithmProvider");
    return Alg(h);
}

std::string Export(BCRYPT_KEY_HANDLE key, const wchar_t* type) {
    ULONG size = 0;
    Check(BCryptExportKey(key, nullptr, type, nullptr, 0, &size, 0), "BCryptExportKey");
    std::string blob(size, '\0');
    Check(
        BCryptExportKey(key, nullptr, type, reinterpret_cast<PUCHAR>(blob.data()), size, &size, 0),
        "BCryptExportKey");
    blob.resize(size);
    return blob;
}

// The PEM "PUBLIC KEY" of an exported BCRYPT_ECCPUBLIC_BLOB.
std::string PublicPem(const std::string& blob) {
    std::string point = "\x04" + blob.substr(sizeof(BCRYPT_ECCKEY_BLOB));
    // The named curve prime256v1 as the algorithm's parameters.
    static BYTE curve[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    CERT_PUBLIC_KEY_INFO info = {};
    info.Algorithm.pszObjId = const_cast<char*>(szOID_ECC_PUBLIC_KEY);
    info.Algorithm.Parameters = {sizeof curve, curve};
    info.PublicKey = {static_cast<DWORD>(point.size()), reinterpret_cast<BYTE*>(point.data()), 0};
    BYTE* der = nullptr;
    DWORD size = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info,
                             CRYPT_ENCODE_ALLOC_FLAG, nullptr, &der, &size))
        throw std::runtime_error("test keys: CryptEncodeObjectEx failed");
    const std::unique_ptr<void, LocalCloser> owner(der);
    const std::string body = Base64(std::string(reinterpret_cast<char*>(der), size));
    std::string pem = "-----BEGIN PUBLIC KEY-----\n";
    for (size_t i = 0; i < body.size(); i += 64) pem += body.substr(i, 64) + "\n";
    return pem + "-----END PUBLIC KEY-----\n";
}

std::string Sha256(const std::string& bytes) {
    const Alg sha = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
    BCRYPT_HASH_HANDLE h = nullptr;
    Check(BCryptCreateHash(sha.get(), &h, nullptr, 0, nullptr, 0, 0), "BCryptCreateHash");
    const std::unique_ptr<void, HashCloser> hash(h);
    std::string copy = bytes;
    Check(BCryptHashData(h, reinterpret_cast<PUCHAR>(copy.data()), static_cast<ULONG>(copy.size()),
                         0),
          "BCryptHashData");
    std::string digest(32, '\0');
    Check(BCryptFinishHash(h, reinterpret_cast<PUCHAR>(digest.data()), 32, 0), "BCryptFinishHash");
    return digest;
}

// One DER INTEGER of an unsigned big-endian number: shortest form, a zero
// byte ahead when the top bit is set.
std::string DerInteger(std::string value) {
    const size_t first = value.find_first_not_of('\0');
    value = first == std::string::npos ? std::string(1, '\0') : value.substr(first);
    if (static_cast<unsigned char>(value[0]) & 0x80) value.insert(value.begin(), '\0');
    return std::string("\x02") + static_cast<char>(value.size()) + value;
}

}  // namespace

TestKeyPair MakeTestKeyPair() {
    const Alg ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_KEY_HANDLE h = nullptr;
    Check(BCryptGenerateKeyPair(ecdsa.get(), &h, 256, 0), "BCryptGenerateKeyPair");
    const Key key(h);
    Check(BCryptFinalizeKeyPair(h, 0), "BCryptFinalizeKeyPair");
    return {Export(h, BCRYPT_ECCPRIVATE_BLOB), PublicPem(Export(h, BCRYPT_ECCPUBLIC_BLOB))};
}

std::string SignDer(const std::string& privateKey, const std::string& bytes) {
    const Alg ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    std::string blob = privateKey;
    BCRYPT_KEY_HANDLE h = nullptr;
    Check(BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &h,
                              reinterpret_cast<PUCHAR>(blob.data()),
                              static_cast<ULONG>(blob.size()), 0),
          "BCryptImportKeyPair");
    const Key key(h);
    std::string digest = Sha256(bytes);
    std::string raw(64, '\0');
    ULONG size = 0;
    Check(BCryptSignHash(h, nullptr, reinterpret_cast<PUCHAR>(digest.data()), 32,
                         reinterpret_cast<PUCHAR>(raw.data()), 64, &size, 0),
          "BCryptSignHash");
    const std::string body = DerInteger(raw.substr(0, 32)) + DerInteger(raw.substr(32, 32));
    return std::string("\x30") + static_cast<char>(body.size()) + body;
}

std::string Base64(const std::string& bytes) {
    if (bytes.empty()) return "";
    const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD size = 0;
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size))
        throw std::runtime_error("test keys: CryptBinaryToStringA failed");
    std::string out(size, '\0');
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, out.data(), &size))
        throw std::runtime_error("test keys: CryptBinaryToStringA failed");
    out.resize(size);
    return out;
}
