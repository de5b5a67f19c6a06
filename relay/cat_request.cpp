#include "relay/cat_request.h"

#include <cstring>

#include "relay/relay_state.h"

namespace {

// Copies [begin, end) into a zero-filled field; false when it does not fit.
bool TakeField(const uint8_t* begin, const uint8_t* end, char (&field)[kCATFieldMax + 1]) {
    std::memset(field, 0, sizeof field);
    const size_t n = static_cast<size_t>(end - begin);
    if (n > static_cast<size_t>(kCATFieldMax)) return false;
    std::memcpy(field, begin, n);
    return true;  // the text ends at its first zero byte, if any
}

const uint8_t* Find(const uint8_t* begin, const uint8_t* end, uint8_t byte) {
    return static_cast<const uint8_t*>(std::memchr(begin, byte, static_cast<size_t>(end - begin)));
}

}  // namespace

CATRequest ParseCATRequest(const uint8_t* buf, int length) {
    CATRequest request;
    if (buf == nullptr || length <= 0) return request;
    const uint8_t* end = buf + length;
    const uint8_t* soh = Find(buf, end, kSOH);
    if (soh == nullptr) return request;
    const uint8_t* fs = Find(soh, end, kFS);
    if (fs == nullptr) return request;
    const uint8_t* etb = Find(fs + 1, end, kETB);
    if (etb == nullptr) return request;

    request.kind = CATRequest::Kind::Invalid;
    if (!TakeField(soh + 1, fs, request.address) || !TakeField(fs + 1, etb, request.port)) {
        return request;
    }
    if (request.address[0] == '\0') return request;
    for (const char* p = request.port; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return request;
    }
    request.kind = CATRequest::Kind::Connect;
    return request;
}

CATSessionEnd CATSessionEndRule(const uint8_t* buf, int length) {
    int esc = 0;
    int cr = 0;
    for (int i = 0; buf != nullptr && i < length && i < 5; ++i) {
        if (buf[i] == kESC) ++esc;
        if (buf[i] == kCR) ++cr;
    }
    if (esc >= 4) return CATSessionEnd::EscRun;
    if (cr >= 4) return CATSessionEnd::CrRun;
    return CATSessionEnd::None;
}

uint16_t VANPortNumber(const char* port) {
    uint32_t value = 0;
    for (const char* p = port; p != nullptr && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10u + static_cast<uint32_t>(*p - '0');
    }
    return static_cast<uint16_t>(value & 0xFFFFu);
}
