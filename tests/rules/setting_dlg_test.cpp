#include <gmock/gmock.h>

#include <optional>
#include <sstream>

#include "app/main_window_control.h"
#include "config/autostart.h"
#include "platform/system.h"
#include "tests/rules/rules_fixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kApplyQuestion =
    "변경된 단말기 접속 정보를 바로 적용하시겠습니까?\n(미적용시 다음 실행시 부터 적용됩니다.)";
const std::string kDeleteQuestion = "정말로 삭제하시겠습니까?";

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
    FakeMainControl(std::vector<std::string>& events, std::optional<std::string>& autoRun)
        : m_events(events), m_autoRun(autoRun) {}
    void ClearConfirmExit() override { m_events.push_back("ClearConfirmExit"); }
    void PostQuit() override { m_events.push_back(m_autoRun ? "PostQuit with autostart" : "PostQuit"); }

private:
    std::vector<std::string>& m_events;
    std::optional<std::string>& m_autoRun;
};

class SettingDlgTest : public RulesFixture {
protected:
    void SetUp() override {
        RulesFixture::SetUp();
        g_listedPorts = {"COM3", "COM5"};
        boxes.onAsk = [this](const msgbox::Request& r) {
            events.push_back(r.text == kApplyQuestion ? "apply asked" : "question");
            EXPECT_EQ(r.caption, "Talmira");
            EXPECT_EQ(r.buttons, msgbox::Buttons::YesNo);
            EXPECT_EQ(r.icon, msgbox::Icon::None);
        };
        boxes.answer = msgbox::Answer::No;
    }
    void TearDown() override {
        view.reset();
        dlg.reset();
        RulesFixture::TearDown();
    }

    // Writes the INI file with these values and loads it.
    void Configure(const std::string& port, const std::string& speed, const std::string& autoRunOn,
                   const std::string& show = "hidden", const std::string& log = "N") {
        ASSERT_TRUE(WriteFile(IniPath(), "[COMPORT]\nport=" + port + "\nspeed=" + speed +
                                             "\n[STATUSBOX]\nshow=" + show +
                                             "\n[COMMON]\nauto_run=" + autoRunOn + "\nlog=" + log +
                                             "\n"));
        ASSERT_EQ(LoadSettings(IniPath()), 1);
    }

    void Open() {
        view.reset();
        SettingDlgServices services = Services();
        services.portSource = &ListedPorts;
        dlg = std::make_unique<CSettingDlg>(&control, boxes, services);
        view = std::make_unique<FakeSettingView>(*dlg, ui);
        dlg->OnInitDialog(*view);
    }

    std::string Stored(const std::string& section, const std::string& key) const {
        return IniValue(ReadFile(IniPath()), section, key).value_or("<missing>");
    }
    FakeControl& C(int id) { return view->c[id]; }
    // The user clicks a check box or button.
    void Click(int id) {
        view->Toggle(id);
        dlg->OnCommand(id);
    }
    // The user picks an item of a drop-down list.
    void Choose(int id, const std::string& text) {
        view->Pick(id, text);
        dlg->OnSelChange(id);
    }
    // Clicks 닫기 and lets the posted close run.
    bool CloseByButton() {
        dlg->OnCommand(CSettingDlg::IDC_CLOSE);
        ui.RunPosted();
        return view->ended;
    }

    FakeMainControl control{events, autoRun};
    std::unique_ptr<CSettingDlg> dlg;
    std::unique_ptr<FakeSettingView> view;
};

TEST_F(SettingDlgTest, OpensWithAutoConnectOffShowingConfiguredOrFirstPort) {
    struct Case {
        const char* name;
        std::vector<std::string> listed;
        std::string port, speed;
        std::string shownPort, shownSpeed;
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
        const std::string before = ReadFile(IniPath());
        Open();
        EXPECT_FALSE(C(CSettingDlg::IDC_PORTLIST).enabled);
        EXPECT_FALSE(C(CSettingDlg::IDC_SPEEDLIST).enabled);
        EXPECT_FALSE(C(CSettingDlg::IDC_AUTOCONNECT).checked);
        EXPECT_EQ(C(CSettingDlg::IDC_PORTLIST).Selected(), c.shownPort);
        EXPECT_EQ(C(CSettingDlg::IDC_SPEEDLIST).Selected(), c.shownSpeed);
        EXPECT_EQ(C(CSettingDlg::IDC_SPEEDLIST).items.size(), 4u);
        EXPECT_EQ(ReadFile(IniPath()), before) << "opening writes nothing";
        EXPECT_TRUE(CloseByButton());
        EXPECT_THAT(boxes.asked, IsEmpty());
    }
}

