// The main window's rules with the real relay, a terminal on a pseudo-terminal,
// a VAN and an update server on 127.0.0.1: what the fake-view suite cannot show
// about the real links. Linux only (pseudo-terminals); no toolkit.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "config/port_identity.h"
#include "tests/rules/rules_fixture.h"
#include "tests/support/http_server.h"
#include "tools/catsim/cat_simulator.h"
#include "tools/vansim/van_simulator.h"
#include "update/update_state.h"

namespace {

class RealLinks : public RulesFixture {
protected:
    void TearDown() override {
        view.reset();
        w.reset();
        DestroyUpdateDialog();
        ResetUpdateState();
        RulesFixture::TearDown();
    }
    // The main window with the real serial port and relay workers.
    void Start(StartOptions options) {
        options.relay = nullptr;
        view.reset();  // a window goes before its rules
        w.reset();
        w = std::make_unique<CBriskenDlg>(boxes, std::move(options));
        view = std::make_unique<FakeMainView>(*w, ui);
        ASSERT_TRUE(w->OnInitDialog(*view));
        view->ShowWindow(WindowShow::Show);
    }
    bool WaitText(int id, const std::string& text) {
        return ui.RunUntil([&] { return view->c[id].text == text; }, 3000);
    }
    FakeControl& C(int id) { return view->c[id]; }
    // Connect's open runs off the window's thread; its result comes as a post.
    bool WaitConnected() { return ui.RunUntil([&] { return w->Connected(); }, 3000); }

    std::unique_ptr<CBriskenDlg> w;
    std::unique_ptr<FakeMainView> view;
};

TEST_F(RealLinks, AutoConnectOnAPseudoTerminalNeverShowsTheWindow) {
    for (const bool showStatus : {false, true}) {
        SCOPED_TRACE(showStatus);
        auto cat = catsim::CatSimulator::CreatePty();
        ASSERT_TRUE(cat);
        WriteIni({.port = cat->DevicePath(), .showStatus = showStatus, .autoConnect = true});
        Start(Options());
        ASSERT_TRUE(WaitConnected());
        EXPECT_FALSE(view->visible);
        EXPECT_FALSE(w->ShowAllowed());
        EXPECT_TRUE(g_relay.serialOpen.load());
        EXPECT_FALSE(C(ids::kConnect).enabled);
        EXPECT_TRUE(C(ids::kDisconnect).enabled);
        EXPECT_FALSE(C(ids::kPortList).enabled);
        EXPECT_FALSE(C(ids::kSpeedList).enabled);
        EXPECT_EQ(view->status->visible, showStatus);
        EXPECT_EQ(C(ids::kPortList).Selected(), cat->DevicePath());
        // The relay answers the terminal.
        ASSERT_TRUE(cat->SendLoneCr());
        EXPECT_TRUE(cat->ExpectBurst(catsim::kACK, 3000));
        EXPECT_TRUE(WaitText(ids::kLinkLine, "CAT : 연결 | VAN : 비연결"));
        w->OnDisconnect();
        EXPECT_FALSE(g_relay.serialOpen.load());
    }
}

TEST_F(RealLinks, AutoConnectWaitsForAPortThatAppearsLaterWithoutABox) {
    g_relay.reopenMs = 100;
    const std::string link = dir / "ttyLATE";  // an adapter not plugged in yet
    WriteIni({.port = link, .autoConnect = true, .log = true});
    boxes.onAsk = [](const msgbox::Request& r) { ADD_FAILURE() << "a box at the start: " << r.text; };
    Start(Options());
    EXPECT_TRUE(boxes.notices.empty());
    ASSERT_TRUE(WaitText(ids::kMainTransferText, "시리얼 연결 오류"))
        << "transfer line: " << C(ids::kMainTransferText).text
        << ", port: " << C(ids::kPortList).Selected() << ", auto: " << g_autoConnect;
    EXPECT_EQ(view->colour, kErrorColour);
    EXPECT_FALSE(g_relay.serialOpen.load());
    EXPECT_TRUE(C(ids::kDisconnect).enabled);

    auto cat = catsim::CatSimulator::CreatePty();
    ASSERT_TRUE(cat);
    ASSERT_EQ(::symlink(cat->DevicePath().c_str(), link.c_str()), 0);
    EXPECT_TRUE(WaitText(ids::kLinkLine, "CAT : 연결 | VAN : 비연결"));
    EXPECT_TRUE(WaitText(ids::kMainTransferText, ""));
    ASSERT_TRUE(cat->SendLoneCr());
    EXPECT_TRUE(cat->ExpectBurst(catsim::kACK, 3000));
    w->OnDisconnect();
    g_relay.reopenMs = 2000;
}

std::vector<platform::PortIdentity> g_fakeDevices;
std::vector<platform::PortIdentity> FakeDevices() { return g_fakeDevices; }

// The terminal's adapter at another number: the fake device lists stand in
// for the system's; the remembered identity sits in the install folder.
TEST_F(RealLinks, TheAdapterIsFollowedToTheOnePortWithItsIdentity) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ASSERT_EQ(::setenv("HOME", dir.path().c_str(), 1), 0);
    std::filesystem::create_directories(dir / "QAVEX");
    g_portIdentitySource = &FakeDevices;
    g_relay.reopenMs = 100;
    const std::string known = "USB 1a86:7523 @5&2A3B&0&2";
    struct Case {
        const char* name;
        std::string remembered;
        int matches;       // present ports with the identity (the terminal's first)
        bool configured;   // the configured port is the terminal's own
        bool followed;
        std::string rememberedAfter;
    };
    const Case cases[] = {
        {"same identity at another number", known, 1, false, true, known},
        {"two matches", known, 2, false, false, known},
        {"no identity known", "", 1, false, false, ""},
        {"the configured port opens: its identity remembered", "", 1, true, false, known},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto cat = catsim::CatSimulator::CreatePty();
        ASSERT_TRUE(cat);
        auto other = catsim::CatSimulator::CreatePty();
        ASSERT_TRUE(other);
        g_fakeDevices = {{"/dev/ttyS0", ""}, {cat->DevicePath(), known}};
        if (c.matches == 2) g_fakeDevices.push_back({other->DevicePath(), known});
        WriteFile(dir / "QAVEX/brisken.port", c.remembered);
        const std::string configured = c.configured ? cat->DevicePath() : dir / "ttyUSB0";
        WriteIni({.port = configured, .autoConnect = true});
        Start(Options());
        ASSERT_TRUE(WaitConnected());
        const std::string expected = c.followed ? cat->DevicePath() : configured;
        if (c.followed || c.configured) {
            EXPECT_TRUE(WaitText(ids::kLinkLine, "CAT : 연결 | VAN : 비연결"));
            ASSERT_TRUE(cat->SendLoneCr());
            EXPECT_TRUE(cat->ExpectBurst(catsim::kACK, 3000));
        } else {
            EXPECT_TRUE(WaitText(ids::kMainTransferText, "시리얼 연결 오류"));
        }
        EXPECT_TRUE(ui.RunUntil([&] { return C(ids::kPortList).Selected() == expected; }, 3000))
            << C(ids::kPortList).Selected();
        EXPECT_EQ(g_comPortPath, expected);
        EXPECT_NE(ReadFile(IniPath()).find("port=" + expected), std::string::npos);
        EXPECT_EQ(ReadFile(dir / "QAVEX/brisken.port"), c.rememberedAfter);
        w->OnDisconnect();
    }
    g_relay.reopenMs = 2000;
    g_portIdentitySource = &platform::ListPortIdentities;
    ::setenv("HOME", home.c_str(), 1);
}

