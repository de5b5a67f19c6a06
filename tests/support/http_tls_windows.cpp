// The Windows test build has no TLS library of its own for the test server yet;
// a test that asks for HTTPS there fails loudly instead of testing plain HTTP.
#include <stdexcept>

#include "tests/support/http_server.h"

class TestTlsContext {};

std::shared_ptr<TestTlsContext> MakeTestTlsContext(const std::string&, const std::string&) {
    throw std::runtime_error("the Windows test build has no TLS test server");
}

std::unique_ptr<TestHttpLink> AcceptTestTls(TestTlsContext&, platform::TcpSocket&) {
    return nullptr;
}
