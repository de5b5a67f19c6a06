#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/update/fake_update_host.h"
#include "update/download.h"
#include "update/scripts.h"
#include "update/update_check.h"
#include "update/update_state.h"

// The version check against a loopback update server, with scripts written
// into a temporary home and launches recorded.

inline const std::string kVersionPath = "/brisken/brisken_ver.php?app_name=Brisken";

inline DownloadLimits FastLimits() { return DownloadLimits{2000, 1024, 1}; }

class CheckUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetUpdateState();
        std::filesystem::create_directory(home / "QAVEX");
        std::filesystem::create_directory(home / "cwd");
        std::filesystem::create_directory(home / "tmp");
        options.paths = DerivePathValues(home / "start/brisken", "", home.path());
        options.host = server.host();
        options.workDir = home / "cwd";
        options.tempDir = home / "tmp";
        options.nowSeconds = [this] { return now; };
        options.pid = 4242;
        options.networkUp = [] { return true; };
        options.launch = [this](const std::string& script, const std::string& dir) {
            launched.push_back(script + "|" + dir);
            WriteFile(ScriptRunMark(script), "run");  // the script began
            return 1;
        };
        options.scriptStartMs = 300;
        options.versionConnectMs = 2000;
        options.versionTotalMs = 2000;
        options.updateKey = "";  // a build without a key, unless a test gives one
    }
    void TearDown() override { ResetUpdateState(); }
    void Answer(const std::string& line) { server.Set(kVersionPath, TestHttpServer::Ok(line)); }
    std::string Download() const { return JoinPath(options.paths.installDir, "UpdateFile.sob"); }

    TempDir home;
    TestHttpServer server;
    UpdateOptions options;
    FakeUpdateHost host;
    std::vector<std::string> launched;
    int64_t now = 1700000000;
};
