#include "platform/http.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace platform {
namespace {

struct CurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

// curl's global set-up is not thread-safe, so it runs once, before any handle.
void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    const HttpRequest* request = nullptr;
    CURL* handle = nullptr;
    bool headDone = false;
    bool endedByCaller = false;

    // The head is reported when the first body bytes arrive, or after the
    // transfer for an empty body, so redirects in between are never reported.
    bool ReportHead() {
        if (headDone) return true;
        headDone = true;
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        curl_off_t length = -1;
        curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (request->onHead && !request->onHead(status, length < 0 ? -1 : int64_t{length})) {
            endedByCaller = true;
            return false;
        }
        return true;
    }
};

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (!t->ReportHead()) return 0;
    if (t->request->onData && !t->request->onData(data, n)) {
        t->endedByCaller = true;
        return 0;
    }
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->request->stop != nullptr && t->request->stop->load() ? 1 : 0;
}

}  // namespace

HttpResult HttpGet(const HttpRequest& request) {
    GlobalInitOnce();
    HttpResult result;
    CurlHandle curl(curl_easy_init());
    if (!curl) {
        result.error = "curl_easy_init failed";
        return result;
    }
    Transfer t;
    t.request = &request;
    t.handle = curl.get();
    char errbuf[CURL_ERROR_SIZE] = {};

    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    if (!request.userAgent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, request.userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!request.caFile.empty()) {
        curl_easy_setopt(h, CURLOPT_CAINFO, request.caFile.c_str());
        curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    }
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
    if (request.totalTimeoutMs > 0)
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.totalTimeoutMs));
    if (request.lowSpeedBytesPerSec > 0 && request.lowSpeedSeconds > 0) {
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(request.lowSpeedBytesPerSec));
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request.lowSpeedSeconds));
    }
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    const CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);

    if (rc == CURLE_OK) {
        result.outcome = (t.ReportHead() && !t.endedByCaller) ? HttpOutcome::Complete : HttpOutcome::Ended;
        return result;
    }
    if (rc == CURLE_WRITE_ERROR && t.endedByCaller) {
        result.outcome = HttpOutcome::Ended;
        return result;
    }
    if (rc == CURLE_ABORTED_BY_CALLBACK && request.stop != nullptr && request.stop->load()) {
        result.outcome = HttpOutcome::Stopped;
        result.error = "stopped";
        return result;
    }
    result.outcome = HttpOutcome::Failed;
    result.error = errbuf[0] != '\0' ? std::string(errbuf) : std::string(curl_easy_strerror(rc));
    return result;
}

}  // namespace platform
