#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/windows/text.h"

namespace platform {

namespace {

constexpr DWORD kReceiveSliceMs = 1000;

// WinINet calls block; the bounds of a request (whole time, low speed, a stop)
// are kept by a watchdog that closes the request's handles, which ends any
// call blocked on them. The driver's own receive time-out backs it up.
class Watchdog {
public:
    Watchdog(const HttpRequest& request, HINTERNET session)
        : m_request(request), m_session(session), m_start(MonotonicMs()) {
        m_windowStart = m_start;
        m_thread = std::thread([this] { Run(); });
    }
    ~Watchdog() { Finish(); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void SetRequest(HINTERNET handle) {
        std::lock_guard lock(m_mutex);
        m_url = handle;
    }
    void Received(size_t n) {
        std::lock_guard lock(m_mutex);
        m_bytes += static_cast<int64_t>(n);
    }
    // Why the watchdog closed the handles (nullptr when it did not).
    const char* Reason() {
        std::lock_guard lock(m_mutex);
        return m_reason;
    }
    bool Stopped() {
        std::lock_guard lock(m_mutex);
        return m_stopped;
    }
    // Ends the watch; afterwards the handles are the caller's to close (the
    // ones the watchdog closed are forgotten: closed() tells).
    void Finish() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }
    bool Closed() {
        std::lock_guard lock(m_mutex);
        return m_closed;
    }

private:
    void Run() {
        std::unique_lock lock(m_mutex);
        while (!m_done) {
            m_wake.wait_for(lock, std::chrono::milliseconds(100));
            if (m_done) return;
            const int64_t now = MonotonicMs();
            const char* reason = nullptr;
            if (m_request.stop != nullptr && m_request.stop->load()) {
                reason = "stopped";
                m_stopped = true;
            } else if (m_request.totalTimeoutMs > 0 && now - m_start >= m_request.totalTimeoutMs) {
                reason = "the request took too long";
            } else if (m_request.lowSpeedBytesPerSec > 0 && m_request.lowSpeedSeconds > 0 &&
                       now - m_windowStart >= m_request.lowSpeedSeconds * 1000LL) {
                const int64_t wanted = static_cast<int64_t>(m_request.lowSpeedBytesPerSec) *
                                       m_request.lowSpeedSeconds;
                if (m_bytes - m_windowBytes < wanted) reason = "the transfer was too slow";
                m_windowStart = now;
                m_windowBytes = m_bytes;
            }
            if (reason != nullptr) {
                m_reason = reason;
                if (m_url != nullptr) InternetCloseHandle(m_url);
                InternetCloseHandle(m_session);
                m_closed = true;
                return;
            }
        }
    }

    const HttpRequest& m_request;
    HINTERNET m_session;
    HINTERNET m_url = nullptr;
    const int64_t m_start;
    int64_t m_windowStart = 0;
    int64_t m_windowBytes = 0;
    int64_t m_bytes = 0;
    const char* m_reason = nullptr;
    bool m_stopped = false;
    bool m_done = false;
    bool m_closed = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};

bool IsHttpUrl(const std::string& url) {
    std::string scheme = url.substr(0, std::min<size_t>(url.size(), 8));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme.rfind("http://", 0) == 0 || scheme.rfind("https://", 0) == 0;
}

DWORD QueryNumber(HINTERNET url, DWORD what, bool* found) {
    DWORD value = 0;
    DWORD size = sizeof value;
    *found = HttpQueryInfoW(url, what | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr) != FALSE;
    return value;
}

int64_t ContentLength(HINTERNET url) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoW(url, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return -1;
    int64_t value = 0;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9') return -1;
        value = value * 10 + (*p - L'0');
    }
    return value;
}

}  // namespace

HttpResult HttpGet(const HttpRequest& request) {
    HttpResult result;
    if (!IsHttpUrl(request.url)) {
        result.error = "only http and https URLs are fetched";
        return result;
    }
    HINTERNET session =
        InternetOpenW(win::Wide(request.userAgent).c_str(),
                      request.useSystemProxy ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_DIRECT,
                      nullptr, nullptr, 0);
    if (session == nullptr) {
        result.error = "InternetOpenW: " + win::ErrorText(GetLastError());
        return result;
    }
    DWORD connectMs = static_cast<DWORD>(std::max(request.connectTimeoutMs, 1));
    InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
    // Closing the handles does not end a receive that is blocked in every
    // WinINet (Wine's goes on), so receives wait a second at most and a read
    // that timed out is tried again while the watchdog lets the request live.
    DWORD receiveMs = kReceiveSliceMs;
    InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
    InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &receiveMs, sizeof receiveMs);

    Watchdog watchdog(request, session);
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                        INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH;
    HINTERNET url = InternetOpenUrlW(session, win::Wide(request.url).c_str(), nullptr, 0, flags, 1);
    const DWORD openError = url == nullptr ? GetLastError() : 0;
    if (url != nullptr) watchdog.SetRequest(url);

    bool ended = false;
    bool broken = url == nullptr;
    std::string error = url == nullptr ? "InternetOpenUrlW: " + win::ErrorText(openError) : "";
    if (url != nullptr) {
        bool found = false;
        result.status = static_cast<long>(QueryNumber(url, HTTP_QUERY_STATUS_CODE, &found));
        if (request.onHead && !request.onHead(result.status, ContentLength(url))) ended = true;
        char buf[16384];
        while (!ended) {
            DWORD n = 0;
            if (!InternetReadFile(url, buf, sizeof buf, &n)) {
                if (GetLastError() == ERROR_INTERNET_TIMEOUT && !watchdog.Reason()) continue;
                broken = true;
                error = "InternetReadFile: " + win::ErrorText(GetLastError());
                break;
            }
            if (n == 0) break;  // the transfer ended cleanly
            watchdog.Received(n);
            if (request.onData && !request.onData(buf, n)) ended = true;
        }
    }
    watchdog.Finish();
    if (!watchdog.Closed()) {
        if (url != nullptr) InternetCloseHandle(url);
        InternetCloseHandle(session);
    }
    if (watchdog.Stopped()) {
        result.outcome = HttpOutcome::Stopped;
        result.error = "stopped";
    } else if (const char* reason = watchdog.Reason()) {
        result.outcome = HttpOutcome::Failed;
        result.error = reason;
    } else if (broken) {
        result.outcome = HttpOutcome::Failed;
        result.error = error;
    } else {
        result.outcome = ended ? HttpOutcome::Ended : HttpOutcome::Complete;
    }
    if (result.outcome == HttpOutcome::Failed && url == nullptr) result.status = 0;
    return result;
}

}  // namespace platform