TEST_F(SettingDlgTest, ADeviceChangeFillsThePortListAgainKeepingItsSelection) {
    struct Case {
        const char* name;
        std::vector<std::string> after;
        std::vector<std::string> items;
    };
    const Case cases[] = {
        {"a port came", {"COM3", "COM9", "COM5"}, {"COM3", "COM9", "COM5"}},
        {"the selected port went: kept as it stands", {"COM3"}, {"COM3", "COM5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_listedPorts = {"COM3", "COM5"};
        Configure("5", "9.6K", "Y");
        Open();
        g_listedPorts = c.after;
        dlg->RefillPortList();
        EXPECT_EQ(C(CSettingDlg::IDC_PORTLIST).items, c.items);
        EXPECT_EQ(C(CSettingDlg::IDC_PORTLIST).Selected(), "COM5");
        EXPECT_EQ(Stored("COMPORT", "port"), "5");
    }
}

TEST_F(SettingDlgTest, OpensWithSwitchesLogFolderAndVersion) {
    Configure("3", "9.6K", "Y", "show", "Y");
    ASSERT_FALSE(platform::PathExists(dir / "CATLOG"));
    Open();
    EXPECT_TRUE(C(CSettingDlg::IDC_PORTLIST).enabled);
    EXPECT_TRUE(C(CSettingDlg::IDC_SPEEDLIST).enabled);
    EXPECT_TRUE(C(CSettingDlg::IDC_AUTOCONNECT).checked);
    EXPECT_TRUE(C(CSettingDlg::IDC_STATUSBOX).checked);
    EXPECT_TRUE(C(CSettingDlg::IDC_LOG).checked);
    EXPECT_FALSE(C(CSettingDlg::IDC_AUTORUN).checked);
    EXPECT_EQ(C(CSettingDlg::IDC_LOGFOLDER).text, dir / "CATLOG");
    EXPECT_TRUE(platform::IsDirectory(dir / "CATLOG")) << "opening creates the log folder";
    EXPECT_EQ(C(CSettingDlg::IDC_VERSION).text, "2.0.0.6");
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
        boxes.asked.clear();
        Configure(c.port, c.speed, "N");
        Open();
        Click(CSettingDlg::IDC_AUTOCONNECT);
        EXPECT_TRUE(C(CSettingDlg::IDC_PORTLIST).enabled);
        EXPECT_TRUE(C(CSettingDlg::IDC_SPEEDLIST).enabled);
        EXPECT_TRUE(g_autoConnect);
        EXPECT_EQ(Stored("COMMON", "auto_run"), "Y");
        EXPECT_EQ(Stored("COMPORT", "port"), c.storedPort);
        EXPECT_EQ(Stored("COMPORT", "speed"), c.storedSpeed);
        EXPECT_EQ(g_comPort, c.comPort);
        EXPECT_TRUE(CloseByButton());
        EXPECT_EQ(boxes.asked.size(), c.questions);
    }
}

TEST_F(SettingDlgTest, ClearingAutoConnectDisablesListsAndStoresOff) {
    Configure("5", "9.6K", "Y");
    Open();
    Click(CSettingDlg::IDC_AUTOCONNECT);
    EXPECT_FALSE(C(CSettingDlg::IDC_PORTLIST).enabled);
    EXPECT_FALSE(C(CSettingDlg::IDC_SPEEDLIST).enabled);
    EXPECT_FALSE(g_autoConnect);
    EXPECT_EQ(Stored("COMMON", "auto_run"), "N");
    EXPECT_EQ(Stored("COMPORT", "port"), "5");
}

TEST_F(SettingDlgTest, SwitchesStoreTheirValues) {
    Configure("5", "9.6K", "N");
    Open();
    Click(CSettingDlg::IDC_STATUSBOX);
    Click(CSettingDlg::IDC_LOG);
    EXPECT_EQ(Stored("STATUSBOX", "show"), "show");
    EXPECT_EQ(Stored("COMMON", "log"), "Y");
    EXPECT_TRUE(g_showStatusBox);
    EXPECT_TRUE(g_logEnabled.load());
    Click(CSettingDlg::IDC_STATUSBOX);
    Click(CSettingDlg::IDC_LOG);
    EXPECT_EQ(Stored("STATUSBOX", "show"), "hidden");
    EXPECT_EQ(Stored("COMMON", "log"), "N");
    EXPECT_FALSE(g_showStatusBox);
    EXPECT_FALSE(g_logEnabled.load());
    EXPECT_TRUE(CloseByButton());
    EXPECT_THAT(boxes.asked, IsEmpty()) << "only the port and speed are asked about";
}

TEST_F(SettingDlgTest, ChangingPortAndBackStoresBothAndStillAsks) {
    Configure("5", "9.6K", "Y");
    Open();
    Choose(CSettingDlg::IDC_PORTLIST, "COM3");
    EXPECT_EQ(Stored("COMPORT", "port"), "3");
    EXPECT_EQ(g_comPort, 3);
    Choose(CSettingDlg::IDC_PORTLIST, "COM5");
    EXPECT_EQ(Stored("COMPORT", "port"), "5");
    EXPECT_EQ(g_comPort, 5);
    boxes.answers = {msgbox::Answer::Yes};
    EXPECT_TRUE(CloseByButton());
    EXPECT_THAT(boxes.Texts(), ElementsAre(kApplyQuestion));
    EXPECT_EQ(dlg->m_applyNow, 1);
}

TEST_F(SettingDlgTest, AnsweringNoKeepsNewValuesStored) {
    Configure("5", "9.6K", "Y");
    Open();
    Choose(CSettingDlg::IDC_SPEEDLIST, "115200");
    EXPECT_EQ(Stored("COMPORT", "speed"), "115.2K");
    boxes.answers = {msgbox::Answer::No};
    // The close box takes the same road as the button; a second close asks nothing.
    dlg->OnClose();
    dlg->OnClose();
    EXPECT_TRUE(view->ended);
    EXPECT_THAT(boxes.Texts(), ElementsAre(kApplyQuestion));
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
    Open();
    // Ticking stores the first listed item, a device path, as it stands.
    Click(CSettingDlg::IDC_AUTOCONNECT);
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
        Choose(CSettingDlg::IDC_PORTLIST, s.item);
        EXPECT_EQ(Stored("COMPORT", "port"), s.stored);
        EXPECT_EQ(g_comPort, s.comPort);
        EXPECT_EQ(g_comPortPath, s.path);
    }
}

