#include <QGuiApplication>
#include <QScreen>
#include <filesystem>
#include <thread>

#include "app/transfer_bar.h"
#include "platform/serial_device.h"
#include "tests/app/app_fixture.h"
#include "tools/catsim/cat_simulator.h"
#include "tools/vansim/van_simulator.h"

namespace {

using MainWindow = AppFixture;

TEST_F(MainWindow, StartWithoutAutoConnectShowsTheWindowCentredAndStopped) {
    WriteIni({.port = "0", .speed = "38.4K"});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    w.show();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.ConfirmExit());
    EXPECT_TRUE(installRan);
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    EXPECT_LE((w.frameGeometry().center() - centre).manhattanLength(), 4);
    EXPECT_TRUE(Enabled(&w, ids::kConnect));
    EXPECT_FALSE(Enabled(&w, ids::kDisconnect));
    EXPECT_TRUE(WaitText(&w, ids::kLinkLine, kNotLinked));
    EXPECT_EQ(Find<QComboBox>(&w, ids::kSpeedList)->currentText(), "38400");
    auto* ports = Find<QComboBox>(&w, ids::kPortList);
    EXPECT_EQ(ports->currentIndex(), 0);
    EXPECT_EQ(ports->itemText(0), QStringLiteral("선택안함"));
    EXPECT_EQ(ports->itemText(1), "COM1");  // nothing reported: the fixed list
    EXPECT_FALSE(w.StatusWindow()->isVisible());
    EXPECT_TRUE(asked.empty());
}

TEST_F(MainWindow, AutoConnectOnAPseudoTerminalNeverShowsTheWindow) {
    for (const bool showStatus : {false, true}) {
        SCOPED_TRACE(showStatus);
        auto cat = catsim::CatSimulator::CreatePty();
        ASSERT_TRUE(cat);
        WriteIni({.port = cat->DevicePath(), .showStatus = showStatus, .autoConnect = true});
        CBriskenDlg w(Options());
        ASSERT_TRUE(w.Initialise());
        w.show();
        EXPECT_FALSE(w.isVisible());
        EXPECT_FALSE(w.ShowAllowed());
        EXPECT_TRUE(g_relay.serialOpen.load());
        EXPECT_FALSE(Enabled(&w, ids::kConnect));
        EXPECT_TRUE(Enabled(&w, ids::kDisconnect));
        EXPECT_FALSE(Enabled(&w, ids::kPortList));
        EXPECT_FALSE(Enabled(&w, ids::kSpeedList));
        EXPECT_EQ(w.StatusWindow()->isVisible(), showStatus);
        EXPECT_EQ(Find<QComboBox>(&w, ids::kPortList)->currentText().toStdString(),
                  cat->DevicePath());
        // The relay answers the terminal.
        ASSERT_TRUE(cat->SendLoneCr());
        EXPECT_TRUE(cat->ExpectBurst(catsim::kACK, 3000));
        EXPECT_TRUE(WaitText(&w, ids::kLinkLine, QStringLiteral("CAT : 연결 | VAN : 비연결")));
        w.OnDisconnect();
        EXPECT_FALSE(g_relay.serialOpen.load());
    }
}

TEST_F(MainWindow, ConnectWithoutAPortOpensNothing) {
    WriteIni({});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    SelectPort(w, QStringLiteral("선택안함"));
    w.OnConnect();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, QStringLiteral("통신포트 선택에 문제가 있습니다."));
    EXPECT_EQ(asked[0].caption, "brisken");
    EXPECT_EQ(asked[0].icon, msgbox::Icon::Exclamation);
    EXPECT_FALSE(g_relay.serialOpen.load());
    EXPECT_FALSE(w.Workers().Started());
    EXPECT_TRUE(Enabled(&w, ids::kConnect));
    EXPECT_TRUE(w.ShowAllowed());
}

