// The terminal's connection request: recogniser, field checks, address and port.
#include <cstring>
#include <string>

#include "platform/tcp_socket.h"
#include "relay/cat_request.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The field as the relay holds it: at most 31 bytes, ending at the first zero.
std::string AsText(const std::string& field) { return field.substr(0, field.find('\0')); }

bool Terminated(const char (&field)[kCATFieldMax + 1]) {
    return std::memchr(field, '\0', sizeof field) != nullptr;
}

}  // namespace

void FuzzCATRequest(const uint8_t* data, size_t size) {
    // Exactly the input's bytes: a read past them is caught by the sanitizer.
    const int length = static_cast<int>(size);
    const CATRequest r = ParseCATRequest(data, length);
    FUZZ_CHECK(Terminated(r.address) && Terminated(r.port));

    const std::string buf(reinterpret_cast<const char*>(data), size);
    const size_t soh = buf.find('\x01');
    const size_t fs = soh == std::string::npos ? soh : buf.find('\x1C', soh);
    const size_t etb = fs == std::string::npos ? fs : buf.find('\x17', fs + 1);
    if (etb == std::string::npos) {
        FUZZ_CHECK(r.kind == CATRequest::Kind::None);
        return;
    }
    FUZZ_CHECK(r.kind != CATRequest::Kind::None);
    const std::string address = buf.substr(soh + 1, fs - soh - 1);
    const std::string port = buf.substr(fs + 1, etb - fs - 1);
    const bool fits = address.size() <= kCATFieldMax && port.size() <= kCATFieldMax;
    const bool digits = AsText(port).find_first_not_of("0123456789") == std::string::npos;
    const bool valid = fits && !AsText(address).empty() && digits;
    FUZZ_CHECK(valid == (r.kind == CATRequest::Kind::Connect));
    if (!valid) return;
    FUZZ_CHECK(AsText(address) == r.address && AsText(port) == r.port);

    // The port is the decimal number modulo 2^16; the address any text the
    // address reader takes or refuses, never a fault.
    uint32_t expected = 0;
    for (const char* p = r.port; *p != '\0'; ++p) expected = (expected * 10 + (*p - '0')) % 65536u;
    FUZZ_CHECK(VANPortNumber(r.port) == expected);
    uint32_t ip = 0;
    platform::ParseIPv4(r.address, &ip);
}

TALMIRA_FUZZ_TARGET(FuzzCATRequest)
