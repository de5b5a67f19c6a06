#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "config/paths.h"
#include "update/scripts.h"

// Self-management of the program: the version check with the self-update, the
// install step with relocation and the desktop launcher, and the uninstall.
// Everything here runs on the user-interface thread.

// What the version check and the install step need of the main window.
class IUpdateHost {
public:
    virtual ~IUpdateHost() = default;
    // m_showAllowed: the main window cannot become visible while it is clear.
    virtual void SetShowAllowed(bool allowed) = 0;
    // m_confirmExit = false: the next quit asks nothing.
    virtual void ClearConfirmExit() = 0;
    // Queues the end of the main window's run (it ends once its loop takes it).
    virtual void PostQuit() = 0;
    // The application's plain box (caption ExeBase, OK, exclamation icon).
    // The checks run within the start: the main window shows it without
    // waiting for its OK, and the start goes on.
    virtual void ShowAppMessage(const std::string& text) = 0;
    // Runs the download window modally (RunUpdateDialog in app/update_dlg.h)
    // and returns its result: 1 when the file at path holds the complete, valid
    // download; anything else otherwise. startResult is 0, or -1 when the window
    // is not to start (it then shows "업데이트 오류" and downloads nothing).
    virtual int RunDownloadWindow(const std::string& url, const std::string& path,
                                  int startResult) = 0;
};

// Everything the checks take from the process, injectable for tests. The
// defaults are the real program's values.
struct UpdateOptions {
    UpdateOptions();

    PathValues paths;        // default: g_paths at construction
    std::string host;        // update server "[https://]host[:port]"; default BRISKEN_UPDATE_HOST
    std::string ownVersion;  // default platform::OwnFileVersion() ("2.0.0.6")
    // The folder the programs the scripts start run in: "" = the current
    // directory. Scripts never go there (a USB stick pulled, a Downloads
    // folder others write into): they go to the install folder, else the
    // user's temporary folder, never to a removable or network drive.
    std::string workDir;
    std::string tempDir;  // default: the user's temporary folder
    // Whether a folder may take a script; null: any folder whose file write
    // succeeds (tests, which run as root, say which folders refuse).
    std::function<bool(const std::string& dir)> folderWritable;
    int scriptWaitSeconds = kScriptWaitSeconds;  // the bound on each wait of a script
    int confirmSeconds = kConfirmSeconds;        // the update's wait for a clean start
    // How long the program waits for a launched script's mark before it takes
    // the launch for failed, ends the script's process and goes on.
    int scriptStartMs = 5000;
    // Seconds since the epoch (the failed-install memory's clock).
    std::function<int64_t()> nowSeconds;
    int pid = 0;                  // the process the scripts wait for; 0 = this process
    int versionConnectMs = 5000;  // version request: connect time-out
    int versionTotalMs = 15000;   // version request: whole request
    // PEM public key (EC P-256) a download must be signed with before it may
    // replace anything; default: the compiled-in key. "": no check.
    std::string updateKey;
    std::string caFile;                       // see platform::HttpRequest (tests only); default ""
    std::function<bool()> networkUp;          // default: platform::HasNetworkConnection
    std::function<std::string()> desktopDir;  // default: platform::DesktopDir ("" = none)
    // Launches a script detached in its own folder; returns its process id or
    // -1 (the program then does not end).
    std::function<int(const std::string& script, const std::string& workDir)> launch;
    // Ends a launched script whose mark never came (default:
    // platform::EndLaunchedScript).
    std::function<void(int pid)> endScript;
    // After a relocation: points the autostart registration, where there is
    // one, at the installed copy (default: MoveAutostart of paths.exeBase).
    std::function<void(const std::string& installedExe)> moveAutoRun;
};

// The mark the installed program leaves in the install folder once its start
// has reached the point where it serves the terminal ("<ExeBase>.started"):
// the update script keeps the old program until it sees it.
std::string CleanStartMark(const PathValues& paths);
// Leaves that mark, when the running program is the installed one.
void ConfirmCleanStart(const PathValues& paths);

// Points the autostart registration of that name, where there is one, at exe;
// makes none where none was.
void MoveAutostart(const std::string& name, const std::string& exe);

// The drawn number of the staged rollout (0-99): read from
// "<ExeBase>.rollout" in the install folder, or drawn once and kept there.
int RolloutNumber(const PathValues& paths);

// The version check. Returns -123 when there is no network connection (nothing
// else is done), 1 otherwise: also when the server cannot be reached or its
// answer is unusable (quietly), and after a launched update with the quit
// queued. Creates at most one download window per process. When the download
// fails, or with an update key its signature ("sig") is missing or wrong, or
// the update script cannot be written or launched, it removes the download,
// shows "업데이트 실패" and returns 1; start-up goes on with the installed
// version. A version whose download or install was attempted is remembered in
// the install folder and not downloaded again for a day unless the server
// names another one: a download that failed its checks, or a program whose
// replace failed or that was put back after a start that did not confirm, must
// not cost the shop the same failure at every start. An answer's "rollout"
// (1-100) is the share of installations that take the version: only those
// whose RolloutNumber is below it.
// An account that does not own the install folder (another account of the
// PC) downloads nothing, quietly.
int CheckUpdate(IUpdateHost& host, const UpdateOptions& options = {});

// The install step, run before CheckUpdate at every start with a network
// connection: creates the install folder and the desktop launcher and, when the
// running executable is not the installed one, copies itself there (with its
// settings file when the install folder has none), launches the "runextern" and
// "killfile" scripts and, only once both are launched, removes the desktop
// launcher and the autostart entry and queues the quit. When either script
// cannot be written or launched the program goes on from where it is, its
// autostart entry kept. The caller goes on regardless.
void InstallSelf(IUpdateHost& host, const UpdateOptions& options = {});

// Writes the desktop shortcut folder + separator + name pointing at target
// (working folder: target's folder). Returns 1 when the shortcut was made, 0
// when the system could not make one at all (nothing is shown then); shows
// "바로가기 생성 오류가 발생하였습니다." through showMessage when its file cannot be
// written.
int CreateDesktopShortcut(const std::string& target, const std::string& folder,
                          const std::string& name,
                          const std::function<void(const std::string&)>& showMessage);

// The uninstall (after the settings dialog's question was answered Yes): writes
// and launches the "killfileall" script, which removes the executable, its settings file
// and its CATLOG folder beside the executable and in the install folder once this
// process has ended, and deletes the desktop launcher at once. Does nothing at
// all when the script cannot be written. The caller then removes the autostart
// entry and queues the quit itself.
void UninstallSelf(const UpdateOptions& options = {});
