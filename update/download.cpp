#include "update/download.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/http.h"
#include "platform/launcher.h"
#include "platform/system.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

int DownloadFile(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                 const DownloadProgress& progress, const DownloadLimits& limits,
                 const std::string& caFile) {
    if (url.empty() || path.empty()) return 0;
    File file(platform::CreatePrivateFile(path));
    if (!file) return 0;

    int64_t total = -1;
    int64_t received = 0;
    bool writeFailed = false;
    bool reachedLength = false;  // the announced length has arrived; the rest is not waited for

    platform::HttpRequest request;
    request.url = url;
    request.userAgent = "BRISKEN UPDATE";
    request.connectTimeoutMs = limits.connectTimeoutMs;
    request.lowSpeedBytesPerSec = limits.lowSpeedBytesPerSec;
    request.lowSpeedSeconds = limits.lowSpeedSeconds;
    request.caFile = caFile;
    request.stop = &stop;
    request.onHead = [&](long status, int64_t length) {
        total = length;
        if (progress.onTotal) progress.onTotal(length);
        if (progress.onReceived) progress.onReceived(0);
        // An error page is never taken for the program.
        return status >= 200 && status < 300;
    };
    request.onData = [&](const char* data, size_t size) {
        // Bytes past the announced length are not part of the file.
        const bool last = total >= 0 && received + static_cast<int64_t>(size) >= total;
        if (last) size = static_cast<size_t>(total - received);
        if (std::fwrite(data, 1, size, file.get()) != size) {
            writeFailed = true;
            return false;
        }
        received += static_cast<int64_t>(size);
        if (progress.onReceived) progress.onReceived(received);
        if (last) reachedLength = true;
        return !last;
    };
    const platform::HttpResult result = platform::HttpGet(request);
    const bool closedClean = std::fclose(file.release()) == 0;

    const bool transferred = result.outcome == platform::HttpOutcome::Complete ||
                             (result.outcome == platform::HttpOutcome::Ended && reachedLength);
    const bool complete = transferred && !writeFailed &&
                          closedClean && received > 0 && (total < 0 || received == total) &&
                          platform::IsNativeExecutable(path);
    if (!complete) {
        std::error_code ec;
        std::filesystem::remove(platform::FsPath(path), ec);
        return 0;
    }
    return 1;
}
