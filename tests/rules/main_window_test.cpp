#include <thread>

#include "app/brisken_app.h"
#include "app/display_queue.h"
#include "platform/system.h"
#include "tests/rules/rules_fixture.h"

namespace {

using msgbox::Answer;

// A main window started on the fake view, its first display writes drawn.
class MainWindow : public RulesFixture {
protected:
    void Start(bool expectStarted = true) {
        view.reset();  // a window goes before its rules
        w.reset();
        w = std::make_unique<CBriskenDlg>(boxes, Options());
        view = std::make_unique<FakeMainView>(*w, ui);
        EXPECT_EQ(w->OnInitDialog(*view), expectStarted);
        view->ShowWindow(WindowShow::Show);  // the framework's show after the initialisation
        ui.RunPosted();
    }
    void TearDown() override {
        view.reset();
        w.reset();
        RulesFixture::TearDown();
    }
    FakeControl& C(int id) { return view->c[id]; }

    std::unique_ptr<CBriskenDlg> w;
    std::unique_ptr<FakeMainView> view;
};

TEST_F(MainWindow, StartWithoutAutoConnectShowsTheWindowStopped) {
    WriteIni({.port = "0", .speed = "38.4K"});
    Start();
    EXPECT_TRUE(view->visible);
    EXPECT_TRUE(w->ConfirmExit());
    EXPECT_TRUE(installRan);
    EXPECT_TRUE(C(ids::kConnect).enabled);
    EXPECT_FALSE(C(ids::kDisconnect).enabled);
    EXPECT_EQ(C(ids::kLinkLine).text, kNotLinked);
    EXPECT_EQ(C(ids::kSpeedList).Selected(), "38400");
    EXPECT_EQ(C(ids::kPortList).selection, 0);
    EXPECT_EQ(C(ids::kPortList).items.at(0), "선택안함");
    EXPECT_EQ(C(ids::kPortList).items.at(1), "COM1");  // nothing reported: the fixed list
    EXPECT_EQ(view->colour, kNormalColour);
    EXPECT_TRUE(view->trayShown);
    EXPECT_FALSE(view->status->visible);
    EXPECT_TRUE(boxes.asked.empty());
}

TEST_F(MainWindow, AutoConnectHidesTheWindowAndShowsTheStatusWindowAsSet) {
    for (const bool showStatus : {false, true}) {
        SCOPED_TRACE(showStatus);
        relay.opened.clear();
        WriteIni({.port = "3", .showStatus = showStatus, .autoConnect = true});
        Start();
        EXPECT_EQ(relay.opened, std::vector<std::string>{"COM3 115200"});
        EXPECT_TRUE(relay.started);
        EXPECT_FALSE(view->visible);
        EXPECT_FALSE(w->ShowAllowed());
        EXPECT_FALSE(C(ids::kConnect).enabled);
        EXPECT_TRUE(C(ids::kDisconnect).enabled);
        EXPECT_FALSE(C(ids::kPortList).enabled);
        EXPECT_FALSE(C(ids::kSpeedList).enabled);
        EXPECT_EQ(view->status->visible, showStatus);
        EXPECT_EQ(view->colour, kNormalColour);
        EXPECT_EQ(C(ids::kLinkLine).text, "CAT : 연결 | VAN : 비연결");
        w->OnCommand(ids::kDisconnect);
        EXPECT_FALSE(relay.started);
        EXPECT_TRUE(C(ids::kConnect).enabled);
    }
}

TEST_F(MainWindow, NoticesOfTheStartDoNotWaitForTheirOk) {
    struct Case {
        const char* name;
        std::vector<std::string> install, update;  // what the two checks say
        std::string port;
        bool portOpens;
        std::vector<std::string> notices;
        bool connected;
    };
    for (const Case& c : std::vector<Case>{
             {"shortcut and update failed",
              {"바로가기 생성 오류가 발생하였습니다."},
              {"업데이트 실패"},
              "3",
              true,
              {"바로가기 생성 오류가 발생하였습니다.", "업데이트 실패"},
              true},
             {"no usable port", {}, {}, "0", true, {"통신포트 선택에 문제가 있습니다."}, false},
             // The start's connect asks nobody: it keeps trying the port.
             {"port does not open", {}, {}, "3", false, {}, true},
         }) {
        SCOPED_TRACE(c.name);
        boxes = {};
        boxes.onAsk = [](const msgbox::Request& r) {
            ADD_FAILURE() << "the start waited for a click on " << r.text;
        };
        installSays = c.install;
        updateSays = c.update;
        relay.openWorks = c.portOpens;
        WriteIni({.port = c.port, .autoConnect = true});
        Start();
        EXPECT_EQ(boxes.notices, c.notices);
        EXPECT_EQ(boxes.asked.size(), c.notices.size()) << "nothing modal";
        EXPECT_EQ(relay.started, c.connected);
        EXPECT_EQ(view->visible, !c.connected);
        EXPECT_TRUE(view->trayShown);
        EXPECT_GT(C(ids::kPortList).items.size(), 1u);
        EXPECT_NE(view->status, nullptr);
        EXPECT_TRUE(w->ConfirmExit());
        if (!c.portOpens) {
            ui.RunPosted();
            EXPECT_EQ(C(ids::kMainTransferText).text, "시리얼 연결 오류");
            EXPECT_TRUE(C(ids::kDisconnect).enabled) << "Disconnect stops the trying";
        }
    }
}

TEST_F(MainWindow, LateNetworkIsWaitedForUpToAMinute) {
    struct Case {
        const char* name;
        int64_t upAtMs;  // -1: never
        int copies;
        size_t sleeps;  // of one second each
        bool started;
    };
    for (const Case& c : std::vector<Case>{{"there at once", 0, 1, 0, true},
                                           {"after 4.5 s", 4500, 1, 5, true},
                                           {"at the bound", 60000, 1, 60, true},
                                           {"never", -1, 1, 60, false},
                                           {"never, a copy that ends anyway", -1, 2, 0, false}}) {
        SCOPED_TRACE(c.name);
        boxes = {};
        installRan = false;
        networkUp = false;
        networkAfterMs = c.upAtMs;
        clockMs = 0;
        sleeps.clear();
        copies = c.copies;
        WriteIni({});
        Start(c.started);
        EXPECT_EQ(sleeps, std::vector<int>(c.sleeps, 1000));
        EXPECT_EQ(installRan, c.started);
        EXPECT_EQ(view->trayShown, c.started);
        if (c.started) {
            EXPECT_TRUE(boxes.asked.empty());
        } else {
            EXPECT_EQ(boxes.Texts(),
                      std::vector<std::string>{"인터넷이 연결되어 있지 않아 종료합니다."});
            EXPECT_TRUE(boxes.notices.empty()) << "the program ends after it";
        }
    }
}

TEST_F(MainWindow, ConnectWithoutAPortOpensNothing) {
    WriteIni({});
    Start();
    C(ids::kPortList).selection = 0;  // "선택안함"
    w->OnCommand(ids::kConnect);
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0].text, "통신포트 선택에 문제가 있습니다.");
    EXPECT_EQ(boxes.asked[0].caption, "brisken");
    EXPECT_EQ(boxes.asked[0].icon, msgbox::Icon::Exclamation);
    EXPECT_TRUE(boxes.notices.empty()) << "what a click raised waits for its OK";
    EXPECT_TRUE(relay.opened.empty());
    EXPECT_FALSE(relay.started);
    EXPECT_TRUE(C(ids::kConnect).enabled);
    EXPECT_TRUE(w->ShowAllowed());
}

