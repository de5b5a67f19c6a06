// The test server's TLS on Windows: the TLS front on the build machine
// (tests/support/windows/tls_front.sh) speaks TLS with the certificate and
// hands each connection on, as plain TCP, to the port named in its
// "<certificate>.backend" file; the server listens there. And trust in the test
// CA through the system's certificate store, which is all WinINet checks.
#include <windows.h>
// After windows.h, which it builds on.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>

#include "tests/support/http_server.h"

namespace {

std::string FrontFile(const std::string& name, const char* what) {
    return std::string(TALMIRA_TLS_FRONT_DIR) + "/" + name + what;
}

// One server per front at a time: a second would take the first one's connections.
std::mutex g_claimedMutex;
std::set<std::string> g_claimed;

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

// The machine's ROOT store itself, not the system store's collection: Wine
// carries a delete through the collection to nothing. The current user's
// ROOT would ask the user before it takes a CA on Windows; the machine's
// needs an administrator instead, which the user of a Wine prefix is.
Store OpenRootStore() {
    return Store(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                               CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
}

// The test CA's certificate as DER; empty when it cannot be read.
std::string TestCaDer() {
    std::ifstream in(TlsTestFile("test-ca.pem"), std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() ||
        !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return "";
    std::string der(size, '\0');
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &size,
                              nullptr, nullptr))
        return "";
    der.resize(size);
    return der;
}

}  // namespace

class TestTlsContext {
public:
    explicit TestTlsContext(std::string name) : m_name(std::move(name)) {
        std::ifstream in(FrontFile(m_name, ".port"));
        if (!(in >> m_frontPort) || m_frontPort <= 0)
            throw std::runtime_error("no TLS front for " + m_name +
                                     ".pem: ./run-tests.sh windows starts them");
        std::lock_guard lock(g_claimedMutex);
        if (!g_claimed.insert(m_name).second)
            throw std::runtime_error("the TLS front for " + m_name + ".pem serves another server");
    }
    ~TestTlsContext() {
        std::lock_guard lock(g_claimedMutex);
        g_claimed.erase(m_name);
    }
    TestTlsContext(const TestTlsContext&) = delete;
    TestTlsContext& operator=(const TestTlsContext&) = delete;

    int HandTo(int listenPort) {
        std::ofstream out(FrontFile(m_name, ".backend"), std::ios::trunc);
        if (!(out << listenPort << "\n") || !out.flush())
            throw std::runtime_error("cannot point the TLS front for " + m_name + ".pem here");
        return m_frontPort;
    }

private:
    std::string m_name;
    int m_frontPort = 0;
};

std::shared_ptr<TestTlsContext> MakeTestTlsContext(const std::string& certFile,
                                                   const std::string&) {
    std::string name = certFile.substr(certFile.find_last_of("/\\") + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pem") == 0)
        name.resize(name.size() - 4);
    return std::make_shared<TestTlsContext>(name);
}

int TestTlsClientPort(TestTlsContext& context, int listenPort) {
    return context.HandTo(listenPort);
}

std::unique_ptr<TestHttpLink> AcceptTestTls(TestTlsContext&, platform::TcpSocket& client) {
    return PlainTestLink(client);
}

TestCaTrust::TestCaTrust() {
    const std::string der = TestCaDer();
    if (der.empty()) throw std::runtime_error("cannot read " + TlsTestFile("test-ca.pem"));
    const Store store = OpenRootStore();
    if (!store || !CertAddEncodedCertificateToStore(
                      store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                      static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        throw std::runtime_error("the test CA does not go into the ROOT store");
}

TestCaTrust::~TestCaTrust() {
    const std::string der = TestCaDer();
    const Store store = OpenRootStore();
    const std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)> ca(
        der.empty() ? nullptr
                    : CertCreateCertificateContext(X509_ASN_ENCODING,
                                                   reinterpret_cast<const BYTE*>(der.data()),
                                                   static_cast<DWORD>(der.size())),
        &CertFreeCertificateContext);
    PCCERT_CONTEXT found = store && ca
                               ? CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                            CERT_FIND_EXISTING, ca.get(), nullptr)
                               : nullptr;
    // Deleting frees found. A CA left behind makes the untrusted-CA test fail.
    if (found == nullptr || !CertDeleteCertificateFromStore(found))
        std::fprintf(stderr, "the test CA could not be taken out of the ROOT store\n");
}
