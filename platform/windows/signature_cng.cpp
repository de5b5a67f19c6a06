// Release signatures on Windows: crypt32 reads the PEM key, CNG hashes and
// verifies. CNG takes the signature as raw r||s, so the DER form is read here,
// as strictly as the Linux side reads it (minimal lengths and integers, nothing
// trailing), so a signature passes on both or on neither.
#include <windows.h>
// After windows.h, which they build on.
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

#include "platform/signature.h"

namespace platform {
namespace {

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct AlgDeleter {
    void operator()(void* h) const {
        if (h != nullptr) BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(h), 0);
    }
};
struct KeyDeleter {
    void operator()(void* h) const {
        if (h != nullptr) BCryptDestroyKey(static_cast<BCRYPT_KEY_HANDLE>(h));
    }
};
struct HashDeleter {
    void operator()(void* h) const {
        if (h != nullptr) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(h));
    }
};
struct LocalDeleter {
    void operator()(void* p) const { LocalFree(p); }
};

bool Ok(NTSTATUS status) { return status >= 0; }

// The DER of the PEM "PUBLIC KEY" block, wherever it stands among other
// blocks (as OpenSSL finds it); empty when there is none.
std::vector<BYTE> PemToDer(const std::string& pem) {
    constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----";
    constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
    const size_t begin = pem.find(kBegin);
    if (begin == std::string::npos) return {};
    const size_t body = begin + kBegin.size();
    const size_t end = pem.find(kEnd, body);
    if (end == std::string::npos) return {};
    const std::optional<std::string> der =
        DecodeBase64(std::string_view(pem).substr(body, end - body));
    if (!der) return {};
    return std::vector<BYTE>(der->begin(), der->end());
}

// X || Y of a P-256 public key given as SubjectPublicKeyInfo; empty for any
// other key.
std::vector<BYTE> P256Point(const std::vector<BYTE>& spki) {
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, spki.data(),
                             static_cast<DWORD>(spki.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &info, &size))
        return {};
    std::unique_ptr<void, LocalDeleter> owner(info);
    // The named curve prime256v1 (1.2.840.10045.3.1.7) as a DER object identifier.
    static const BYTE kP256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    const CRYPT_OBJID_BLOB& params = info->Algorithm.Parameters;
    if (info->Algorithm.pszObjId == nullptr ||
        std::strcmp(info->Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) != 0 ||
        params.cbData != sizeof kP256 || std::memcmp(params.pbData, kP256, sizeof kP256) != 0)
        return {};
    const CRYPT_BIT_BLOB& point = info->PublicKey;
    // Only the uncompressed form: 04, X, Y.
    if (point.cbData != 65 || point.cUnusedBits != 0 || point.pbData[0] != 0x04) return {};
    return std::vector<BYTE>(point.pbData + 1, point.pbData + 65);
}

// Reads one DER length at der[pos]; false unless it is the shortest form.
bool ReadLength(std::string_view der, size_t& pos, size_t& length) {
    if (pos >= der.size()) return false;
    const auto first = static_cast<unsigned char>(der[pos++]);
    if (first < 0x80) {
        length = first;
        return true;
    }
    if (first != 0x81 || pos >= der.size()) return false;  // a signature never needs more
    length = static_cast<unsigned char>(der[pos++]);
    return length >= 0x80;
}

// One positive, minimally encoded INTEGER of at most 32 significant bytes,
// left-padded into out[0..32).
bool ReadInteger(std::string_view der, size_t& pos, BYTE* out) {
    if (pos >= der.size() || der[pos++] != 0x02) return false;
    size_t length = 0;
    if (!ReadLength(der, pos, length) || length == 0 || length > der.size() - pos) return false;
    const auto* value = reinterpret_cast<const unsigned char*>(der.data() + pos);
    pos += length;
    if (value[0] & 0x80) return false;                                    // negative
    if (length > 1 && value[0] == 0 && !(value[1] & 0x80)) return false;  // not minimal
    if (value[0] == 0) {
        ++value;
        --length;
    }
    if (length > 32) return false;
    std::memset(out, 0, 32);
    std::memcpy(out + 32 - length, value, length);
    return true;
}