TEST_F(MainWindow, SelectedPortNumberAndName) {
    WriteIni({});
    Start();
    view->AddItem(ids::kPortList, "/dev/ttyUSB3");
    struct Case {
        std::string item;
        int number;
        std::string name;
    };
    for (const Case& c : std::vector<Case>{{"선택안함", 0, ""},
                                           {"COM7", 7, "COM7"},
                                           {"COM12", 12, "COM12"},
                                           {"/dev/ttyUSB3", 0, "/dev/ttyUSB3"}}) {
        view->Pick(ids::kPortList, c.item);
        EXPECT_EQ(w->GetSelectedPortNumber(), c.number) << c.item;
        EXPECT_EQ(w->GetSelectedPortName(), c.name);
    }
}

TEST_F(MainWindow, ConnectOnAPortThatDoesNotOpenShowsTheSerialError) {
    WriteIni({.port = "5"});
    Start();
    relay.openWorks = false;  // as a port another program holds
    boxes.answer = Answer::Cancel;
    w->OnCommand(ids::kConnect);
    ui.RunPosted();
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0].text, "시리얼 연결 오류\n\n선택한 포트가 사용 중인지 확인해 보세요.");
    EXPECT_EQ(boxes.asked[0].caption, "Talmira");
    EXPECT_EQ(boxes.asked[0].buttons, msgbox::Buttons::OkCancel);
    EXPECT_EQ(C(ids::kMainTransferText).text, "시리얼 연결 오류");
    EXPECT_EQ(view->colour, kErrorColour);
    EXPECT_TRUE(C(ids::kConnect).enabled);
    EXPECT_FALSE(C(ids::kDisconnect).enabled);
    EXPECT_TRUE(view->visible);
    EXPECT_FALSE(relay.started);
}

