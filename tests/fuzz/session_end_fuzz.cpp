// The ESC / CR run that ends a session while the VAN link is up.
#include <algorithm>

#include "relay/cat_request.h"
#include "tests/fuzz/fuzz_check.h"

void FuzzSessionEnd(const uint8_t* data, size_t size) {
    const int length = static_cast<int>(std::min<size_t>(size, 1 + 2048));
    const CATSessionEnd end = CATSessionEndRule(data, length);
    const int head = std::min(length, 5);
    const auto esc = std::count(data, data + head, 0x1B);
    const auto cr = std::count(data, data + head, 0x0D);
    if (esc >= 4) {
        FUZZ_CHECK(end == CATSessionEnd::EscRun);
    } else if (cr >= 4) {
        FUZZ_CHECK(end == CATSessionEnd::CrRun);
    } else {
        FUZZ_CHECK(end == CATSessionEnd::None);  // forwarded as data
    }
    // Only the first five bytes decide: whatever follows never ends a session.
    if (length > 5) FUZZ_CHECK(CATSessionEndRule(data, 5) == end);
}

TALMIRA_FUZZ_TARGET(FuzzSessionEnd)