TEST_F(MainWindow, SelectedPortNumberAndName) {
    WriteIni({});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    auto* list = Find<QComboBox>(&w, ids::kPortList);
    list->addItem("/dev/ttyUSB3");
    struct Case {
        QString item;
        int number;
        std::string name;
    };
    for (const Case& c : std::vector<Case>{{QStringLiteral("선택안함"), 0, ""},
                                           {"COM7", 7, "COM7"},
                                           {"COM12", 12, "COM12"},
                                           {"/dev/ttyUSB3", 0, "/dev/ttyUSB3"}}) {
        list->setCurrentIndex(list->findText(c.item));
        EXPECT_EQ(w.GetSelectedPortNumber(), c.number) << c.item.toStdString();
        EXPECT_EQ(w.GetSelectedPortName(), c.name);
    }
}

TEST_F(MainWindow, ConnectOnAHeldPortShowsTheSerialError) {
    auto cat = catsim::CatSimulator::CreatePty();
    ASSERT_TRUE(cat);
    platform::SerialDevice holder;
    ASSERT_TRUE(holder.Open(cat->DevicePath()));
    WriteIni({.port = cat->DevicePath()});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    w.show();
    answer = msgbox::Answer::Cancel;
    w.OnConnect();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text,
              QStringLiteral("시리얼 연결 오류\n\n선택한 포트가 사용 중인지 확인해 보세요."));
    EXPECT_EQ(asked[0].caption, "Talmira");
    EXPECT_EQ(asked[0].buttons, msgbox::Buttons::OkCancel);
    EXPECT_TRUE(WaitText(&w, ids::kMainTransferText, QStringLiteral("시리얼 연결 오류")));
    EXPECT_EQ(w.BarColour(), kErrorColour);
    EXPECT_TRUE(Enabled(&w, ids::kConnect));
    EXPECT_FALSE(Enabled(&w, ids::kDisconnect));
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(g_relay.serialOpen.load());
}

TEST_F(MainWindow, DisconnectWhileAVanLinkIsUpClosesWithoutEsc) {
    VanSimulator van({});
    ASSERT_TRUE(van.Start());
    auto cat = catsim::CatSimulator::CreatePty();
    ASSERT_TRUE(cat);
    WriteIni({.port = cat->DevicePath(), .speed = "9.6K", .log = true});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    w.OnConnect();
    ASSERT_TRUE(g_relay.serialOpen.load());
    ASSERT_TRUE(cat->SendRequest("127.0.0.1", std::to_string(van.Port())));
    ASSERT_TRUE(van.WaitAccepted(1, 3000));
    ASSERT_TRUE(QTest::qWaitFor([] { return g_relay.vanConnected.load(); }, 3000));
    cat->ReadUntilQuiet(200, 1500);  // the ACK burst and the greeting

    w.OnDisconnect();
    EXPECT_TRUE(van.WaitClosed(1, 3000));
    std::string arrived;
    EXPECT_TRUE(cat->ExpectSilence(300, &arrived)) << catsim::Hex(arrived);
    EXPECT_TRUE(Enabled(&w, ids::kConnect));
    EXPECT_FALSE(Enabled(&w, ids::kDisconnect));
    EXPECT_TRUE(Enabled(&w, ids::kPortList));
    EXPECT_TRUE(WaitText(&w, ids::kLinkLine, kNotLinked));
    EXPECT_TRUE(WaitText(&w, ids::kProgressLine, QString()));

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

TEST_F(MainWindow, EnterAndEscapeDoNothing) {
    WriteIni({});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    w.show();
    w.ShowStatusWindow(true);
    auto* connect = Find<QPushButton>(&w, ids::kConnect);
    SelectPort(w, QStringLiteral("선택안함"));  // a click would ask about the port
    struct Target {
        QWidget* widget;
        QWidget* window;
    };
    for (const Target& t : {Target{connect, &w}, Target{Find<QComboBox>(&w, ids::kPortList), &w},
                            Target{&w, &w}, Target{w.StatusWindow(), w.StatusWindow()}}) {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(t.widget, key);
            QCoreApplication::processEvents();
            EXPECT_TRUE(t.window->isVisible()) << t.widget->objectName().toStdString() << key;
        }
    }
    EXPECT_TRUE(asked.empty());
    EXPECT_FALSE(w.Destroyed());
}