TEST_F(MainWindow, CloseAsksOnlyAfterASuccessfulStart) {
    struct Case {
        const char* name;
        bool network;
        int update;
        Answer answer;
        bool asks;
        bool destroyed;
    };
    for (const Case& c : std::vector<Case>{
             {"started, No", true, 1, Answer::No, true, false},
             {"started, Yes", true, 1, Answer::Yes, true, true},
             {"no network", false, 1, Answer::No, false, true},
             {"version check failed", true, 0, Answer::No, false, true},
         }) {
        SCOPED_TRACE(c.name);
        boxes.asked.clear();
        installRan = false;
        networkUp = c.network;
        updateResult = c.update;
        WriteIni({});
        const bool started = c.network && c.update == 1;
        Start(started);
        if (!c.network) {
            EXPECT_EQ(boxes.Texts(),
                      std::vector<std::string>{"인터넷이 연결되어 있지 않아 종료합니다."});
            EXPECT_FALSE(installRan);
        }
        if (c.network && c.update != 1) {
            EXPECT_EQ(boxes.Texts(),
                      std::vector<std::string>{"오류가 있어 프로그램을 종료합니다."});
        }
        if (!started) {
            EXPECT_EQ(view->trayAdds, 0);  // no tray icon after a failed start
            EXPECT_EQ(view->status, nullptr);
        }
        boxes.asked.clear();
        boxes.answer = c.answer;
        w->OnClose();
        EXPECT_EQ(!boxes.asked.empty(), c.asks);
        if (c.asks) {
            EXPECT_EQ(boxes.asked[0].text, "정말로 종료하시겠습니까?");
            EXPECT_EQ(boxes.asked[0].caption, "Talmira");
        }
        EXPECT_EQ(w->Destroyed(), c.destroyed);
        if (c.destroyed) {
            EXPECT_FALSE(view->trayShown);
        }
    }
}

