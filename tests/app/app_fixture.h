#pragma once
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/brisken_dlg.h"
#include "app/control_ids.h"
#include "app/message_box.h"
#include "app/progress_dlg.h"
#include "config/paths.h"
#include "config/settings.h"
#include "platform/system.h"
#include "log/traffic_log.h"
#include "relay/relay_state.h"
#include "tests/support/temp_dir.h"

// No serial ports reported: the list falls back to COM1..COM20 (plus a
// configured device path that exists).
inline std::vector<std::string> NoReportedPorts() { return {}; }

// One main window at a time, with its files in a temporary folder, every
// message box answered by the test and every outside service replaced.
class AppFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettings();
        g_paths = DerivePathValues(ExePath(), "", platform::GetEnv("HOME"));
        g_relay.serialOpen = false;
        g_relay.vanConnected = false;
        g_relay.catActive = false;
        msgbox::SetAnswerer([this](const msgbox::Request& r) {
            asked.push_back(r);
            if (onAsk) onAsk(r);
            return answer;
        });
    }
    void TearDown() override {
        msgbox::SetAnswerer({});
        ResetSettings();
        ConfigureTrafficLog("", "", {});
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

    StartOptions Options() {
        StartOptions o;
        o.exePath = ExePath();
        o.copyWaitMs = 0;
        o.countCopies = [this](const std::string& name) {
            countedName = name;
            return copies;
        };
        o.networkUp = [this] { return networkUp; };
        o.installSelf = [this](IUpdateHost&) { installRan = true; };
        o.checkUpdate = [this](IUpdateHost&) { return updateResult; };
        o.runSettingsDialog = [this](QWidget*, IMainWindowControl*) {
            if (onSettings) onSettings();
            return applyNow;
        };
        o.showAboutBox = [this](QWidget*) { ++aboutShown; };
        o.portSource = &NoReportedPorts;
        o.screenRect = [] { return QRect(0, 0, 1920, 1080); };
        return o;
    }

    template <typename T>
    static T* Find(QWidget* window, int id) {
        return window->findChild<T*>(QString::number(id));
    }
    static QString Text(QWidget* window, int id) { return Find<QLabel>(window, id)->text(); }
    static bool Enabled(QWidget* window, int id) { return Find<QWidget>(window, id)->isEnabled(); }
    static void SelectPort(CBriskenDlg& w, const QString& text) {
        auto* list = Find<QComboBox>(&w, ids::kPortList);
        list->setCurrentIndex(list->findText(text));
    }
    // Lets the queued display writes land.
    static bool WaitText(QWidget* window, int id, const QString& text, int ms = 3000) {
        return QTest::qWaitFor([&] { return Text(window, id) == text; }, ms);
    }
    std::vector<QString> AskedTexts() const {
        std::vector<QString> out;
        for (const auto& r : asked) out.push_back(r.text);
        return out;
    }

    TempDir dir;
    int copies = 1;
    bool networkUp = true;
    bool installRan = false;
    int updateResult = 1;
    int applyNow = 0;
    int aboutShown = 0;
    std::string countedName;
    std::function<void()> onSettings;
    std::vector<msgbox::Request> asked;
    std::function<void(const msgbox::Request&)> onAsk;
    msgbox::Answer answer = msgbox::Answer::Yes;
};

inline const QString kNotLinked = QStringLiteral("CAT : 비연결 | VAN : 비연결");
