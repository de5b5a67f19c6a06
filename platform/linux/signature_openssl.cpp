#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstring>

#include "platform/signature.h"

namespace platform {
namespace {

struct PkeyDeleter {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct BioDeleter {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct EncodeCtxDeleter {
    void operator()(EVP_ENCODE_CTX* c) const { EVP_ENCODE_CTX_free(c); }
};

bool IsBase64Text(std::string_view text) {
    for (const char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=' || c == ' ' ||
                        c == '\t' || c == '\r' || c == '\n';
        if (!ok) return false;
    }
    return true;
}

std::unique_ptr<EVP_PKEY, PkeyDeleter> ReadP256PublicKey(const std::string& pem) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return nullptr;
    std::unique_ptr<EVP_PKEY, PkeyDeleter> key(
        PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || !EVP_PKEY_is_a(key.get(), "EC")) return nullptr;
    char group[64] = {};
    size_t len = 0;
    if (EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                       &len) != 1 ||
        std::strcmp(group, "prime256v1") != 0)
        return nullptr;
    return key;
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
    // The decoder itself stops quietly at a '-' and skips what follows; only
    // the alphabet, padding and white space are base64 here.
    if (!IsBase64Text(text)) return std::nullopt;
    std::unique_ptr<EVP_ENCODE_CTX, EncodeCtxDeleter> ctx(EVP_ENCODE_CTX_new());
    if (!ctx) return std::nullopt;
    EVP_DecodeInit(ctx.get());
    std::string out(text.size() / 4 * 3 + 3, '\0');
    int n = 0;
    int tail = 0;
    auto* buf = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_DecodeUpdate(ctx.get(), buf, &n, reinterpret_cast<const unsigned char*>(text.data()),
                         static_cast<int>(text.size())) < 0 ||
        EVP_DecodeFinal(ctx.get(), buf + n, &tail) < 0)
        return std::nullopt;
    out.resize(static_cast<size_t>(n + tail));
    return out;
}

struct SignatureVerifier::Impl {
    std::unique_ptr<EVP_PKEY, PkeyDeleter> key;
    std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx;
    bool usable = false;
};

SignatureVerifier::SignatureVerifier(const std::string& publicKeyPem)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->key = ReadP256PublicKey(publicKeyPem);
    m_impl->ctx.reset(EVP_MD_CTX_new());
    m_impl->usable = m_impl->key && m_impl->ctx &&
                     EVP_DigestVerifyInit(m_impl->ctx.get(), nullptr, EVP_sha256(), nullptr,
                                          m_impl->key.get()) == 1;
    // What a refused key left in this thread's error queue must not show up
    // in the next TLS failure's text.
    if (!m_impl->usable) ERR_clear_error();
}

SignatureVerifier::~SignatureVerifier() = default;

bool SignatureVerifier::KeyUsable() const { return m_impl->usable; }

void SignatureVerifier::Update(const void* data, size_t size) {
    if (m_impl->usable && EVP_DigestVerifyUpdate(m_impl->ctx.get(), data, size) != 1) {
        m_impl->usable = false;
        ERR_clear_error();
    }
}

bool SignatureVerifier::Verify(std::string_view der) {
    if (!m_impl->usable || der.empty()) return false;
    m_impl->usable = false;
    // OpenSSL re-encodes the parsed signature and compares, so only strict DER
    // without trailing bytes passes.
    const bool good =
        EVP_DigestVerifyFinal(m_impl->ctx.get(), reinterpret_cast<const unsigned char*>(der.data()),
                              der.size()) == 1;
    ERR_clear_error();
    return good;
}

}  // namespace platform
