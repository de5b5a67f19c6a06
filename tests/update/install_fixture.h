#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/paths.h"
#include "platform/desktop.h"
#include "tests/support/temp_dir.h"
#include "tests/update/fake_update_host.h"
#include "update/scripts.h"
#include "update/update_check.h"
#include "update/update_state.h"

// The install step in a temporary home: an executable in start/ with its
// settings and log folder, a desktop, and launches recorded instead of run.
class InstallFixture : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        ResetUpdateState();
        fs::create_directories(home / "Desktop");
        fs::create_directories(home / "start/CATLOG");
        fs::create_directories(home / "cwd");
        fs::create_directories(home / "tmp");
        WriteFile(home / "start/brisken", FakeExecutable());
        fs::permissions(home / "start/brisken", fs::perms::owner_all);
        WriteFile(home / "start/brisken.ini", "[COMPORT]\nport=3\n");
        UseExecutable(home / "start/brisken");
        options.workDir = home / "cwd";
        options.tempDir = home / "tmp";
        options.pid = 4242;
        options.desktopDir = [this] { return desktop; };
        options.launch = [this](const std::string& script, const std::string& dir) {
            const std::string name = fs::path(script).filename().string();
            if (name == refuseLaunchOf) return -1;
            launched.push_back(name + "|" + dir);
            if (name != silentScript) WriteFile(ScriptRunMark(script), "run");  // it began
            return 1;
        };
        options.moveAutoRun = [this](const std::string& exe) {
            events.push_back("autorun:" + exe);
        };
        options.endScript = [this](int pid) { events.push_back("end:" + std::to_string(pid)); };
        options.scriptStartMs = 300;
    }
    void TearDown() override { ResetUpdateState(); }
    void UseExecutable(const std::string& exe) {
        options.paths = DerivePathValues(exe, "", home.path());
    }
    void Install() {
        InstallSelf(host, options);
        for (const auto& e : host.events) events.push_back(e);
    }
    // The desktop shortcut of "brisken" and a script's file name, as this
    // platform names them.
    std::string Shortcut() const {
        return home / ("Desktop/" + platform::ShortcutFileName("brisken"));
    }
    static std::string Script(const std::string& base) { return ScriptFileName(base); }

    TempDir home;
    std::string desktop = home / "Desktop";
    UpdateOptions options;
    FakeUpdateHost host;
    std::vector<std::string> launched;
    std::vector<std::string> events;
    std::string refuseLaunchOf;  // a script name whose launch fails
    std::string silentScript;    // a script name that starts but never begins to run
};
