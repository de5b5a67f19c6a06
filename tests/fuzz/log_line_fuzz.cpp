// The traffic log's line formatter.
#include <string>

#include "log/traffic_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

int Nibble(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

}  // namespace

// Input: kind, hour, minute, second, two bytes of milliseconds, a length
// switch, then the data (for an event, its text).
void FuzzLogLine(const uint8_t* data, size_t size) {
    if (size < 8) return;
    const auto kind = static_cast<TrafficKind>(1 + data[0] % 5);
    platform::LocalTime t;
    t.year = 2026; t.month = 12; t.day = 9;
    t.hour = data[1] % 24;
    t.minute = data[2] % 60;
    t.second = data[3] % 60;
    t.millisecond = (data[4] << 8 | data[5]) % 1000;
    const std::string bytes(reinterpret_cast<const char*>(data + 8), size - 8);
    const int length = (data[6] & 1) ? -static_cast<int>(data[7]) : static_cast<int>(bytes.size());

    const bool event = kind == TrafficKind::Event;
    const std::string line =
        FormatTrafficLine(kind, event ? static_cast<const void*>(bytes.c_str()) : bytes.data(), length, t);

    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d > ", t.hour, t.minute, t.second,
                  t.millisecond);
    FUZZ_CHECK(line.rfind(prefix, 0) == 0);
    // One call, one line: its only line break is the CR LF that ends it.
    FUZZ_CHECK(line.size() >= 3 && line.compare(line.size() - 3, 3, "]\r\n") == 0);
    FUZZ_CHECK(line.find_first_of("\r\n") == line.size() - 2);

    // The shown data follows the last "] [" of the head: the first of an
    // event's, the second of a data line's.
    const size_t first = line.find("] [");
    FUZZ_CHECK(first != std::string::npos);
    const size_t open = (event ? first : line.find("] [", first + 1)) + 3;
    const std::string shown = line.substr(open, line.size() - 3 - open);
    if (event) {
        // The text up to its first zero byte, byte for byte, control bytes
        // shown as '?'.
        const std::string text = bytes.substr(0, bytes.find('\0'));
        FUZZ_CHECK(shown.size() == text.size());
        for (size_t i = 0; i < text.size() && i < shown.size(); ++i) {
            const auto b = static_cast<unsigned char>(text[i]);
            FUZZ_CHECK(shown[i] == ((b < 0x20 || b == 0x7F) ? '?' : text[i]));
        }
        return;
    }
    // The bytes back from their hex dump, all of them, in order.
    const std::string expected = length > 0 ? bytes : std::string();
    FUZZ_CHECK(shown.size() == expected.size() * 2);
    for (size_t i = 0; i < expected.size() && 2 * i + 1 < shown.size(); ++i) {
        const int b = Nibble(shown[2 * i]) << 4 | Nibble(shown[2 * i + 1]);
        FUZZ_CHECK(b == static_cast<unsigned char>(expected[i]));
    }
}

TALMIRA_FUZZ_TARGET(FuzzLogLine)
