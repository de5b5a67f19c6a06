#include "update/update_check.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "config/autostart.h"
#include "config/settings.h"
#include "platform/autostart.h"
#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/http.h"
#include "platform/launcher.h"
#include "platform/network.h"
#include "platform/system.h"
#include "update/release_signature.h"
#include "update/scripts.h"
#include "update/server_url.h"
#include "update/update_answer.h"
#include "update/update_internal.h"
#include "update/update_state.h"
#include "update_key.h"

namespace {

std::atomic<bool> s_downloadWindowCreated{false};
std::atomic<bool> s_relocationQueued{false};

// The first line of the version answer; nullopt when the request did not go
// through (no server, refused, name not resolved, time-out).
std::optional<std::string> RequestFirstLine(const UpdateOptions& options) {
    std::string body;
    platform::HttpRequest request;
    request.url = ServerUrl(options.host, "/brisken/brisken_ver.php?app_name=Brisken");
    request.caFile = options.caFile;
    request.userAgent = options.paths.exeBase;
    request.connectTimeoutMs = options.versionConnectMs;
    request.totalTimeoutMs = options.versionTotalMs;
    request.onData = [&body](const char* data, size_t size) {
        body.append(data, size);
        // Only the first line is ever read; the rest of the body is not waited for.
        return body.find('\n') == std::string::npos && body.size() <= kMaxAnswerLine * 2;
    };
    const platform::HttpResult result = platform::HttpGet(request);
    if (result.outcome != platform::HttpOutcome::Complete &&
        result.outcome != platform::HttpOutcome::Ended)
        return std::nullopt;
    return FirstAnswerLine(body);
}

// The failed-install memory: the version tried last and when, one line each.
constexpr int64_t kRetryAfterSeconds = 24 * 60 * 60;

std::string FailedInstallFile(const PathValues& paths) {
    return paths.installDir.empty() ? std::string()
                                    : JoinPath(paths.installDir, paths.exeBase + ".update");
}

std::string ReadTextFile(const std::string& path) {
    if (path.empty()) return {};
    std::ifstream in(platform::FsPath(path), std::ios::binary);
    std::string text(256, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::string RememberedVersion(const std::string& version, int64_t now) {
    return version + "\n" + std::to_string(now) + "\n";
}

// True while the version named was tried less than a day ago (a clock set
// back counts as a day gone).
bool SkipVersion(const std::string& memory, const std::string& version, int64_t now) {
    const size_t nl = memory.find('\n');
    if (nl == std::string::npos || memory.substr(0, nl) != version) return false;
    const std::string when = memory.substr(nl + 1);
    char* end = nullptr;
    const long long tried = std::strtoll(when.c_str(), &end, 10);
    if (end == when.c_str()) return false;
    return now >= tried && now - tried < kRetryAfterSeconds;
}

}  // namespace

std::string CleanStartMark(const PathValues& paths) {
    return paths.installDir.empty() ? std::string()
                                    : JoinPath(paths.installDir, paths.exeBase + ".started");
}

void ConfirmCleanStart(const PathValues& paths) {
    const std::string installed = JoinPath(paths.installDir, paths.exeName);
    if (paths.installDir.empty() || paths.exePath.empty() ||
        !platform::SameFile(paths.exePath, installed))
        return;
    if (std::FILE* f = platform::CreatePrivateFile(CleanStartMark(paths))) {
        std::fputs(platform::OwnFileVersion().c_str(), f);
        std::fclose(f);
    }
}

void MoveAutostart(const std::string& name, const std::string& exe) {
    if (platform::AutostartExists(name))
        platform::SetAutostart(name, platform::AutostartCommand(exe));
}

int RolloutNumber(const PathValues& paths) {
    // Drawn once per installation and kept, so a shop does not get a new
    // chance at every start; a file that does not hold a number is drawn anew.
    const std::string file = paths.installDir.empty()
                                 ? std::string()
                                 : JoinPath(paths.installDir, paths.exeBase + ".rollout");
    const std::string text = ReadTextFile(file);
    char* end = nullptr;
    const long kept = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() && (*end == '\n' || *end == '\0') && kept >= 0 && kept <= 99)
        return static_cast<int>(kept);
    std::random_device device;
    const int drawn = static_cast<int>(std::uniform_int_distribution<int>(0, 99)(device));
    if (!file.empty()) {
        if (std::FILE* f = platform::CreatePrivateFile(file)) {
            std::fputs((std::to_string(drawn) + "\n").c_str(), f);
            std::fclose(f);
        }
    }
    return drawn;
}

bool DownloadWindowCreated() { return s_downloadWindowCreated.load(); }
void MarkDownloadWindowCreated() { s_downloadWindowCreated = true; }
bool RelocationQueued() { return s_relocationQueued.load(); }
void MarkRelocationQueued() { s_relocationQueued = true; }
void ResetUpdateState() {
    s_downloadWindowCreated = false;
    s_relocationQueued = false;
}

UpdateOptions::UpdateOptions()
    : paths(g_paths),
      host(BRISKEN_UPDATE_HOST),
      ownVersion(platform::OwnFileVersion()),
      updateKey(kUpdatePublicKeyPem),
      networkUp(&platform::HasNetworkConnection),
      desktopDir(&platform::DesktopDir),
      launch(&platform::LaunchScriptDetached),
      endScript(&platform::EndLaunchedScript) {
    std::error_code ec;
    const auto temp = std::filesystem::temp_directory_path(ec);
    if (!ec) tempDir = platform::PathText(temp);
    nowSeconds = [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
    };
}

namespace update_internal {

std::string WorkDir(const UpdateOptions& options) {
    if (!options.workDir.empty()) return options.workDir;
    std::error_code ec;
    const auto cwd = std::filesystem::current_path(ec);
    return ec ? std::string() : platform::PathText(cwd);
}

int ScriptPid(const UpdateOptions& options) {
    return options.pid != 0 ? options.pid : platform::CurrentProcessId();
}

// A private file (a script is re-read by its interpreter while it runs: no
// other account may write into it), replaced whole.
bool WritePrivateFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = platform::CreatePrivateFile(path);
    if (f == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(platform::FsPath(path), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return !out.fail();
}

bool WriteScriptFile(const std::string& path, const std::string& text) {
    const std::string bytes = platform::ScriptFileBytes(text);
    return !bytes.empty() && WritePrivateFile(path, bytes);
}

bool ForScript(std::initializer_list<std::string*> paths) {
    for (std::string* path : paths) {
        *path = platform::ScriptPathText(*path);
        if (path->empty()) return false;
    }
    return true;
}

std::string PlaceScript(const UpdateOptions& options, const std::string& base,
                        const std::function<std::string(const ScriptRun&)>& make) {
    // The program started from here; where that folder is gone by the time
    // the script starts it, it runs in the script's folder.
    std::string startDir = WorkDir(options);
    if (!startDir.empty() && !ForScript({&startDir})) startDir.clear();
    const std::string folders[] = {options.paths.installDir, options.tempDir};
    for (const std::string& dir : folders) {
        if (dir.empty() || !platform::IsDirectory(dir) || !platform::ScriptFolderUsable(dir))
            continue;
        if (options.folderWritable && !options.folderWritable(dir)) continue;
        const std::string path = JoinPath(dir, ScriptFileName(base));
        ScriptRun run;
        run.pid = ScriptPid(options);
        run.self = path;
        run.startDir = startDir;
        run.waitSeconds = options.scriptWaitSeconds;
        run.confirmSeconds = options.confirmSeconds;
        if (!ForScript({&run.self})) continue;
        run.runMark = ScriptRunMark(run.self);
        const std::string text = make(run);
        if (text.empty()) return {};  // a path of the script's own cannot be named anywhere
        std::error_code ec;
        std::filesystem::remove(platform::FsPath(ScriptRunMark(path)), ec);
        if (WriteScriptFile(path, text)) return path;
        std::filesystem::remove(platform::FsPath(path), ec);
    }
    return {};
}

bool LaunchScript(const UpdateOptions& options, const std::string& script) {
    const size_t sep = script.find_last_of(platform::PathSeparator() == '\\' ? "\\/" : "/");
    const std::string dir =
        sep == std::string::npos ? std::string() : script.substr(0, sep == 0 ? 1 : sep);
    const std::string mark = ScriptRunMark(script);
    std::error_code ec;
    const int pid = options.launch ? options.launch(script, dir) : -1;
    if (pid > 0) {
        // A started interpreter is not a running script: a policy that
        // disables scripts, or a scanner that blocks a fresh one, lets it
        // start and end (or hang) without a line run. Only the script's mark
        // lets the program end.
        const int64_t until = platform::MonotonicMs() + options.scriptStartMs;
        for (;;) {
            if (std::filesystem::exists(platform::FsPath(mark), ec)) {
                std::filesystem::remove(platform::FsPath(mark), ec);
                platform::ForgetLaunchedScript(pid);
                return true;
            }
            const int64_t left = until - platform::MonotonicMs();
            if (left <= 0) break;
            platform::SleepMs(static_cast<int>(std::min<int64_t>(left, 50)));
        }
        if (options.endScript) options.endScript(pid);
    }
    std::filesystem::remove(platform::FsPath(script), ec);
    std::filesystem::remove(platform::FsPath(mark), ec);
    return false;
}

}  // namespace update_internal

int CheckUpdate(IUpdateHost& host, const UpdateOptions& options) {
    using namespace update_internal;
    const std::string downloadPath = JoinPath(options.paths.installDir, "UpdateFile.sob");
    if (!options.networkUp || !options.networkUp()) return -123;
    if (RelocationQueued()) return 1;

    const std::optional<std::string> line = RequestFirstLine(options);
    if (!line) return 1;

    const double own = VersionNumber(options.ownVersion.substr(0, 31));
    const std::optional<UpdateAnswer> answer = ParseUpdateAnswer(*line);
    if (!answer || answer->status != "ok") return 1;
    if (!(VersionNumber(answer->version) > own) || DownloadWindowCreated()) return 1;
    const std::string memory = FailedInstallFile(options.paths);
    const int64_t now = options.nowSeconds ? options.nowSeconds() : 0;
    if (SkipVersion(ReadTextFile(memory), answer->version, now)) return 1;
    // Only the account that owns the install folder replaces the program:
    // another account of the PC, which may run it but not change it, does
    // not download at all (no failure to show at every start). Nor does
    // anyone into a folder that is someone else's or a link. A folder the
    // install step could not make is no one's: the download itself fails
    // there, and says so, as it always did.
    if (!options.paths.installDir.empty() && platform::PathExists(options.paths.installDir) &&
        !platform::IsOwnWritableDirectory(options.paths.installDir))
        return 1;
    if (answer->rollout < 100 && RolloutNumber(options.paths) >= answer->rollout) return 1;

    host.SetShowAllowed(false);
    MarkDownloadWindowCreated();
    const int startResult = (answer->url.empty() || options.paths.installDir.empty()) ? -1 : 0;
    // From here the version counts as tried: a download that fails its checks
    // (cut short, not an executable, a bad or missing signature), an install
    // that fails, or a new program put back by its script, is not tried again
    // at every start.
    if (startResult == 0) WriteTextFile(memory, RememberedVersion(answer->version, now));
    int result = host.RunDownloadWindow(answer->url, downloadPath, startResult);
    // The signature is checked on the finished file, before anything is
    // written over; a file that fails it is a failed download.
    if (result == 1 && !options.updateKey.empty() &&
        !ReleaseSignatureValid(downloadPath, answer->version, answer->sig, options.updateKey)) {
        result = 0;
    }
    if (result == 1) {
        std::string download = downloadPath;
        std::string installedExe = JoinPath(options.paths.installDir, options.paths.exeName);
        std::string startedMark = CleanStartMark(options.paths);
        const bool named = ForScript({&download, &installedExe, &startedMark});
        const std::string script =
            !named ? std::string()
                   : PlaceScript(options, "update_brisken", [&](const ScriptRun& run) {
                         return UpdateScriptText(run, download, installedExe, startedMark);
                     });
        if (script.empty() || !LaunchScript(options, script)) result = 0;
    }
    if (result == 1) {
        host.ClearConfirmExit();
        host.PostQuit();
    } else {
        std::error_code ec;
        std::filesystem::remove(platform::FsPath(downloadPath), ec);
        host.ShowAppMessage("업데이트 실패");
    }
    host.SetShowAllowed(true);
    return 1;
}