TEST_F(MainWindow, SettingsAnswerDecidesWhatIsApplied) {
    struct Case {
        const char* name;
        bool connected;
        int applyNow;
        bool autoConnect;
        bool connectedAfter;
        bool listsFollowSettings;
    };
    for (const Case& c : std::vector<Case>{
             {"stopped, not applied", false, 0, false, false, true},
             {"stopped, applied, no auto", false, 1, false, false, true},
             {"stopped, applied, auto", false, 1, true, true, true},
             {"running, not applied", true, 0, true, true, false},
             {"running, applied, no auto", true, 1, false, false, true},
             {"running, applied, auto", true, 1, true, true, true},
         }) {
        SCOPED_TRACE(c.name);
        WriteIni({.port = "4", .speed = "9.6K"});
        Start();
        if (c.connected) {
            w->OnConnect();
            ASSERT_TRUE(g_relay.serialOpen.load());
        }
        // The dialog changes the speed setting (and auto-connect) while it runs.
        view->onSettings = [&](CSettingDlg& dlg, FakeSettingView& v) {
            g_comSpeed = "57600";
            g_autoConnect = c.autoConnect;
            dlg.m_applyNow = c.applyNow;
            v.EndDialog();
        };
        w->OnCommand(ids::kSettings);
        ui.RunPosted();
        EXPECT_EQ(g_relay.serialOpen.load(), c.connectedAfter);
        EXPECT_EQ(!C(ids::kConnect).enabled, c.connectedAfter);
        EXPECT_EQ(w->Connected(), c.connectedAfter);
        EXPECT_EQ(C(ids::kSpeedList).Selected() == "57600", c.listsFollowSettings);
        if (c.connectedAfter) {
            EXPECT_EQ(relay.opened.back(), "COM4 " + C(ids::kSpeedList).Selected());
        }
        if (g_relay.serialOpen) w->OnDisconnect();
    }
}

std::vector<std::string> g_ports;
std::vector<std::string> TestPorts() { return g_ports; }

// The PC is kept awake while connected; a resume, and a device change that
// changes the port list, open the running line again; the list is filled
// again with its selection kept.
TEST_F(MainWindow, KeepAwakeWhileConnectedAndResumeOrNewPortsOpenTheLineAgain) {
    g_ports = {"COM3", "COM7"};
    WriteIni({.port = "7"});
    StartOptions options = Options();
    options.portSource = &TestPorts;
    w = std::make_unique<CBriskenDlg>(boxes, std::move(options));
    view = std::make_unique<FakeMainView>(*w, ui);
    ASSERT_TRUE(w->OnInitDialog(*view));
    w->OnResume();
    EXPECT_EQ(relay.linesLost, 0) << "not connected";
    w->OnConnect();
    EXPECT_EQ(awake, (std::vector<bool>{true}));
    w->OnResume();
    EXPECT_EQ(relay.linesLost, 1);
    w->OnDeviceChange(false);
    EXPECT_EQ(relay.linesLost, 1) << "the same ports";
    g_ports = {"COM3", "COM9"};
    w->OnDeviceChange(false);
    EXPECT_EQ(relay.linesLost, 2);
    EXPECT_EQ(C(ids::kPortList).items, (std::vector<std::string>{"선택안함", "COM3", "COM9", "COM7"}));
    EXPECT_EQ(C(ids::kPortList).Selected(), "COM7");
    w->OnDeviceChange(true);
    EXPECT_EQ(relay.linesLost, 3) << "a port came or went";
    w->OnDisconnect();
    EXPECT_EQ(awake, (std::vector<bool>{true, false}));
    w->OnConnect();
    w->DestroyWindow();
    EXPECT_EQ(awake, (std::vector<bool>{true, false, true, false})) << "exit lets it go";
}

TEST_F(MainWindow, IndicatorTakesTheColourAWorkerSets) {
    WriteIni({});
    Start();
    std::thread worker([] { SetTransferState("Socket Error", kErrorColour); });
    worker.join();
    EXPECT_TRUE(ui.RunUntil([&] {
        return C(ids::kMainTransferText).text == "Socket Error" &&
               view->status->c[ids::kStatusTransferText].text == "Socket Error";
    }));
    EXPECT_EQ(view->colour, kErrorColour);
    EXPECT_EQ(view->status->c[ids::kStatusTransferText].text, "Socket Error");
    EXPECT_EQ(view->status->colour, kErrorColour);
}

