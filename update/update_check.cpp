#include "update/update_check.h"

#include <atomic>
#include <filesystem>
#include <fstream>

#include "config/autostart.h"
#include "config/settings.h"
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
    if (result.outcome != platform::HttpOutcome::Complete && result.outcome != platform::HttpOutcome::Ended)
        return std::nullopt;
    return FirstAnswerLine(body);
}

}  // namespace

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
      deleteAutoRun(&DeleteAutoRunValue) {}

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

bool WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(platform::FsPath(path), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return !out.fail();
}

bool WriteScriptFile(const std::string& path, const std::string& text) {
    return WriteTextFile(path, platform::ScriptFileBytes(text));
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

    host.SetShowAllowed(false);
    MarkDownloadWindowCreated();
    const int startResult = (answer->url.empty() || options.paths.installDir.empty()) ? -1 : 0;
    int result = host.RunDownloadWindow(answer->url, downloadPath, startResult);
    // The signature is checked on the finished file, before anything is
    // written over; a file that fails it is a failed download.
    if (result == 1 && !options.updateKey.empty() &&
        !ReleaseSignatureValid(downloadPath, answer->version, answer->sig, options.updateKey)) {
        std::error_code ec;
        std::filesystem::remove(downloadPath, ec);
        result = 0;
    }
    if (result == 1) {
        const std::string dir = WorkDir(options);
        const std::string script = JoinPath(dir, ScriptFileName("update_brisken"));
        const std::string installedExe = JoinPath(options.paths.installDir, options.paths.exeName);
        if (!dir.empty() &&
            WriteScriptFile(script, UpdateScriptText(ScriptPid(options), downloadPath, installedExe, script)) &&
            options.launch) {
            options.launch(script, dir);
        }
        host.ClearConfirmExit();
        host.PostQuit();
    } else {
        host.ShowAppMessage("업데이트 실패");
    }
    host.SetShowAllowed(true);
    return 1;
}
