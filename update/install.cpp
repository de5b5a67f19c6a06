#include <filesystem>
#include <system_error>

#include "platform/desktop.h"
#include "platform/system.h"
#include "update/scripts.h"
#include "update/update_check.h"
#include "update/update_internal.h"
#include "update/update_state.h"

namespace fs = std::filesystem;
using namespace update_internal;

namespace {

using platform::FsPath;

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(FsPath(path), ec);
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::symlink_status(FsPath(path), ec));
}

// Compared as the files they name, so a symlinked or differently spelt path to
// the installed executable (another letter case on Windows) still counts as
// the installed executable.
bool SameFile(const std::string& a, const std::string& b) { return platform::SameFile(a, b); }

// Copies through a staged file and a rename, so a copy that breaks off never
// leaves a half file behind and an executable that is running is replaced too.
bool CopyReplacing(const std::string& fromText, const std::string& toText) {
    const fs::path from = FsPath(fromText);
    const fs::path to = FsPath(toText);
    const fs::path staged = FsPath(toText + ".new");
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
    // The program every account of the PC runs; only its installer changes
    // it (in the folder until now by what the folder hands down).
    return platform::MakeProgramFile(toText);
}

void RemoveFile(const std::string& path) {
    std::error_code ec;
    fs::remove(FsPath(path), ec);
}

}  // namespace

int CreateDesktopShortcut(const std::string& target, const std::string& folder,
                          const std::string& name,
                          const std::function<void(const std::string&)>& showMessage) {
    size_t slash = std::string::npos;
    for (size_t i = target.size(); i-- > 0;) {
        if (platform::IsPathSeparator(target[i])) {
            slash = i;
            break;
        }
    }
    const std::string targetDir =
        slash == std::string::npos ? std::string() : target.substr(0, slash);
    switch (platform::CreateShortcut(target, targetDir, JoinPath(folder, name))) {
        case platform::ShortcutResult::NoObject:
            return 0;
        case platform::ShortcutResult::SaveFailed:
            if (showMessage) showMessage("바로가기 생성 오류가 발생하였습니다.");
            return 1;
        case platform::ShortcutResult::Saved:
            break;
    }
    return 1;
}

void InstallSelf(IUpdateHost& host, const UpdateOptions& options) {
    const PathValues& p = options.paths;
    const std::string shortcutName = platform::ShortcutFileName(p.exeBase);
    const std::string desktop = options.desktopDir ? options.desktopDir() : std::string();

    if (p.installDir.empty()) return;
    // The folder holds the program every account's autostart runs: all may
    // run it, only the installing account changes it. One that someone else
    // may change is not used at all: the program goes on from where it is.
    if (!platform::MakeProgramDirectory(p.installDir)) return;
    const std::string installedExe = JoinPath(p.installDir, p.exeName);
    const std::string installedIni = JoinPath(p.installDir, p.iniName);
    // Nor is an installed program (or its settings) that someone else may
    // change: no shortcut leads to it and nothing is copied over it.
    if (Exists(installedExe) && !platform::MakeProgramFile(installedExe)) return;
    if (Exists(installedIni) && !platform::MakeProgramFile(installedIni)) return;
    if (!IsDirectory(desktop)) return;
    if (!Exists(JoinPath(desktop, shortcutName))) {
        CreateDesktopShortcut(installedExe, desktop, shortcutName,
                              [&host](const std::string& text) { host.ShowAppMessage(text); });
    }
    if (p.exePath.empty() || SameFile(p.exePath, installedExe)) return;

    // Relocate. Without a copy in the install folder the old one is kept and
    // the program goes on from where it is.
    if (!CopyReplacing(p.exePath, installedExe)) return;
    if (!Exists(installedIni) && Exists(p.iniPath)) {
        std::error_code ec;
        if (fs::copy_file(FsPath(p.iniPath), FsPath(installedIni), ec))
            platform::MakeProgramFile(installedIni);
    }

    // Both scripts are written before either is launched; the restart is
    // launched first, so a clean-up that then fails to start leaves only a
    // restart that finds this copy still running (a second copy ends at once).
    // Until both run (each has left its mark), this copy goes on from where it
    // is and keeps its autostart entry and its launcher.
    std::string oldExe = p.exePath;
    std::string oldDir = p.exeDir;
    std::string target = installedExe;
    if (!ForScript({&oldExe, &oldDir, &target})) return;
    const std::string runextern = PlaceScript(options, "runextern", [&](const ScriptRun& run) {
        return RunexternScriptText(run, target, oldExe);
    });
    const std::string killfile = PlaceScript(options, "killfile", [&](const ScriptRun& run) {
        return KillfileScriptText(run, oldDir, p.exeName, p.iniName, target);
    });
    if (runextern.empty() || killfile.empty()) {
        if (!runextern.empty()) RemoveFile(runextern);
        if (!killfile.empty()) RemoveFile(killfile);
        return;
    }
    if (!LaunchScript(options, runextern)) {
        RemoveFile(killfile);
        return;
    }
    if (!LaunchScript(options, killfile)) return;

    const std::string again = options.desktopDir ? options.desktopDir() : std::string();
    if (!again.empty()) RemoveFile(JoinPath(again, shortcutName));
    host.ClearConfirmExit();
    // A reinstall over an installed gateway keeps its start with the session:
    // the registration, where there is one, now names the installed copy.
    if (options.moveAutoRun)
        options.moveAutoRun(installedExe);
    else
        MoveAutostart(p.exeBase, installedExe);
    MarkRelocationQueued();
    host.PostQuit();
}

void UninstallSelf(const UpdateOptions& options) {
    const PathValues& p = options.paths;
    std::string exeDir = !p.exeDir.empty() ? p.exeDir : p.installDir;
    std::string installDir = p.installDir;
    if (!ForScript({&exeDir, &installDir})) return;
    const std::string script = PlaceScript(options, "killfileall", [&](const ScriptRun& run) {
        return KillfileallScriptText(run, exeDir, installDir, p.exeName, p.iniName);
    });
    if (script.empty()) return;
    const std::string desktop = options.desktopDir ? options.desktopDir() : std::string();
    if (!desktop.empty()) RemoveFile(JoinPath(desktop, platform::ShortcutFileName(p.exeBase)));
    LaunchScript(options, script);
}