TEST_F(MainWindow, TrayRetriesUntilTheNotificationAreaIsThere) {
    WriteIni({});
    w = std::make_unique<CBriskenDlg>(boxes, Options());
    view = std::make_unique<FakeMainView>(*w, ui);
    view->trayAvailable = false;
    ASSERT_TRUE(w->OnInitDialog(*view));
    EXPECT_EQ(view->timers, (std::map<int, int>{{ids::kTrayRetryTimer, 3000}}));
    w->OnTimer(ids::kTrayRetryTimer);
    EXPECT_FALSE(view->trayShown);
    view->trayAvailable = true;
    w->OnTimer(ids::kTrayRetryTimer);
    EXPECT_TRUE(view->trayShown);
    EXPECT_TRUE(view->timers.empty());
}

// ---- Tray and status window -------------------------------------------------

TEST_F(MainWindow, TrayMenuCommands) {
    WriteIni({});
    Start();
    w->OnCommand(ids::kMenuHide);
    EXPECT_FALSE(w->ShowAllowed());
    EXPECT_TRUE(view->minimised);
    view->ShowWindow(WindowShow::Show);  // nothing may show it now
    EXPECT_FALSE(w->ShowAllowed());

    w->OnCommand(ids::kMenuRestore);
    EXPECT_TRUE(w->ShowAllowed());
    EXPECT_TRUE(view->visible);
    EXPECT_FALSE(view->minimised);
    EXPECT_EQ(view->foreground, 1);

    // A double click on the icon restores too; a single click does nothing.
    view->visible = false;
    w->OnTrayClick(TrayClick::Double);
    EXPECT_TRUE(view->visible);
    EXPECT_EQ(view->foreground, 2);
    w->OnTrayClick(TrayClick::Single);
    EXPECT_EQ(view->foreground, 2);

    w->OnCommand(ids::kMenuShowStatus);  // shown even while the port is closed
    EXPECT_TRUE(view->status->visible);
    w->OnCommand(ids::kMenuHideStatus);
    EXPECT_FALSE(view->status->visible);

    w->OnCommand(ids::kMenuAbout);
    ASSERT_NE(view->about, nullptr);
    EXPECT_TRUE(view->about->visible);

    // Exit asks whatever the exit confirmation says.
    w->ClearConfirmExit();
    boxes.answer = Answer::No;
    w->OnCommand(ids::kMenuExit);
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0].text, "정말로 종료하시겠습니까?");
    EXPECT_FALSE(w->Destroyed());
    boxes.answer = Answer::Yes;
    w->OnCommand(ids::kMenuExit);
    EXPECT_EQ(boxes.asked.size(), 2u);
    EXPECT_TRUE(w->Destroyed());
    EXPECT_FALSE(view->trayShown);
    EXPECT_FALSE(view->visible);
}

TEST_F(MainWindow, StatusWindowFirstShowCopiesTheLinkLine) {
    WriteIni({});
    Start();
    CProgressDlg* status = w->StatusWindow();
    ASSERT_NE(status, nullptr);
    FakeStatusView& sv = *view->status;
    EXPECT_FALSE(sv.visible);
    EXPECT_EQ(g_relay.statusWindow.load(), status);
    w->ShowStatusWindow(true);
    EXPECT_TRUE(sv.visible);
    EXPECT_EQ(sv.c[ids::kStatusLinkLine].text, kNotLinked);
    EXPECT_EQ(sv.c[ids::kProgressLine].text, "");
    EXPECT_EQ(sv.c[ids::kStatusTransferText].text, "");
    EXPECT_EQ(sv.colour, kNormalColour);

    // The close box hides; showing again keeps place and texts.
    const Rect place = sv.frame;
    status->OnClose();
    EXPECT_FALSE(sv.visible);
    w->ShowStatusWindow(true);
    EXPECT_TRUE(sv.visible);
    EXPECT_EQ(sv.frame.x, place.x);
    EXPECT_EQ(sv.frame.y, place.y);
    EXPECT_EQ(sv.c[ids::kStatusLinkLine].text, kNotLinked);
}