// r || s of a DER SEQUENCE { INTEGER r, INTEGER s } with nothing after it.
bool DerToRaw(std::string_view der, BYTE raw[64]) {
    size_t pos = 0;
    if (der.empty() || der[pos++] != 0x30) return false;
    size_t length = 0;
    if (!ReadLength(der, pos, length) || length != der.size() - pos) return false;
    return ReadInteger(der, pos, raw) && ReadInteger(der, pos, raw + 32) && pos == der.size();
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
    // Whole groups of four from the standard alphabet, '=' only as the last
    // one or two characters; blanks and line breaks between characters.
    std::string packed;
    for (const char c : text) {
        if (IsBlank(c)) continue;
        if (!IsBase64Char(c) && c != '=') return std::nullopt;
        packed += c;
    }
    if (packed.size() % 4 != 0) return std::nullopt;
    const size_t firstPad = packed.find('=');
    if (firstPad != std::string::npos &&
        (firstPad < packed.size() - 2 ||
         packed.find_first_not_of('=', firstPad) != std::string::npos))
        return std::nullopt;
    if (packed.empty()) return std::string();
    DWORD size = 0;
    if (!CryptStringToBinaryA(packed.c_str(), static_cast<DWORD>(packed.size()),
                              CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr))
        return std::nullopt;
    std::string out(size, '\0');
    if (!CryptStringToBinaryA(packed.c_str(), static_cast<DWORD>(packed.size()),
                              CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(out.data()), &size,
                              nullptr, nullptr))
        return std::nullopt;
    out.resize(size);
    return out;
}

struct SignatureVerifier::Impl {
    std::unique_ptr<void, AlgDeleter> ecdsa;
    std::unique_ptr<void, AlgDeleter> sha256;
    std::unique_ptr<void, KeyDeleter> key;
    std::unique_ptr<void, HashDeleter> hash;
    bool usable = false;
};

SignatureVerifier::SignatureVerifier(const std::string& publicKeyPem)
    : m_impl(std::make_unique<Impl>()) {
    const std::vector<BYTE> point = P256Point(PemToDer(publicKeyPem));
    if (point.size() != 64) return;

    BCRYPT_ALG_HANDLE ecdsa = nullptr;
    if (!Ok(BCryptOpenAlgorithmProvider(&ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return;
    m_impl->ecdsa.reset(ecdsa);
    std::vector<BYTE> blob(sizeof(BCRYPT_ECCKEY_BLOB) + point.size());
    auto* head = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    head->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    head->cbKey = 32;
    std::memcpy(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), point.data(), point.size());
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!Ok(BCryptImportKeyPair(ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                                static_cast<ULONG>(blob.size()), 0)))
        return;
    m_impl->key.reset(key);

    BCRYPT_ALG_HANDLE sha = nullptr;
    if (!Ok(BCryptOpenAlgorithmProvider(&sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
    m_impl->sha256.reset(sha);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!Ok(BCryptCreateHash(sha, &hash, nullptr, 0, nullptr, 0, 0))) return;
    m_impl->hash.reset(hash);
    m_impl->usable = true;
}

SignatureVerifier::~SignatureVerifier() = default;

bool SignatureVerifier::KeyUsable() const { return m_impl->usable; }

void SignatureVerifier::Update(const void* data, size_t size) {
    auto* bytes = static_cast<BYTE*>(const_cast<void*>(data));
    while (m_impl->usable && size > 0) {
        const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        if (!Ok(BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(m_impl->hash.get()), bytes, piece,
                               0)))
            m_impl->usable = false;
        bytes += piece;
        size -= piece;
    }
}

bool SignatureVerifier::Verify(std::string_view der) {
    if (!m_impl->usable) return false;
    m_impl->usable = false;
    BYTE raw[64];
    if (!DerToRaw(der, raw)) return false;
    BYTE digest[32];
    if (!Ok(BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(m_impl->hash.get()), digest,
                             sizeof digest, 0)))
        return false;
    return Ok(BCryptVerifySignature(static_cast<BCRYPT_KEY_HANDLE>(m_impl->key.get()), nullptr,
                                    digest, sizeof digest, raw, sizeof raw, 0));
}

}  // namespace platform
