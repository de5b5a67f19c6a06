#include "config/gui/setting_dlg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "app/main_window_control.h"
#include "app/message_box.h"
#include "config/paths.h"
#include "config/settings.h"
#include "log/traffic_log.h"
#include "platform/system.h"
#include "tests/support/temp_dir.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const QString kApplyQuestion = QString::fromUtf8(
    "변경된 단말기 접속 정보를 바로 적용하시겠습니까?\n(미적용시 다음 실행시 부터 적용됩니다.)");
const QString kDeleteQuestion = QString::fromUtf8("정말로 삭제하시겠습니까?");

std::vector<std::string> g_listedPorts;
std::vector<std::string> ListedPorts() { return g_listedPorts; }

// The value of section/key in an INI text, names matched without regard to case.
std::optional<std::string> IniValue(const std::string& text, const std::string& section,
                                    const std::string& key) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            current = lower(line.substr(1, line.find(']') - 1));
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos && current == lower(section) && lower(line.substr(0, eq)) == lower(key))
            return line.substr(eq + 1);
    }
    return std::nullopt;
}

// Records what the dialog asks of the main window, and in which order.
class FakeMainControl : public IMainWindowControl {
public:
    explicit FakeMainControl(std::vector<std::string>& events) : m_events(events) {}
    void ClearConfirmExit() override { m_events.push_back("ClearConfirmExit"); }
    void PostQuit() override {
        m_events.push_back(IsAutoRunRegistered() ? "PostQuit with autostart" : "PostQuit");
        // As the main window does: every running loop ends at once.
        if (exitLoops) QCoreApplication::exit(0);
    }
    bool exitLoops = false;

private:
    std::vector<std::string>& m_events;
};

class SettingDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        SaveEnv("HOME", m_oldHome);
        SaveEnv("XDG_CONFIG_HOME", m_oldConfig);
        setenv("HOME", m_dir.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        m_oldPaths = g_paths;
        g_paths = DerivePathValues(m_dir / "brisken", "", m_dir.path());
        ConfigureTrafficLog(m_dir / "CATLOG", "brisken");
        ResetSettings();
        g_listedPorts = {"COM3", "COM5"};
        msgbox::SetAnswerer([this](const msgbox::Request& r) {
            m_asked.push_back(r.text);
            m_events.push_back(r.text == kApplyQuestion ? "apply asked" : "question");
            EXPECT_EQ(r.caption, QStringLiteral("Talmira"));
            EXPECT_EQ(r.buttons, msgbox::Buttons::YesNo);
            EXPECT_EQ(r.icon, msgbox::Icon::None);
            if (m_answers.empty()) return msgbox::Answer::No;
            const msgbox::Answer a = m_answers.front();
            m_answers.erase(m_answers.begin());
            return a;
        });
    }

    void TearDown() override {
        msgbox::SetAnswerer({});
        ResetSettings();
        g_paths = m_oldPaths;
        RestoreEnv("HOME", m_oldHome);
        RestoreEnv("XDG_CONFIG_HOME", m_oldConfig);
    }

    // Writes the INI file with these values and loads it.
    void Configure(const std::string& port, const std::string& speed, const std::string& autoRun,
                   const std::string& show = "hidden", const std::string& log = "N") {
        ASSERT_TRUE(WriteFile(Ini(), "[COMPORT]\nport=" + port + "\nspeed=" + speed +
                                         "\n[STATUSBOX]\nshow=" + show + "\n[COMMON]\nauto_run=" +
                                         autoRun + "\nlog=" + log + "\n"));
        ASSERT_EQ(LoadSettings(Ini()), 1);
    }

    std::unique_ptr<CSettingDlg> Open() {
        SettingDlgServices services;
        services.portSource = &ListedPorts;
        services.uninstall = [this] { m_events.push_back("UninstallSelf"); };
        auto dlg = std::make_unique<CSettingDlg>(nullptr, m_control, services);
        dlg->show();
        return dlg;
    }

    std::string Ini() const { return m_dir / "brisken.ini"; }
    std::string Stored(const std::string& section, const std::string& key) const {
        return IniValue(ReadFile(Ini()), section, key).value_or("<missing>");
    }

    template <class T>
    static T* Control(CSettingDlg& dlg, int id) {
        T* w = dlg.findChild<T*>(QString::number(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }
    static QComboBox* List(CSettingDlg& dlg, int id) { return Control<QComboBox>(dlg, id); }
    static QCheckBox* Box(CSettingDlg& dlg, int id) { return Control<QCheckBox>(dlg, id); }

    // The user picks an item of a drop-down list.
    static void Choose(QComboBox* list, const QString& text) {
        const int index = list->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        list->setCurrentIndex(index);
        emit list->activated(index);
    }

    // Clicks 닫기 and waits for the dialog to end.
    static bool CloseByButton(CSettingDlg& dlg) {
        Control<QPushButton>(dlg, CSettingDlg::IDC_CLOSE)->click();
        return QTest::qWaitFor([&] { return !dlg.isVisible(); }, 5000);
    }

    static void SaveEnv(const char* name, std::optional<std::string>& slot) {
        if (const char* v = std::getenv(name)) slot = v;
    }
    static void RestoreEnv(const char* name, const std::optional<std::string>& slot) {
        if (slot)
            setenv(name, slot->c_str(), 1);
        else
            unsetenv(name);
    }

    TempDir m_dir;
    std::optional<std::string> m_oldHome, m_oldConfig;
    PathValues m_oldPaths;
    std::vector<QString> m_asked;
    std::vector<msgbox::Answer> m_answers;
    std::vector<std::string> m_events;
    FakeMainControl m_control{m_events};
};

TEST_F(SettingDlgTest, OpensWithAutoConnectOffShowingConfiguredOrFirstPort) {
    struct Case {
        const char* name;
        std::vector<std::string> listed;
        std::string port, speed;
        QString shownPort, shownSpeed;
    };
    const Case cases[] = {
        {"listed port", {"COM3", "COM5"}, "5", "56.0K", "COM5", "57600"},
        {"unlisted port", {"COM3", "COM5"}, "7", "115.2K", "COM3", "115200"},
        {"no port, fixed list", {}, "0", "38.4k", "COM1", "38400"},
        {"device paths", {"/dev/ttyUSB0", "/dev/ttyACM0"}, "/dev/ttyACM0", "9.6K", "/dev/ttyACM0", "9600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_listedPorts = c.listed;
        Configure(c.port, c.speed, "N");
        const std::string before = ReadFile(Ini());
        auto dlg = Open();
        QComboBox* ports = List(*dlg, CSettingDlg::IDC_PORTLIST);
        QComboBox* speeds = List(*dlg, CSettingDlg::IDC_SPEEDLIST);
        EXPECT_FALSE(ports->isEnabled());
        EXPECT_FALSE(speeds->isEnabled());
        EXPECT_FALSE(Box(*dlg, CSettingDlg::IDC_AUTOCONNECT)->isChecked());
        EXPECT_EQ(ports->currentText(), c.shownPort);
        EXPECT_EQ(speeds->currentText(), c.shownSpeed);
        EXPECT_EQ(speeds->count(), 4);
        EXPECT_EQ(ReadFile(Ini()), before) << "opening writes nothing";
        EXPECT_TRUE(CloseByButton(*dlg));
        EXPECT_THAT(m_asked, IsEmpty());
    }
}

TEST_F(SettingDlgTest, OpensWithSwitchesTextsLogFolderAndVersion) {
    Configure("3", "9.6K", "Y", "show", "Y");
    ASSERT_FALSE(platform::PathExists(m_dir / "CATLOG"));
    auto dlg = Open();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Talmira SETUP"));
    EXPECT_TRUE(List(*dlg, CSettingDlg::IDC_PORTLIST)->isEnabled());
    EXPECT_TRUE(List(*dlg, CSettingDlg::IDC_SPEEDLIST)->isEnabled());
    EXPECT_TRUE(Box(*dlg, CSettingDlg::IDC_AUTOCONNECT)->isChecked());
    EXPECT_TRUE(Box(*dlg, CSettingDlg::IDC_STATUSBOX)->isChecked());
    EXPECT_TRUE(Box(*dlg, CSettingDlg::IDC_LOG)->isChecked());
    EXPECT_FALSE(Box(*dlg, CSettingDlg::IDC_AUTORUN)->isChecked());
    EXPECT_EQ(Box(*dlg, CSettingDlg::IDC_AUTORUN)->text(), QString::fromUtf8("  WINDOWS와 함께 시작"));
    EXPECT_EQ(Box(*dlg, CSettingDlg::IDC_AUTOCONNECT)->text(), QString::fromUtf8("  시작시 자동 연결"));
    EXPECT_EQ(Box(*dlg, CSettingDlg::IDC_STATUSBOX)->text(),
              QString::fromUtf8("  단말기 연결 후 상태창 표시"));
    EXPECT_EQ(Box(*dlg, CSettingDlg::IDC_LOG)->text(), QString::fromUtf8("  로그 파일 만들기"));

    auto* folder = Control<QPushButton>(*dlg, CSettingDlg::IDC_LOGFOLDER);
    EXPECT_FALSE(folder->isEnabled());
    EXPECT_EQ(folder->text().toStdString(), m_dir / "CATLOG");
    EXPECT_TRUE(platform::IsDirectory(m_dir / "CATLOG")) << "opening creates the log folder";

    auto* version = Control<QLineEdit>(*dlg, CSettingDlg::IDC_VERSION);
    EXPECT_TRUE(version->isReadOnly());
    EXPECT_EQ(version->text(), QStringLiteral("2.0.0.6"));
    EXPECT_EQ(dlg->m_applyNow, 0);
}

TEST_F(SettingDlgTest, TickingAutoConnectStoresShownPortAndSpeed) {
    struct Case {
        const char* name;
        std::string port, speed;
        std::string storedPort, storedSpeed;
        int comPort;
        size_t questions;
    };
    const Case cases[] = {
        // Fresh install: port 0 is not listed, so the first listed port is stored.
        {"unlisted port", "0", "9.6K", "3", "9.6K", 3, 1},
        {"configured port shown", "5", "56.0K", "5", "56.0K", 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_asked.clear();
        Configure(c.port, c.speed, "N");
        auto dlg = Open();
        Box(*dlg, CSettingDlg::IDC_AUTOCONNECT)->click();
        EXPECT_TRUE(List(*dlg, CSettingDlg::IDC_PORTLIST)->isEnabled());
        EXPECT_TRUE(List(*dlg, CSettingDlg::IDC_SPEEDLIST)->isEnabled());
        EXPECT_TRUE(g_autoConnect);
        EXPECT_EQ(Stored("COMMON", "auto_run"), "Y");
        EXPECT_EQ(Stored("COMPORT", "port"), c.storedPort);
        EXPECT_EQ(Stored("COMPORT", "speed"), c.storedSpeed);
        EXPECT_EQ(g_comPort, c.comPort);
        EXPECT_TRUE(CloseByButton(*dlg));
        EXPECT_EQ(m_asked.size(), c.questions);
    }
}

TEST_F(SettingDlgTest, ClearingAutoConnectDisablesListsAndStoresOff) {
    Configure("5", "9.6K", "Y");
    auto dlg = Open();
    Box(*dlg, CSettingDlg::IDC_AUTOCONNECT)->click();
    EXPECT_FALSE(List(*dlg, CSettingDlg::IDC_PORTLIST)->isEnabled());
    EXPECT_FALSE(List(*dlg, CSettingDlg::IDC_SPEEDLIST)->isEnabled());
    EXPECT_FALSE(g_autoConnect);
    EXPECT_EQ(Stored("COMMON", "auto_run"), "N");
    EXPECT_EQ(Stored("COMPORT", "port"), "5");
}

TEST_F(SettingDlgTest, SwitchesStoreTheirValues) {
    Configure("5", "9.6K", "N");
    auto dlg = Open();
    Box(*dlg, CSettingDlg::IDC_STATUSBOX)->click();
    Box(*dlg, CSettingDlg::IDC_LOG)->click();
    EXPECT_EQ(Stored("STATUSBOX", "show"), "show");
    EXPECT_EQ(Stored("COMMON", "log"), "Y");
    EXPECT_TRUE(g_showStatusBox);
    EXPECT_TRUE(g_logEnabled.load());
    Box(*dlg, CSettingDlg::IDC_STATUSBOX)->click();
    Box(*dlg, CSettingDlg::IDC_LOG)->click();
    EXPECT_EQ(Stored("STATUSBOX", "show"), "hidden");
    EXPECT_EQ(Stored("COMMON", "log"), "N");
    EXPECT_FALSE(g_showStatusBox);
    EXPECT_FALSE(g_logEnabled.load());
    EXPECT_TRUE(CloseByButton(*dlg));
    EXPECT_THAT(m_asked, IsEmpty()) << "only the port and speed are asked about";
}

TEST_F(SettingDlgTest, ChangingPortAndBackStoresBothAndStillAsks) {
    Configure("5", "9.6K", "Y");
    auto dlg = Open();
    QComboBox* ports = List(*dlg, CSettingDlg::IDC_PORTLIST);
    Choose(ports, "COM3");
    EXPECT_EQ(Stored("COMPORT", "port"), "3");
    EXPECT_EQ(g_comPort, 3);
    Choose(ports, "COM5");
    EXPECT_EQ(Stored("COMPORT", "port"), "5");
    EXPECT_EQ(g_comPort, 5);
    m_answers = {msgbox::Answer::Yes};
    EXPECT_TRUE(CloseByButton(*dlg));
    EXPECT_THAT(m_asked, ElementsAre(kApplyQuestion));
    EXPECT_EQ(dlg->m_applyNow, 1);
}

TEST_F(SettingDlgTest, AnsweringNoKeepsNewValuesStored) {
    Configure("5", "9.6K", "Y");
    auto dlg = Open();
    Choose(List(*dlg, CSettingDlg::IDC_SPEEDLIST), "115200");
    EXPECT_EQ(Stored("COMPORT", "speed"), "115.2K");
    m_answers = {msgbox::Answer::No};
    // The close box takes the same road as the button.
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_THAT(m_asked, ElementsAre(kApplyQuestion));
    EXPECT_EQ(dlg->m_applyNow, 0);
    EXPECT_EQ(g_comSpeed, "115200");
    EXPECT_EQ(Stored("COMPORT", "speed"), "115.2K");
}

TEST_F(SettingDlgTest, PortItemsStoreNumberOrDevicePath) {
    struct Step {
        const char* item;
        std::string stored;
        int comPort;
        std::string path;
    };
    g_listedPorts = {"/dev/ttyUSB0", "COM12", "COMx", "COM7a", "/dev/ttyUSB1"};
    Configure("0", "9.6K", "N");
    auto dlg = Open();
    // Ticking stores the first listed item, a device path, as it stands.
    Box(*dlg, CSettingDlg::IDC_AUTOCONNECT)->click();
    EXPECT_EQ(Stored("COMPORT", "port"), "/dev/ttyUSB0");
    EXPECT_EQ(g_comPortPath, "/dev/ttyUSB0");
    EXPECT_EQ(g_comPort, 0);
    const Step steps[] = {
        {"COM12", "12", 12, ""},
        {"COMx", "0", 0, ""},  // three characters and a non-digit: no port
        {"COM7a", "7", 7, ""},  // stored as the number it is read as
        {"/dev/ttyUSB1", "/dev/ttyUSB1", 0, "/dev/ttyUSB1"},
        {"COMx", "0", 0, ""},  // from a device path to no port is a change
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.item);
        Choose(List(*dlg, CSettingDlg::IDC_PORTLIST), QString::fromUtf8(s.item));
        EXPECT_EQ(Stored("COMPORT", "port"), s.stored);
        EXPECT_EQ(g_comPort, s.comPort);
        EXPECT_EQ(g_comPortPath, s.path);
    }
}

TEST_F(SettingDlgTest, EnterAndEscapeDoNothing) {
    Configure("5", "9.6K", "Y");
    auto dlg = Open();
    Choose(List(*dlg, CSettingDlg::IDC_PORTLIST), "COM3");
    auto* closeButton = Control<QPushButton>(*dlg, CSettingDlg::IDC_CLOSE);
    QWidget* targets[] = {dlg.get(), closeButton, List(*dlg, CSettingDlg::IDC_PORTLIST),
                          Box(*dlg, CSettingDlg::IDC_LOG)};
    for (QWidget* target : targets) {
        target->setFocus();
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(target, key);
            QCoreApplication::processEvents();
            EXPECT_TRUE(dlg->isVisible()) << target->objectName().toStdString() << " key " << key;
        }
    }
    EXPECT_THAT(m_asked, IsEmpty());
    EXPECT_FALSE(Box(*dlg, CSettingDlg::IDC_LOG)->isChecked());
}

TEST_F(SettingDlgTest, StartWithSessionBoxWritesAndDeletesTheEntry) {
    Configure("5", "9.6K", "N");
    {
        auto dlg = Open();
        QCheckBox* box = Box(*dlg, CSettingDlg::IDC_AUTORUN);
        EXPECT_FALSE(box->isChecked());
        box->click();
        EXPECT_TRUE(IsAutoRunRegistered());
        box->click();
        EXPECT_FALSE(IsAutoRunRegistered());
        box->click();
    }
    // Opened again with an entry present: ticked. The entry then vanishes behind
    // the dialog's back; clearing the box is quiet.
    auto dlg = Open();
    QCheckBox* box = Box(*dlg, CSettingDlg::IDC_AUTORUN);
    EXPECT_TRUE(box->isChecked());
    ASSERT_EQ(DeleteAutoRunValue(), 1);
    box->click();
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(IsAutoRunRegistered());
    EXPECT_THAT(m_asked, IsEmpty());
}

TEST_F(SettingDlgTest, UninstallAnsweredNoChangesNothing) {
    Configure("5", "9.6K", "N");
    ASSERT_EQ(SetAutoRun(AutoRunCommand()), 1);
    auto dlg = Open();
    m_answers = {msgbox::Answer::No};
    Control<QPushButton>(*dlg, CSettingDlg::IDC_UNINSTALL)->click();
    QCoreApplication::processEvents();
    EXPECT_THAT(m_asked, ElementsAre(kDeleteQuestion));
    EXPECT_THAT(m_events, ElementsAre("question"));
    EXPECT_TRUE(IsAutoRunRegistered());
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(SettingDlgTest, UninstallAfterPortChangeAsksApplyAndRequestsRemoval) {
    Configure("5", "9.6K", "Y");
    ASSERT_EQ(SetAutoRun(AutoRunCommand()), 1);
    auto dlg = Open();
    Choose(List(*dlg, CSettingDlg::IDC_PORTLIST), "COM3");
    m_answers = {msgbox::Answer::Yes, msgbox::Answer::Yes};
    Control<QPushButton>(*dlg, CSettingDlg::IDC_UNINSTALL)->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg->isVisible(); }, 5000));
    // The quit comes after the close has asked: a quit that ends every loop at
    // once must not swallow the question.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_events.empty() && m_events.back() == "PostQuit"; }, 5000));
    EXPECT_THAT(m_events, ElementsAre("question", "UninstallSelf", "ClearConfirmExit", "apply asked",
                                      "PostQuit"));
    EXPECT_THAT(m_asked, ElementsAre(kDeleteQuestion, kApplyQuestion));
    EXPECT_EQ(dlg->m_applyNow, 1);
    EXPECT_FALSE(IsAutoRunRegistered());
}

TEST_F(SettingDlgTest, UninstallRunModallyAsksApplyBeforeAQuitThatEndsEveryLoop) {
    Configure("5", "9.6K", "Y");
    m_control.exitLoops = true;
    auto dlg = Open();
    m_answers = {msgbox::Answer::Yes, msgbox::Answer::No};
    QTimer::singleShot(0, dlg.get(), [&] {
        Choose(List(*dlg, CSettingDlg::IDC_PORTLIST), "COM3");
        Control<QPushButton>(*dlg, CSettingDlg::IDC_UNINSTALL)->click();
    });
    QTimer::singleShot(10000, dlg.get(), [&] { dlg->done(QDialog::Accepted); });  // bound only
    EXPECT_EQ(dlg->exec(), QDialog::Rejected);
    EXPECT_THAT(m_asked, ElementsAre(kDeleteQuestion, kApplyQuestion));
    EXPECT_THAT(m_events, ElementsAre("question", "UninstallSelf", "ClearConfirmExit", "apply asked",
                                      "PostQuit"));
    EXPECT_EQ(dlg->m_applyNow, 0);
}

}  // namespace