TEST(StatusWindowPlace, BottomRightOfTheWorkAreaWhereverTheTaskbarIs) {
    const Rect frame{0, 0, 300, 140};
    struct Case {
        const char* name;
        Rect area;
        int x, y;
    } cases[] = {
        {"taskbar below, 48 px", {0, 0, 1920, 1032}, 1618, 887},
        {"taskbar on the left, 72 px", {72, 0, 1848, 1080}, 1618, 935},
        {"taskbar above", {0, 40, 1920, 1040}, 1618, 935},
        {"primary display right of another", {1920, 0, 1280, 984}, 2898, 839},
        {"area smaller than the window", {10, 20, 200, 100}, 10, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Rect place = StatusWindowPlace(c.area, frame);
        EXPECT_EQ(place.x, c.x);
        EXPECT_EQ(place.y, c.y);
        EXPECT_EQ(place.width, frame.width);
        EXPECT_EQ(place.height, frame.height);
    }
}

TEST_F(MainWindow, StatusWindowSitsInTheBottomRightCornerAndItsSliderSetsTheOpacity) {
    WriteIni({});
    Start();
    FakeStatusView& sv = *view->status;
    EXPECT_EQ(sv.frame.x, 1918 - sv.frame.width);
    EXPECT_EQ(sv.frame.y, 1035 - sv.frame.height);

    const FakeStatusView::Slider& slider = sv.sliders[ids::kAlphaSlider];
    EXPECT_EQ(slider.min, 100);
    EXPECT_EQ(slider.max, 255);
    EXPECT_EQ(slider.line, 1);
    EXPECT_EQ(slider.page, 5);
    EXPECT_EQ(slider.pos, 255);
    EXPECT_EQ(w->StatusWindow()->Alpha(), 255);
    for (const int pos : {100, 255}) {
        sv.sliders[ids::kAlphaSlider].pos = pos;
        w->StatusWindow()->OnHScroll();
        EXPECT_EQ(w->StatusWindow()->Alpha(), pos);
        EXPECT_EQ(sv.opacity, pos);
    }
}

TEST_F(MainWindow, MinimisingWhileConnectedFollowsTheStatusSetting) {
    WriteIni({});
    Start();
    for (const bool showStatus : {true, false}) {
        SCOPED_TRACE(showStatus);
        g_showStatusBox = showStatus;
        g_relay.serialOpen = true;               // as while the port is open
        view->ShowWindow(WindowShow::Minimise);  // the minimise box
        EXPECT_FALSE(w->ShowAllowed());
        EXPECT_EQ(view->status->visible, showStatus);
        w->RestoreMainWindow();
        EXPECT_TRUE(view->visible);
    }
}

TEST_F(MainWindow, AboutBoxOnceShownAgainAndGoneWithItsOwner) {
    WriteIni({});
    Start();
    w->ShowAboutBox();
    CAboutDialog* first = g_pAboutDlg;
    ASSERT_NE(first, nullptr);
    FakeAboutView* box = view->about.get();
    EXPECT_TRUE(box->visible);
    w->ShowAboutBox();
    EXPECT_EQ(g_pAboutDlg, first);
    EXPECT_EQ(view->about.get(), box);

    first->OnClose();
    EXPECT_FALSE(box->visible);
    EXPECT_EQ(g_pAboutDlg, first) << "the close box only hides";
    w->ShowAboutBox();
    EXPECT_TRUE(box->visible);

    // It dies with its owner and leaves no dangling reference behind.
    view.reset();
    w.reset();
    EXPECT_EQ(g_pAboutDlg, nullptr);
}

TEST_F(MainWindow, AboutBoxShowsVersionTitleAndOpensHelpLinks) {
    WriteIni({});
    Start();
    w->ShowAboutBox();
    FakeAboutView& box = *view->about;
    EXPECT_EQ(box.c[CAboutDialog::IDC_VERSION].text, "2.0.0.6");
    EXPECT_FALSE(box.c[CAboutDialog::IDC_TITLE].text.empty());
    EXPECT_FALSE(box.c[CAboutDialog::IDC_COPYRIGHT].text.empty());
    const std::string base = "http://" BRISKEN_UPDATE_HOST "/brisken/";
    EXPECT_EQ(box.urls,
              (std::map<int, std::string>{{CAboutDialog::IDC_HELP1, base + "help1.html"},
                                          {CAboutDialog::IDC_HELP2, base + "help2.html"},
                                          {CAboutDialog::IDC_HELP3, base + "help3.html"}}));

    g_pAboutDlg->OnCommand(CAboutDialog::IDC_HELP2);
    EXPECT_EQ(box.opened, std::vector<std::string>{base + "help2.html"});
    EXPECT_EQ(box.visited, std::set<int>{CAboutDialog::IDC_HELP2});
}

// ---- Start-up and the program's life ----------------------------------------

using StartUp = RulesFixture;

TEST_F(StartUp, DerivesPathValuesAndCountsCopiesOfTheExecutable) {
    WriteIni({.speed = "56.0K"});
    CBriskenDlg w(boxes, Options());
    EXPECT_EQ(g_paths.exeName, "brisken");
    EXPECT_EQ(g_paths.exeBase, "brisken");
    EXPECT_EQ(g_paths.iniPath, IniPath());
    EXPECT_EQ(countedName, "brisken");
    EXPECT_EQ(g_comSpeed, "57600");  // the only copy loaded its settings
    EXPECT_FALSE(w.QuitQueued());
}

TEST_F(StartUp, TheCopyHoldingTheLockStaysWhateverTheCount) {
    using platform::InstanceClaim;
    struct Case {
        const char* name;
        std::vector<InstanceClaim> claims;  // one per try, the last repeated
        int copies;
        bool stays;
    };
    for (const Case& c : std::vector<Case>{
             {"racing copy, lock won", {InstanceClaim::Held}, 2, true},
             {"racing copy, lock lost", {InstanceClaim::HeldElsewhere}, 1, false},
             {"earlier copy ending within the wait",
              {InstanceClaim::HeldElsewhere, InstanceClaim::HeldElsewhere, InstanceClaim::Held},
              2,
              true},
             {"no lock possible, alone", {InstanceClaim::Unavailable}, 1, true},
             {"no lock possible, counted two", {InstanceClaim::Unavailable}, 2, false},
         }) {
        SCOPED_TRACE(c.name);
        WriteIni({});
        copies = c.copies;
        claims = c.claims;
        claim = c.claims.back();
        StartOptions options = Options();
        options.copyWaitMs = 300;
        CBriskenDlg w(boxes, std::move(options));
        EXPECT_EQ(w.QuitQueued(), !c.stays);
        EXPECT_TRUE(claims.empty()) << "tried again through the wait";
    }
}

TEST_F(StartUp, UninstallCommandLine) {
    struct Case {
        std::string commandLine;
        bool removes;
    };
    for (const Case& c : std::vector<Case>{{"/UNINSTALL", true},
                                           {"/uninstall", true},
                                           {"/Uninstall", true},
                                           {"/uninstall now", false},
                                           {"uninstall", false},
                                           {"", false}}) {
        SCOPED_TRACE(c.commandLine);
        WriteIni({});
        autoRun = "\"" + ExePath() + "\"";
        StartOptions options = Options();
        options.commandLine = c.commandLine;
        CBriskenDlg w(boxes, std::move(options));
        EXPECT_EQ(autoRun.has_value(), !c.removes);
        EXPECT_EQ(w.QuitQueued(), c.removes);
    }
}

// The whole run on the fake view; it must end by a quit the loop takes, not by
// waiting for a user.
class ProgramLife : public RulesFixture {
protected:
    int Run(StartOptions options, std::function<void(CBriskenDlg&, FakeMainView&)> setUp = {}) {
        CBriskenApp app;
        return app.InitInstance(boxes, std::move(options), [&](CBriskenDlg& rules) {
            auto view = std::make_unique<FakeMainView>(rules, ui);
            if (setUp) setUp(rules, *view);
            return view;
        });
    }
};

TEST_F(ProgramLife, SecondCopyEndsWithoutTouchingTheIni) {
    copies = 2;
    StartOptions options = Options();
    bool initialised = false;
    options.installSelf = [&](IUpdateHost&) { initialised = true; };
    bool turnAfterQuit = false;
    EXPECT_EQ(
        Run(std::move(options),
            [&](CBriskenDlg&, FakeMainView& view) { view.onRun = [&] { turnAfterQuit = true; }; }),
        0);
    EXPECT_EQ(ui.quitsTaken, 1);
    EXPECT_FALSE(turnAfterQuit) << "the quit is taken at the loop's first turn";
    EXPECT_TRUE(initialised);  // the initialisation ran before the quit was taken
    EXPECT_FALSE(platform::PathExists(IniPath()));
    EXPECT_TRUE(boxes.asked.empty());  // nothing asked, no message
    EXPECT_EQ(g_comSpeed, "");
    EXPECT_FALSE(g_autoConnect);
}

TEST_F(ProgramLife, UninstallRunEndsAfterTheInitialisation) {
    WriteIni({});
    autoRun = "\"" + ExePath() + "\"";
    StartOptions options = Options();
    options.commandLine = "/UNINSTALL";
    EXPECT_EQ(Run(std::move(options)), 0);
    EXPECT_EQ(ui.quitsTaken, 1);
    EXPECT_FALSE(autoRun.has_value());
    EXPECT_TRUE(installRan);
    EXPECT_TRUE(boxes.asked.empty());
}

TEST_F(ProgramLife, FailedStartEndsWithoutAsking) {
    WriteIni({});
    networkUp = false;
    EXPECT_EQ(Run(Options()), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"인터넷이 연결되어 있지 않아 종료합니다."});
    EXPECT_EQ(ui.quitsTaken, 1);
}

