// Stands in for the program in the self-management tests: run as
//   helper [install]        the install step, as at every start
//   helper update <host>    the version check against a test server
//   helper uninstall        the uninstall
// It writes "started-<pid>" beside itself (what it did) and "<HOME>/pids" (every
// process it launched) so the test can follow and end them.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/paths.h"
#include "platform/launcher.h"
#include "platform/system.h"
#include "update/download.h"
#include "update/scripts.h"
#include "update/update_check.h"

namespace {

class Host : public IUpdateHost {
public:
    bool quit = false;
    std::string messages;
    void SetShowAllowed(bool) override {}
    void ClearConfirmExit() override {}
    void PostQuit() override { quit = true; }
    void ShowAppMessage(const std::string& text) override { messages += text + ";"; }
    int RunDownloadWindow(const std::string& url, const std::string& path, int start) override {
        if (start != 0) return 0;
        std::atomic<bool> stop{false};
        return DownloadFile(url, path, stop, {}, DownloadLimits{2000, 1024, 5});
    }
};

void Note(const std::string& path, const std::string& line) {
    std::ofstream(path, std::ios::app) << line << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    InitPathValues();
    const std::string mode = argc > 1 ? argv[1] : "install";
    const std::string pids = platform::GetEnv("HOME") + "/pids";
    Note(pids, std::to_string(platform::CurrentProcessId()));

    UpdateOptions options;
    options.networkUp = [] { return true; };
    options.launch = [&pids](const std::string& script, const std::string& dir) {
        const int pid = platform::LaunchScriptDetached(script, dir);
        Note(pids, std::to_string(pid));
        return pid;
    };
    Host host;
    int result = 0;
    if (mode == "install") {
        InstallSelf(host, options);
        if (!host.quit) ConfirmCleanStart(g_paths);  // it serves: the update may keep it
    } else if (mode == "update" && argc > 2) {
        options.host = argv[2];
        result = CheckUpdate(host, options);
    } else if (mode == "uninstall") {
        UninstallSelf(options);
    } else {
        return 2;
    }
    Note(JoinPath(g_paths.exeDir, "started-" + std::to_string(platform::CurrentProcessId())),
         mode + " result=" + std::to_string(result) + " quit=" + (host.quit ? "1" : "0") +
             " messages=" + host.messages +
             " cwd=" + platform::PathText(std::filesystem::current_path()));
    return 0;
}
