#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/http.h"
#include "platform/windows/text.h"

namespace platform {

namespace {

// What a transfer's worker and its caller share. WinINet calls block, and a
// blocked receive is not ended by closing its handle in every WinINet (Wine's
// goes on until the peer does something), so the caller keeps the bounds of a
// request (whole time, low speed, a stop) itself and, when one is passed, lets
// go of the worker: the worker calls no callback after that and ends when its
// call returns.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool abandoned = false;
    bool done = false;
    int64_t bytes = 0;
    HINTERNET session = nullptr;
    HINTERNET url = nullptr;
    HttpResult result;
};

bool HasScheme(const std::string& url, const std::string& scheme) {
    if (url.size() < scheme.size()) return false;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    return true;
}

bool IsHttpUrl(const std::string& url) {
    return HasScheme(url, "http://") || HasScheme(url, "https://");
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

namespace {

// The transfer itself, on the worker. Callbacks run under the shared lock and
// only while the caller still waits.
void Transfer(HttpRequest request, std::shared_ptr<Shared> shared) {
    HttpResult result;
    const auto call = [&shared](const auto& fn) {
        std::lock_guard lock(shared->mutex);
        return !shared->abandoned && fn();
    };
    HINTERNET session = shared->session;
    // HTTPS checks the server's certificate against the system's store. None
    // of the flags that would let a bad certificate through is ever given,
    // and without UI a certificate that fails ends the call like an
    // unreachable server.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                  INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES |
                  INTERNET_FLAG_NO_AUTH;
    if (HasScheme(request.url, "https://")) flags |= INTERNET_FLAG_SECURE;
    HINTERNET url = InternetOpenUrlW(session, win::Wide(request.url).c_str(), nullptr, 0, flags, 1);
    if (url == nullptr) {
        result.error = "InternetOpenUrlW: " + win::ErrorText(GetLastError());
    } else {
        {
            std::lock_guard lock(shared->mutex);
            shared->url = url;
        }
        bool found = false;
        result.status = static_cast<long>(QueryNumber(url, HTTP_QUERY_STATUS_CODE, &found));
        const int64_t length = ContentLength(url);
        bool ended =
            !call([&] { return !request.onHead || request.onHead(result.status, length); });
        bool broken = false;
        std::vector<char> buf(16384);
        while (!ended) {
            // Asked first what has come, so a read hands on what is there
            // instead of waiting for a whole buffer (which Wine's does).
            DWORD available = 0;
            if (!InternetQueryDataAvailable(url, &available, 0, 0)) {
                broken = true;
                result.error = "InternetQueryDataAvailable: " + win::ErrorText(GetLastError());
                break;
            }
            if (available == 0) break;  // the transfer ended cleanly
            DWORD n = 0;
            const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(buf.size()));
            if (!InternetReadFile(url, buf.data(), want, &n)) {
                broken = true;
                result.error = "InternetReadFile: " + win::ErrorText(GetLastError());
                break;
            }
            if (n == 0) break;  // the transfer ended cleanly
            ended = !call([&] {
                shared->bytes += n;
                return !request.onData || request.onData(buf.data(), n);
            });
        }
        result.outcome = broken  ? HttpOutcome::Failed
                         : ended ? HttpOutcome::Ended
                                 : HttpOutcome::Complete;
    }
    std::lock_guard lock(shared->mutex);
    if (!shared->abandoned) {
        shared->url = nullptr;
        if (url != nullptr) InternetCloseHandle(url);
        InternetCloseHandle(session);
        shared->session = nullptr;
    }
    shared->result = result;
    shared->done = true;
    shared->changed.notify_all();
}

}  // namespace

HttpResult HttpGet(const HttpRequest& request) {
    HttpResult result;
    if (!IsHttpUrl(request.url)) {
        result.error = "only http and https URLs are fetched";
        return result;
    }
    // WinINet checks a server's certificate against the system's store alone
    // and takes no CA file; a trust that cannot be given is refused, not
    // left out (tests trust their CA through the store instead).
    if (!request.caFile.empty()) {
        result.error = "WinINet takes no CA file";
        return result;
    }
    HINTERNET session = InternetOpenW(
        win::Wide(request.userAgent).c_str(),
        INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (session == nullptr) {
        result.error = "InternetOpenW: " + win::ErrorText(GetLastError());
        return result;
    }
    DWORD connectMs = static_cast<DWORD>(std::max(request.connectTimeoutMs, 1));
    InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
    // A receive that waits longer than the request may take ends by itself,
    // so a worker that was let go does not outlive its request by much.
    DWORD receiveMs = 30000;
    if (request.totalTimeoutMs > 0) receiveMs = static_cast<DWORD>(request.totalTimeoutMs);
    if (request.lowSpeedSeconds > 0)
        receiveMs = std::min<DWORD>(receiveMs, static_cast<DWORD>(request.lowSpeedSeconds) * 1000);
    InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
    InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &receiveMs, sizeof receiveMs);

    auto shared = std::make_shared<Shared>();
    shared->session = session;
    HttpRequest copy = request;
    copy.stop = nullptr;
    std::thread worker(Transfer, std::move(copy), shared);

    const int64_t start = MonotonicMs();
    int64_t windowStart = start;
    int64_t windowBytes = 0;
    const char* reason = nullptr;
    bool stopped = false;
    {
        std::unique_lock lock(shared->mutex);
        while (!shared->done) {
            shared->changed.wait_for(lock, std::chrono::milliseconds(100));
            if (shared->done) break;
            const int64_t now = MonotonicMs();
            if (request.stop != nullptr && request.stop->load()) {
                reason = "stopped";
                stopped = true;
            } else if (request.totalTimeoutMs > 0 && now - start >= request.totalTimeoutMs) {
                reason = "the request took too long";
            } else if (request.lowSpeedBytesPerSec > 0 && request.lowSpeedSeconds > 0 &&
                       now - windowStart >= request.lowSpeedSeconds * 1000LL) {
                const int64_t wanted =
                    static_cast<int64_t>(request.lowSpeedBytesPerSec) * request.lowSpeedSeconds;
                if (shared->bytes - windowBytes < wanted) reason = "the transfer was too slow";
                windowStart = now;
                windowBytes = shared->bytes;
            }
            if (reason != nullptr) {
                // Let go of the worker: its handles are closed (which ends its
                // call where WinINet allows) and it calls nothing more.
                shared->abandoned = true;
                if (shared->url != nullptr) InternetCloseHandle(shared->url);
                if (shared->session != nullptr) InternetCloseHandle(shared->session);
                break;
            }
        }
    }
    if (reason != nullptr) {
        worker.detach();
        result.outcome = stopped ? HttpOutcome::Stopped : HttpOutcome::Failed;
        result.error = reason;
        return result;
    }
    worker.join();
    return shared->result;
}

}  // namespace platform
