#include "update/release_signature.h"

#include <fstream>
#include <vector>

#include "platform/signature.h"
#include "platform/system.h"

bool ReleaseSignatureValid(const std::string& path, const std::string& version,
                           const std::string& sigBase64, const std::string& publicKeyPem) {
    const std::optional<std::string> der = platform::DecodeBase64(sigBase64);
    if (!der || der->empty()) return false;
    platform::SignatureVerifier verifier(publicKeyPem);
    if (!verifier.KeyUsable()) return false;

    std::ifstream in(platform::FsPath(path), std::ios::binary);
    if (!in) return false;
    const std::string prefix = "brisken " + version + "\n";
    verifier.Update(prefix.data(), prefix.size());
    std::vector<char> buf(64 * 1024);
    size_t total = 0;
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto n = static_cast<size_t>(in.gcount());
        verifier.Update(buf.data(), n);
        total += n;
    }
    // A read error ends the loop early with bad() set; a short file is not the signed one.
    if (in.bad() || total == 0) return false;
    return verifier.Verify(*der);
}