TEST_F(RealLinks, DisconnectWhileAVanLinkIsUpClosesWithoutEsc) {
    VanSimulator van({});
    ASSERT_TRUE(van.Start());
    auto cat = catsim::CatSimulator::CreatePty();
    ASSERT_TRUE(cat);
    WriteIni({.port = cat->DevicePath(), .speed = "9.6K", .log = true});
    Start(Options());
    w->OnConnect();
    ASSERT_TRUE(WaitConnected());
    ASSERT_TRUE(g_relay.serialOpen.load());
    ASSERT_TRUE(cat->SendRequest("127.0.0.1", std::to_string(van.Port())));
    ASSERT_TRUE(van.WaitAccepted(1, 3000));
    ASSERT_TRUE(ui.RunUntil([] { return g_relay.vanConnected.load(); }, 3000));
    cat->ReadUntilQuiet(200, 1500);  // the ACK burst and the greeting

    w->OnDisconnect();
    EXPECT_TRUE(van.WaitClosed(1, 3000));
    std::string arrived;
    EXPECT_TRUE(cat->ExpectSilence(300, &arrived)) << catsim::Hex(arrived);
    EXPECT_TRUE(C(ids::kConnect).enabled);
    EXPECT_FALSE(C(ids::kDisconnect).enabled);
    EXPECT_TRUE(C(ids::kPortList).enabled);
    EXPECT_TRUE(WaitText(ids::kLinkLine, kNotLinked));
    EXPECT_TRUE(WaitText(ids::kProgressLine, ""));

    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(dir / "CATLOG")) {
        log += ReadFile(e.path().string());
    }
    const auto serialClose = log.find("Serial CLOSE");
    const auto socketDisconnect = log.find("Socket Disconnect");
    ASSERT_NE(serialClose, std::string::npos) << log;
    ASSERT_NE(socketDisconnect, std::string::npos) << log;
    EXPECT_LT(serialClose, socketDisconnect);
}

TEST_F(RealLinks, NotStartableDownloadSaysUpdateErrorThenUpdateFailed) {
    ResetUpdateState();
    TestHttpServer server;
    server.Set("/brisken/brisken_ver.php?app_name=Brisken",
               TestHttpServer::Ok(R"({"status":"ok","version":"2.0.0.7","url":""})"));
    UpdateOptions update;
    update.paths = DerivePathValues(dir / "start/brisken", "", dir.path());
    update.host = server.host();
    update.networkUp = [] { return true; };
    update.launch = [](const std::string&, const std::string&) { return -1; };
    WriteIni({});
    StartOptions options = Options();
    options.checkUpdate = [&](IUpdateHost& host) { return CheckUpdate(host, update); };
    Start(options);
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"업데이트 오류", "업데이트 실패"}));
    ASSERT_NE(g_pUpdateDlg, nullptr);
    EXPECT_EQ(view->download.windows, 0) << "the window never opened";
    EXPECT_TRUE(w->ShowAllowed());
}

}  // namespace
