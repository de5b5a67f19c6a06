#include <filesystem>
#include <system_error>

#include "update/scripts.h"
#include "update/update_check.h"
#include "update/update_internal.h"
#include "update/update_state.h"

namespace fs = std::filesystem;
using namespace update_internal;

namespace {

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::symlink_status(path, ec));
}

// Compared as the files they name, so a symlinked or differently spelt path to
// the installed executable still counts as the installed executable.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

// Copies through a staged file and a rename, so a copy that breaks off never
// leaves a half file behind and an executable that is running is replaced too.
bool CopyReplacing(const std::string& from, const std::string& to) {
    const std::string staged = to + ".new";
    std::error_code ec;
    fs::remove(staged, ec);
    if (!fs::copy_file(from, staged, fs::copy_options::overwrite_existing, ec) || ec) {
        fs::remove(staged, ec);
        return false;
    }
    fs::permissions(staged, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    fs::rename(staged, to, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(staged, ignored);
        return false;
    }
    return true;
}

void RemoveFile(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

void Launch(const UpdateOptions& options, const std::string& script, const std::string& dir) {
    if (options.launch) options.launch(script, dir);
}

}  // namespace

int CreateDesktopShortcut(const std::string& target, const std::string& folder,
                          const std::string& name,
                          const std::function<void(const std::string&)>& showMessage) {
    const auto slash = target.find_last_of('/');
    const std::string targetDir = slash == std::string::npos ? std::string() : target.substr(0, slash);
    const std::string file = JoinPath(folder, name);
    if (!WriteTextFile(file, DesktopEntryText(fs::path(name).stem().string(), target, targetDir))) {
        if (showMessage) showMessage("바로가기 생성 오류가 발생하였습니다.");
        return 1;
    }
    // Desktops start only launchers that are marked executable.
    std::error_code ec;
    fs::permissions(file, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    return 1;
}

void InstallSelf(IUpdateHost& host, const UpdateOptions& options) {
    const PathValues& p = options.paths;
    const std::string shortcutName = p.exeBase + ".desktop";
    const std::string desktop = options.desktopDir ? options.desktopDir() : std::string();

    if (p.installDir.empty()) return;
    if (!IsDirectory(p.installDir)) {
        std::error_code ec;
        fs::create_directory(p.installDir, ec);
        if (ec || !IsDirectory(p.installDir)) return;
    }
    const std::string installedExe = JoinPath(p.installDir, p.exeName);
    if (!IsDirectory(desktop)) return;
    if (!Exists(JoinPath(desktop, shortcutName))) {
        CreateDesktopShortcut(installedExe, desktop, shortcutName,
                              [&host](const std::string& text) { host.ShowAppMessage(text); });
    }
    if (p.exePath.empty() || SameFile(p.exePath, installedExe)) return;

    // Relocate. Without a copy in the install folder the old one is kept and
    // the program goes on from where it is.
    if (!CopyReplacing(p.exePath, installedExe)) return;
    const std::string installedIni = JoinPath(p.installDir, p.iniName);
    if (!Exists(installedIni) && Exists(p.iniPath)) {
        std::error_code ec;
        fs::copy_file(p.iniPath, installedIni, ec);
    }

    const std::string dir = WorkDir(options);
    const int pid = ScriptPid(options);
    if (!dir.empty()) {
        const std::string killfile = JoinPath(dir, "killfile.sh");
        if (WriteTextFile(killfile, KillfileScriptText(pid, p.exeDir, p.exeName, p.iniName, killfile))) {
            const std::string again = options.desktopDir ? options.desktopDir() : std::string();
            if (!again.empty()) RemoveFile(JoinPath(again, shortcutName));
            Launch(options, killfile, dir);
        }
        const std::string runextern = JoinPath(dir, "runextern.sh");
        if (WriteTextFile(runextern, RunexternScriptText(pid, installedExe, runextern)))
            Launch(options, runextern, dir);
    }
    host.ClearConfirmExit();
    if (options.deleteAutoRun) options.deleteAutoRun();
    MarkRelocationQueued();
    host.PostQuit();
}

void UninstallSelf(const UpdateOptions& options) {
    const PathValues& p = options.paths;
    const std::string dir = WorkDir(options);
    if (dir.empty()) return;
    const std::string script = JoinPath(dir, "killfileall.sh");
    const std::string exeDir = !p.exeDir.empty() ? p.exeDir : p.installDir;
    if (!WriteTextFile(script, KillfileallScriptText(ScriptPid(options), exeDir, p.installDir,
                                                     p.exeName, p.iniName, script)))
        return;
    const std::string desktop = options.desktopDir ? options.desktopDir() : std::string();
    if (!desktop.empty()) RemoveFile(JoinPath(desktop, p.exeBase + ".desktop"));
    Launch(options, script, dir);
}