TEST_F(ProgramLife, QuitRequestedWithinTheRunEndsIt) {
    WriteIni({});
    // The settings dialog's uninstall: clear the confirmation and queue the quit.
    bool settingsRan = false;
    EXPECT_EQ(Run(Options(),
                  [&](CBriskenDlg& rules, FakeMainView& view) {
                      view.onRun = [&rules] { rules.OnCommand(ids::kSettings); };
                      view.onSettings = [&](CSettingDlg&, FakeSettingView&) {
                          settingsRan = true;
                          rules.ClearConfirmExit();
                          rules.PostQuit();
                      };
                  }),
              0);
    EXPECT_TRUE(settingsRan);
    EXPECT_EQ(ui.quitsTaken, 1);
    EXPECT_TRUE(boxes.asked.empty());
}

}  // namespace

// A run of display writes wakes the window's thread once, and the writes run in
// the order written; a write after the drain asks for a new one.
TEST(DisplayQueue, ARunOfWritesCostsOneWakeUpAndKeepsItsOrder) {
    CDisplayQueue queue;
    std::vector<std::string> shown;
    int posts = 0;
    for (const char* text : {"CAT->PC", "PC->VAN", "대기중..."})
        queue.Add([&shown, text] { shown.push_back(text); }, [&posts] { ++posts; });
    EXPECT_EQ(posts, 1);
    queue.Drain();
    EXPECT_EQ(shown, (std::vector<std::string>{"CAT->PC", "PC->VAN", "대기중..."}));
    queue.Add([&shown] { shown.push_back("VAN->PC"); }, [&posts] { ++posts; });
    EXPECT_EQ(posts, 2);
    queue.Drain();
    EXPECT_EQ(shown.back(), "VAN->PC");
}
