#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// One HTTP GET, streamed to callbacks. Any thread; each call has its own handle.
// Every request goes through the system's proxy settings: WinINet's
// preconfigured access on Windows, libcurl's environment rules (http_proxy,
// https_proxy, no_proxy, ...) on Linux.
struct HttpRequest {
    std::string url;
    std::string userAgent;
    int connectTimeoutMs = 5000;
    int totalTimeoutMs = 0;       // 0: no limit on the whole request
    int lowSpeedBytesPerSec = 0;  // with lowSpeedSeconds: abandon a transfer slower
    int lowSpeedSeconds = 0;      //   than this for that long (0: never)
    // HTTPS trusts the system's certificate store; a PEM file named here is
    // trusted instead (tests only - the program never sets it; Linux only:
    // WinINet takes none, and a request that names one fails). A server the
    // trust does not cover fails like an unreachable one.
    std::string caFile;
    const std::atomic<bool>* stop = nullptr;  // polled; true aborts the transfer
    // Called once the answer's head has arrived: its status and its announced
    // length (-1 when it has none). Returning false ends the transfer.
    std::function<bool(long status, int64_t contentLength)> onHead;
    // Called for every piece of the body. Returning false ends the transfer.
    std::function<bool(const char* data, size_t size)> onData;
};

enum class HttpOutcome {
    Complete,  // the answer arrived and its transfer ended cleanly
    Ended,     // a callback ended the transfer on purpose
    Stopped,   // *stop became true
    Failed,    // no answer or a broken transfer (see error)
};

struct HttpResult {
    HttpOutcome outcome = HttpOutcome::Failed;
    long status = 0;    // HTTP status, 0 when no answer came
    std::string error;  // what went wrong, for logs and tests
};

HttpResult HttpGet(const HttpRequest& request);

}  // namespace platform
