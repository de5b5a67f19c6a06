#pragma once
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "config/paths.h"
#include "config/settings.h"
#include "log/traffic_log.h"
#include "relay/relay_state.h"
#include "tests/support/fake_views.h"
#include "tests/support/temp_dir.h"
#include "app/update_dlg.h"
#include "update/update_state.h"

// No serial ports reported: the list falls back to COM1..COM20.
inline std::vector<std::string> NoReportedPorts() { return {}; }

inline const std::string kNotLinked = "CAT : 비연결 | VAN : 비연결";

// The serial port and the relay workers as connection control sees them: a
// port that opens (or not) and writes the display lines as the real relay does.
class FakeRelay : public IRelayLinks {
public:
    bool OpenSerialPort(const std::string& port, const std::string& speed) override {
        opened.push_back(port + " " + speed);
        if (!openWorks) return false;
        g_relay.serialOpen = true;
        UpdateLinkText();
        return true;
    }
    void StartWorkers(IDisplayTarget*) override { started = true; }
    void LineLost() override { ++linesLost; }
    void StopRelayLinks() override {
        ShutdownRelay();
        SetProgressText("");
        UpdateLinkText();
    }
    void ShutdownRelay() override {
        started = false;
        g_relay.serialOpen = false;
    }

    bool openWorks = true;
    bool started = false;
    int linesLost = 0;
    std::vector<std::string> opened;  // "port speed"
};

// The program's files in a temporary folder, every message box answered by the
// test, every outside service replaced.
class RulesFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettings();
        g_paths = DerivePathValues(ExePath(), "", dir.path());
        g_relay.serialOpen = false;
        g_relay.vanConnected = false;
        g_relay.catActive = false;
        ConfigureTrafficLog(dir / "CATLOG", "brisken");
    }
    void TearDown() override {
        ResetSettings();
        ConfigureTrafficLog("", "", {});
        g_relay.serialOpen = false;
    }

    struct Ini {
        std::string port = "0";
        std::string speed = "115.2K";
        bool showStatus = false;
        bool autoConnect = false;
        bool log = false;
    };
    void WriteIni(const Ini& ini) {
        WriteFile(IniPath(), "[COMPORT]\nport=" + ini.port + "\nspeed=" + ini.speed +
                                 "\n[STATUSBOX]\nshow=" + (ini.showStatus ? "show" : "hidden") +
                                 "\n[COMMON]\nauto_run=" + (ini.autoConnect ? "Y" : "N") +
                                 "\nlog=" + (ini.log ? "Y" : "N") + "\n");
    }
    std::string ExePath() const { return dir / "brisken"; }
    std::string IniPath() const { return dir / "brisken.ini"; }

    // The autostart entry, kept here instead of the user's session.
    SettingDlgServices Services() {
        SettingDlgServices s;
        s.portSource = &NoReportedPorts;
        s.isAutoRunRegistered = [this] { return autoRun.has_value(); };
        s.setAutoRun = [this](const std::string& command) {
            autoRun = command;
            return 1;
        };
        s.deleteAutoRun = [this] {
            const bool had = autoRun.has_value();
            autoRun.reset();
            return had ? 1 : 0;
        };
        s.uninstall = [this] { events.push_back("UninstallSelf"); };
        return s;
    }

    StartOptions Options() {
        StartOptions o;
        o.exePath = ExePath();
        o.copyWaitMs = 0;
        o.countCopies = [this](const std::string& name) {
            countedName = name;
            return copies;
        };
        // No lock by default: the count decides, as it does without one.
        o.claimInstance = [this] {
            const platform::InstanceClaim c = claims.empty() ? claim : claims.front();
            if (!claims.empty()) claims.erase(claims.begin());
            return c;
        };
        o.networkUp = [this] {
            return networkUp || (networkAfterMs >= 0 && clockMs >= networkAfterMs);
        };
        // The late-network wait on a clock that only its sleeps move.
        o.nowMs = [this] { return clockMs; };
        o.sleepMs = [this](int ms) {
            sleeps.push_back(ms);
            clockMs += ms;
        };
        o.installSelf = [this](IUpdateHost& host) {
            installRan = true;
            for (const std::string& text : installSays) host.ShowAppMessage(text);
        };
        o.checkUpdate = [this](IUpdateHost& host) {
            for (const std::string& text : updateSays) host.ShowAppMessage(text);
            return updateResult;
        };
        o.portSource = &NoReportedPorts;
        o.settings = Services();
        o.deleteAutoRun = o.settings.deleteAutoRun;
        o.relay = &relay;
        o.keepAwake = [this](bool on) { awake.push_back(on); };
        return o;
    }

    TempDir dir;
    std::vector<bool> awake;  // the keep-awake requests, in order
    FakeUiThread ui;
    FakeMessageBoxes boxes;
    FakeRelay relay;
    int copies = 1;
    // What each try at the one-copy lock finds (claims first, then claim).
    platform::InstanceClaim claim = platform::InstanceClaim::Unavailable;
    std::vector<platform::InstanceClaim> claims;
    bool networkUp = true;
    int64_t networkAfterMs = -1;  // >= 0: the network comes up at this time
    int64_t clockMs = 0;
    std::vector<int> sleeps;  // the start's sleeps while it waits for the network
    bool installRan = false;
    int updateResult = 1;
    std::vector<std::string> installSays, updateSays;  // their messages to the user
    std::string countedName;
    std::optional<std::string> autoRun;  // the autostart entry's command
    std::vector<std::string> events;
};

// The rules' fixture for tests of the download window: the update state fresh
// before each test, the window and the state gone after it.
class DownloadFixture : public RulesFixture {
protected:
    void SetUp() override {
        RulesFixture::SetUp();
        ResetUpdateState();
    }
    void TearDown() override {
        DestroyUpdateDialog();
        ResetUpdateState();
        RulesFixture::TearDown();
    }
};
