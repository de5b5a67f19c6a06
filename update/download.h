#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// The download of a new executable, as the download window's worker runs it.

struct DownloadLimits {
    int connectTimeoutMs = 5000;
    int lowSpeedBytesPerSec = 1024;  // abandoned when slower than this ...
    int lowSpeedSeconds = 30;        // ... for this long
};

struct DownloadProgress {
    // The announced length (-1 when the answer has none); called once.
    std::function<void(int64_t total)> onTotal;
    // The count of bytes received so far, after every piece.
    std::function<void(int64_t received)> onReceived;
};

// Downloads url into path (replaced). Returns 1 when the file holds the whole
// answer - status 2xx, not empty, as long as announced, transfer ended cleanly -
// and it is an executable for this platform; otherwise 0, and no file is left
// at path. stop aborts the transfer within about a second. caFile: see
// platform::HttpRequest (tests only). Any thread.
int DownloadFile(const std::string& url, const std::string& path, const std::atomic<bool>& stop,
                 const DownloadProgress& progress = {}, const DownloadLimits& limits = {},
                 const std::string& caFile = {});