TEST_F(MainWindow, CloseAsksOnlyAfterASuccessfulStart) {
    struct Case {
        const char* name;
        bool network;
        int update;
        msgbox::Answer answer;
        bool asks;
        bool destroyed;
    };
    for (const Case& c : std::vector<Case>{
             {"started, No", true, 1, msgbox::Answer::No, true, false},
             {"started, Yes", true, 1, msgbox::Answer::Yes, true, true},
             {"no network", false, 1, msgbox::Answer::No, false, true},
             {"version check failed", true, 0, msgbox::Answer::No, false, true},
         }) {
        SCOPED_TRACE(c.name);
        asked.clear();
        installRan = false;
        networkUp = c.network;
        updateResult = c.update;
        WriteIni({});
        CBriskenDlg w(Options());
        const bool started = w.Initialise();
        EXPECT_EQ(started, c.network && c.update == 1);
        if (!c.network) {
            ASSERT_EQ(AskedTexts(), std::vector<QString>{QStringLiteral(
                                        "인터넷이 연결되어 있지 않아 종료합니다.")});
            EXPECT_FALSE(installRan);
        }
        if (c.network && c.update != 1) {
            ASSERT_EQ(AskedTexts(),
                      std::vector<QString>{QStringLiteral("오류가 있어 프로그램을 종료합니다.")});
        }
        if (!started) {
            EXPECT_EQ(w.TrayMenu(), nullptr);  // no tray icon after a failed start
        }
        asked.clear();
        answer = c.answer;
        w.close();
        EXPECT_EQ(!asked.empty(), c.asks);
        if (c.asks) {
            EXPECT_EQ(asked[0].text, QStringLiteral("정말로 종료하시겠습니까?"));
            EXPECT_EQ(asked[0].caption, "Talmira");
        }
        EXPECT_EQ(w.Destroyed(), c.destroyed);
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
        auto cat = catsim::CatSimulator::CreatePty();
        ASSERT_TRUE(cat);
        WriteIni({.port = cat->DevicePath(), .speed = "9.6K"});
        CBriskenDlg w(Options());
        ASSERT_TRUE(w.Initialise());
        if (c.connected) {
            w.OnConnect();
            ASSERT_TRUE(g_relay.serialOpen.load());
        }
        applyNow = c.applyNow;
        // The dialog changes the speed setting (and auto-connect) while it runs.
        onSettings = [&] {
            g_comSpeed = "57600";
            g_autoConnect = c.autoConnect;
        };
        w.OnSettingsButton();
        EXPECT_EQ(g_relay.serialOpen.load(), c.connectedAfter);
        EXPECT_EQ(!Enabled(&w, ids::kConnect), c.connectedAfter);
        EXPECT_EQ(Find<QComboBox>(&w, ids::kSpeedList)->currentText() == "57600",
                  c.listsFollowSettings);
        if (g_relay.serialOpen) w.OnDisconnect();
        onSettings = nullptr;
    }
}

TEST_F(MainWindow, IndicatorRepaintsInTheColourAWorkerSets) {
    WriteIni({});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    w.show();
    std::thread worker([] { SetTransferState("Socket Error", kErrorColour); });
    worker.join();
    EXPECT_TRUE(WaitText(&w, ids::kMainTransferText, "Socket Error"));
    EXPECT_EQ(w.BarColour(), kErrorColour);
    auto* bar = Find<QWidget>(&w, ids::kMainBar);
    const QImage image = bar->grab().toImage();
    EXPECT_EQ(image.pixelColor(2, 2), ToQColor(kErrorColour));
    EXPECT_TRUE(WaitText(w.StatusWindow(), ids::kStatusTransferText, "Socket Error"));
}

}  // namespace