TEST_F(SettingDlgTest, StartWithSessionBoxWritesAndDeletesTheEntry) {
    Configure("5", "9.6K", "N");
    Open();
    EXPECT_FALSE(C(CSettingDlg::IDC_AUTORUN).checked);
    Click(CSettingDlg::IDC_AUTORUN);
    EXPECT_EQ(autoRun, AutoRunCommand());
    Click(CSettingDlg::IDC_AUTORUN);
    EXPECT_FALSE(autoRun.has_value());
    // An entry from another folder is replaced by the running executable's.
    autoRun = "\"/elsewhere/brisken\"";
    Click(CSettingDlg::IDC_AUTORUN);
    EXPECT_EQ(autoRun, AutoRunCommand());

    // Opened again with an entry present: ticked. The entry then vanishes behind
    // the dialog's back; clearing the box is quiet.
    Open();
    EXPECT_TRUE(C(CSettingDlg::IDC_AUTORUN).checked);
    autoRun.reset();
    Click(CSettingDlg::IDC_AUTORUN);
    EXPECT_FALSE(C(CSettingDlg::IDC_AUTORUN).checked);
    EXPECT_FALSE(autoRun.has_value());
    EXPECT_THAT(boxes.asked, IsEmpty());
}

TEST_F(SettingDlgTest, UninstallAnsweredNoChangesNothing) {
    Configure("5", "9.6K", "N");
    autoRun = AutoRunCommand();
    Open();
    boxes.answers = {msgbox::Answer::No};
    dlg->OnCommand(CSettingDlg::IDC_UNINSTALL);
    ui.RunPosted();
    EXPECT_THAT(boxes.Texts(), ElementsAre(kDeleteQuestion));
    EXPECT_THAT(events, ElementsAre("question"));
    EXPECT_TRUE(autoRun.has_value());
    EXPECT_FALSE(view->ended);
}

TEST_F(SettingDlgTest, UninstallAfterPortChangeAsksApplyAndRequestsRemoval) {
    Configure("5", "9.6K", "Y");
    autoRun = AutoRunCommand();
    Open();
    Choose(CSettingDlg::IDC_PORTLIST, "COM3");
    boxes.answers = {msgbox::Answer::Yes, msgbox::Answer::Yes};
    dlg->OnCommand(CSettingDlg::IDC_UNINSTALL);
    ui.RunPosted();
    EXPECT_TRUE(view->ended);
    // The quit comes after the close has asked: a quit that ends every loop at
    // once must not swallow the question.
    EXPECT_THAT(events, ElementsAre("question", "UninstallSelf", "ClearConfirmExit", "apply asked",
                                    "PostQuit"));
    EXPECT_THAT(boxes.Texts(), ElementsAre(kDeleteQuestion, kApplyQuestion));
    EXPECT_EQ(dlg->m_applyNow, 1);
    EXPECT_FALSE(autoRun.has_value());
}

TEST_F(SettingDlgTest, UninstallEndedByAQuitBeforeItsCloseStillQuits) {
    Configure("5", "9.6K", "N");
    dlg = std::make_unique<CSettingDlg>(&control, boxes, Services());
    view = std::make_unique<FakeSettingView>(*dlg, ui);
    view->onRun = [this](FakeSettingView&) {
        dlg->OnCommand(CSettingDlg::IDC_UNINSTALL);
        ui.quit = true;  // a quit from elsewhere ends the dialog's loop first
    };
    boxes.answers = {msgbox::Answer::Yes};
    dlg->DoModal(*view);
    EXPECT_FALSE(view->ended);
    EXPECT_THAT(events, ElementsAre("question", "UninstallSelf", "ClearConfirmExit", "PostQuit"));
}

}  // namespace
