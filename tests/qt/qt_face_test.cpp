// The Qt face is wired: each control is found by its ID, a click reaches its
// rule, a rule's text reaches its widget, and the tray menu's commands arrive.
// The rules themselves are tested without Qt (tests/rules).
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <thread>

#include "app/brisken_app.h"
#include "tests/rules/rules_fixture.h"
#include "tests/support/http_server.h"
#include "tests/update/fake_update_host.h"
#include "tools/catsim/cat_simulator.h"
#include "ui/qt/about_box.h"
#include "ui/qt/download_window.h"
#include "ui/qt/main_window.h"
#include "ui/qt/message_boxes.h"
#include "ui/qt/setting_dialog.h"
#include "ui/qt/status_window.h"
#include "ui/qt/transfer_bar.h"
#include "update/update_state.h"

namespace {

using msgbox::Answer;

template <typename T = QWidget>
T* Find(const QWidget* window, int id) {
    return window->findChild<T*>(QString::number(id));
}
QString Text(const QWidget* window, int id) { return Find<QLabel>(window, id)->text(); }
bool WaitText(const QWidget* window, int id, const QString& text) {
    return QTest::qWaitFor([&] { return Text(window, id) == text; }, 3000);
}
void PressEnterAndEscape(QWidget* target) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(target, key);
        QCoreApplication::processEvents();
    }
}

class QtFace : public RulesFixture {
protected:
    void Start() {
        rules = std::make_unique<CBriskenDlg>(boxes, Options());
        main = std::make_unique<QtMainWindow>(*rules);
        ASSERT_TRUE(rules->OnInitDialog(*main));
        main->ShowWindow(WindowShow::Show);
        ASSERT_TRUE(WaitText(main.get(), ids::kLinkLine, QString::fromStdString(kNotLinked)));
    }
    void TearDown() override {
        main.reset();
        rules.reset();
        RulesFixture::TearDown();
    }
    void Trigger(int id) {
        QAction* action = main->TrayMenu()->findChild<QAction*>(QString::number(id));
        ASSERT_NE(action, nullptr) << id;
        action->trigger();
        QCoreApplication::processEvents();
    }

    std::unique_ptr<CBriskenDlg> rules;
    std::unique_ptr<QtMainWindow> main;
};

TEST_F(QtFace, MainWindowControlsCarryTheRulesTextsAndClicksReachThem) {
    WriteIni({.speed = "38.4K"});
    Start();
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(main->windowTitle(), "Talmira");
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    EXPECT_LE((main->frameGeometry().center() - centre).manhattanLength(), 4);
    for (int id : {ids::kPortList, ids::kSpeedList, ids::kConnect, ids::kDisconnect, ids::kSettings,
                   ids::kLinkLine, ids::kProgressLine, ids::kMainBar, ids::kMainTransferText})
        EXPECT_NE(Find(main.get(), id), nullptr) << id;
    auto* ports = Find<QComboBox>(main.get(), ids::kPortList);
    EXPECT_EQ(ports->itemText(0), QStringLiteral("선택안함"));
    EXPECT_EQ(ports->itemText(1), "COM1");
    EXPECT_EQ(Find<QComboBox>(main.get(), ids::kSpeedList)->currentText(), "38400");
    EXPECT_TRUE(Find(main.get(), ids::kConnect)->isEnabled());
    EXPECT_FALSE(Find(main.get(), ids::kDisconnect)->isEnabled());

    ports->setCurrentIndex(0);
    Find<QPushButton>(main.get(), ids::kConnect)->click();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"통신포트 선택에 문제가 있습니다."});
    ports->setCurrentIndex(ports->findText("COM2"));
    Find<QPushButton>(main.get(), ids::kConnect)->click();
    EXPECT_EQ(relay.opened, std::vector<std::string>{"COM2 38400"});
    EXPECT_FALSE(main->isVisible()) << "a successful connect hides the window";
    EXPECT_FALSE(Find(main.get(), ids::kPortList)->isEnabled());
}

TEST_F(QtFace, IndicatorRepaintsInTheColourAWorkerSets) {
    WriteIni({});
    Start();
    std::thread worker([] { SetTransferState("Socket Error", kErrorColour); });
    worker.join();
    EXPECT_TRUE(WaitText(main.get(), ids::kMainTransferText, "Socket Error"));
    EXPECT_EQ(main->BarColour(), kErrorColour);
    const QImage image = Find(main.get(), ids::kMainBar)->grab().toImage();
    EXPECT_EQ(image.pixelColor(2, 2), ToQColor(kErrorColour));
    EXPECT_TRUE(WaitText(main->StatusWindow(), ids::kStatusTransferText, "Socket Error"));
    EXPECT_EQ(main->StatusWindow()->BarColour(), kErrorColour);
}

TEST_F(QtFace, EnterAndEscapeDoNothingInTheMainAndStatusWindows) {
    WriteIni({});
    Start();
    rules->ShowStatusWindow(true);
    Find<QComboBox>(main.get(), ids::kPortList)->setCurrentIndex(0);  // a click would ask
    for (QWidget* target : {Find(main.get(), ids::kConnect), Find(main.get(), ids::kPortList),
                            static_cast<QWidget*>(main.get())}) {
        PressEnterAndEscape(target);
        EXPECT_TRUE(main->isVisible()) << target->objectName().toStdString();
    }
    PressEnterAndEscape(main->StatusWindow());
    EXPECT_TRUE(main->StatusWindow()->isVisible());
    EXPECT_TRUE(boxes.asked.empty());
    EXPECT_FALSE(rules->Destroyed());
}

TEST_F(QtFace, TrayMenuHoldsTheSevenItemsInOrder) {
    WriteIni({});
    Start();
    ASSERT_NE(main->TrayIcon(), nullptr);
    EXPECT_EQ(main->TrayIcon()->toolTip(), "Talmira");
    EXPECT_FALSE(main->TrayIcon()->icon().isNull());
    QStringList items;
    for (const QAction* a : main->TrayMenu()->actions()) {
        items << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + " " + a->text());
        EXPECT_TRUE(a->isEnabled());
        EXPECT_FALSE(a->isChecked());
    }
    EXPECT_EQ(
        items,
        QStringList({QStringLiteral("32776 화면 열기"), QStringLiteral("32779 화면 숨기기"), "-",
                     QStringLiteral("32781 상태창 열기"), QStringLiteral("32783 상태창 숨기기"),
                     "-", QStringLiteral("32777 정보..."), "-", QStringLiteral("32778 종료")}));
}

TEST_F(QtFace, TrayCommandsAndTheMinimiseReachTheRules) {
    WriteIni({});
    Start();
    Trigger(ids::kMenuHide);
    EXPECT_TRUE(main->isMinimized());
    main->show();  // nothing may show it now
    EXPECT_FALSE(rules->ShowAllowed());

    Trigger(ids::kMenuRestore);
    EXPECT_TRUE(main->isVisible());
    EXPECT_FALSE(main->isMinimized());
    main->setVisible(false);
    emit main->TrayIcon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(main->isVisible());

    Trigger(ids::kMenuShowStatus);
    EXPECT_TRUE(main->StatusWindow()->isVisible());
    Trigger(ids::kMenuHideStatus);
    EXPECT_FALSE(main->StatusWindow()->isVisible());
    Trigger(ids::kMenuAbout);
    ASSERT_NE(main->AboutBox(), nullptr);
    EXPECT_TRUE(main->AboutBox()->isVisible());

    // The minimise box while the port is open shows the status window as set.
    g_showStatusBox = true;
    g_relay.serialOpen = true;
    main->showMinimized();
    QCoreApplication::processEvents();
    EXPECT_FALSE(rules->ShowAllowed());
    EXPECT_TRUE(main->StatusWindow()->isVisible());
    g_relay.serialOpen = false;

    boxes.answer = Answer::No;
    Trigger(ids::kMenuExit);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"정말로 종료하시겠습니까?"});
    EXPECT_FALSE(rules->Destroyed());
    boxes.answer = Answer::Yes;
    Trigger(ids::kMenuExit);
    EXPECT_TRUE(rules->Destroyed());
    EXPECT_EQ(main->TrayIcon(), nullptr);
    EXPECT_FALSE(main->isVisible());
}

TEST_F(QtFace, StatusWindowPlacementSliderAndCloseBox) {
    WriteIni({});
    Start();
    QtStatusWindow* status = main->StatusWindow();  // made, hidden, at the start
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size = status->frameGeometry().size();
    EXPECT_EQ(status->pos(), QPoint(screen.right() + 1 - size.width() - 2,
                                    screen.bottom() + 1 - size.height() - 5));
    rules->ShowStatusWindow(true);
    EXPECT_EQ(status->windowTitle(), "Talmira STATUS");
    EXPECT_TRUE(status->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(Text(status, ids::kStatusLinkLine).toStdString(), kNotLinked);

    auto* slider = Find<QSlider>(status, ids::kAlphaSlider);
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->minimum(), 100);
    EXPECT_EQ(slider->value(), 255);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_EQ(slider->value(), 254);
    QTest::keyClick(slider, Qt::Key_PageDown);
    EXPECT_EQ(slider->value(), 249);
    EXPECT_EQ(rules->StatusWindow()->Alpha(), 249);
    slider->setValue(slider->minimum());
    EXPECT_NEAR(status->windowOpacity(), 100 / 255.0, 0.005);

    const QPoint place = status->pos();
    status->close();
    EXPECT_FALSE(status->isVisible());
    rules->ShowStatusWindow(true);
    EXPECT_EQ(status->pos(), place);
}

// ---- Settings dialog, about box, download window ----------------------------

TEST_F(QtFace, SettingsDialogControlsAndClicks) {
    WriteIni({.port = "3"});
    Start();
    g_autoConnect = true;  // the lists can be changed
    CSettingDlg dlg(rules.get(), boxes, Services());
    QtSettingDialog view(dlg, main.get());
    dlg.OnInitDialog(view);
    view.show();
    using Id = CSettingDlg::ControlId;
    EXPECT_EQ(view.windowTitle(), "Talmira SETUP");
    const std::pair<int, const char*> boxesAndTexts[] = {
        {Id::IDC_AUTORUN, "  WINDOWS와 함께 시작"},
        {Id::IDC_AUTOCONNECT, "  시작시 자동 연결"},
        {Id::IDC_STATUSBOX, "  단말기 연결 후 상태창 표시"},
        {Id::IDC_LOG, "  로그 파일 만들기"}};
    for (const auto& [id, text] : boxesAndTexts)
        EXPECT_EQ(Find<QCheckBox>(&view, id)->text(), QString::fromUtf8(text));
    EXPECT_TRUE(Find<QCheckBox>(&view, Id::IDC_AUTOCONNECT)->isChecked());
    auto* folder = Find<QPushButton>(&view, Id::IDC_LOGFOLDER);
    EXPECT_FALSE(folder->isEnabled());
    EXPECT_EQ(folder->text().toStdString(), dir / "CATLOG");
    auto* version = Find<QLineEdit>(&view, Id::IDC_VERSION);
    EXPECT_TRUE(version->isReadOnly());
    EXPECT_EQ(version->text(), "2.0.0.6");

    Find<QCheckBox>(&view, Id::IDC_LOG)->click();
    EXPECT_TRUE(g_logEnabled.load());
    auto* ports = Find<QComboBox>(&view, Id::IDC_PORTLIST);
    EXPECT_EQ(ports->currentText(), "COM3");
    ports->setCurrentIndex(ports->findText("COM5"));
    emit ports->activated(ports->currentIndex());
    EXPECT_EQ(g_comPort, 5);

    // Enter and Escape do nothing; 닫기 asks about the changed port and closes.
    for (QWidget* target :
         {static_cast<QWidget*>(&view), Find(&view, Id::IDC_CLOSE), static_cast<QWidget*>(ports)}) {
        target->setFocus();
        PressEnterAndEscape(target);
        EXPECT_TRUE(view.isVisible()) << target->objectName().toStdString();
    }
    EXPECT_TRUE(boxes.asked.empty());
    boxes.answer = Answer::Yes;
    Find<QPushButton>(&view, Id::IDC_CLOSE)->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view.isVisible(); }, 3000));
    EXPECT_EQ(dlg.m_applyNow, 1);
}

// Ends every running loop at once, as a quit does.
class ExitingControl : public IMainWindowControl {
public:
    void ClearConfirmExit() override {}
    void PostQuit() override {
        ++quits;
        QCoreApplication::exit(0);
    }
    int quits = 0;
};

TEST_F(QtFace, UninstallRunModallyAsksApplyBeforeAQuitThatEndsEveryLoop) {
    WriteIni({.port = "5", .autoConnect = true});
    ASSERT_EQ(LoadSettings(IniPath()), 1);
    ExitingControl control;
    CSettingDlg dlg(&control, boxes, Services());
    QtSettingDialog view(dlg, nullptr);
    boxes.answers = {Answer::Yes, Answer::No};
    QTimer::singleShot(0, &view, [&] {
        auto* ports = Find<QComboBox>(&view, CSettingDlg::IDC_PORTLIST);
        ports->setCurrentIndex(ports->findText("COM3"));
        emit ports->activated(ports->currentIndex());
        Find<QPushButton>(&view, CSettingDlg::IDC_UNINSTALL)->click();
    });
    QTimer::singleShot(10000, &view, [&] { view.done(QDialog::Accepted); });  // bound only
    dlg.DoModal(view);
    EXPECT_EQ(boxes.Texts(),
              (std::vector<std::string>{"정말로 삭제하시겠습니까?",
                                        "변경된 단말기 접속 정보를 바로 적용하시겠습니까?\n"
                                        "(미적용시 다음 실행시 부터 적용됩니다.)"}));
    EXPECT_EQ(events, std::vector<std::string>{"UninstallSelf"});
    EXPECT_EQ(control.quits, 1);
    EXPECT_EQ(dlg.m_applyNow, 0);
}

TEST_F(QtFace, AboutBoxControlsAndLinks) {
    CAboutDialog rulesBox;
    std::vector<QUrl> opened;
    QWidget owner;
    QtAboutBox box(rulesBox, &owner, [&](const QUrl& url) { opened.push_back(url); });
    rulesBox.OnInitDialog(box);
    rulesBox.Show();
    using Id = CAboutDialog::ControlId;
    EXPECT_TRUE(box.isVisible());
    EXPECT_FALSE(box.isModal());
    EXPECT_EQ(Text(&box, Id::IDC_VERSION), "2.0.0.6");
    EXPECT_FALSE(Text(&box, Id::IDC_TITLE).isEmpty());
    EXPECT_FALSE(Find<QLabel>(&box, Id::IDC_ICON)->pixmap().isNull());
    EXPECT_EQ(Find<QGroupBox>(&box, Id::IDC_HELPGROUP)->title(), QString::fromUtf8("도움말"));
    const char* texts[] = {"단말기 설정", "프로그램 설정", "설치/삭제"};
    for (int n = 0; n < 3; ++n) {
        auto* link = Find<CHelpLink>(&box, Id::IDC_HELP1 + n);
        EXPECT_EQ(link->text(), QString::fromUtf8(texts[n]));
        EXPECT_EQ(link->Url().toString().toStdString(), CAboutDialog::HelpUrl(n + 1));
    }
    PressEnterAndEscape(&box);
    EXPECT_TRUE(box.isVisible());
    EXPECT_TRUE(opened.empty());

    auto* second = Find<CHelpLink>(&box, Id::IDC_HELP2);
    QTest::mouseClick(second, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString().toStdString(), CAboutDialog::HelpUrl(2));
    EXPECT_TRUE(second->Visited());
    EXPECT_NE(second->palette().color(QPalette::WindowText),
              Find<CHelpLink>(&box, Id::IDC_HELP3)->palette().color(QPalette::WindowText));
    box.close();
    EXPECT_FALSE(box.isVisible());
}

class QtDownload : public DownloadFixture {
protected:
    // Runs the download window; onProgress runs once, at the first bytes shown.
    int Run(const std::string& url, const std::string& path) {
        return RunUpdateDialog(
            [this](CUpdateDlg& rules) {
                auto view = std::make_unique<QtDownloadWindow>(rules);
                window = view.get();
                flags = view->windowFlags();
                auto* bar = Find<QProgressBar>(window, CUpdateDlg::kIdcProgress);
                QObject::connect(bar, &QProgressBar::valueChanged, window, [this, bar] {
                    barMax = bar->maximum();
                    barValue = bar->value();
                    if (barValue > 0 && onProgress) {
                        QTimer::singleShot(0, window, onProgress);
                        onProgress = nullptr;
                    }
                });
                return view;
            },
            boxes, url, path, 0);
    }
    TestHttpServer server;
    QtDownloadWindow* window = nullptr;
    int barMax = -1, barValue = -1;
    Qt::WindowFlags flags;
    std::function<void()> onProgress;
};

TEST_F(QtDownload, DownloadsWithProgressAndClosesItself) {
    const std::string exe = FakeExecutable(200000);
    server.Set("/new", TestHttpServer::Ok(exe));
    const std::string path = dir / "UpdateFile.sob";
    EXPECT_EQ(Run(server.Url("/new"), path), 1);
    EXPECT_EQ(ReadFile(path), exe);
    EXPECT_EQ(barMax, 200000);
    EXPECT_EQ(barValue, 200000);
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(boxes.asked.empty());
}

TEST_F(QtDownload, EscAndEnterDoNotCloseButAnEarlyCloseStops) {
    const std::string exe = FakeExecutable(100000);
    server.Set("/slow", {TestHttpServer::Answer(200, exe.substr(0, 1000), exe.size()).raw, 60000});
    bool stillOpen = false;
    onProgress = [&] {
        PressEnterAndEscape(window);
        stillOpen = window->isVisible();
        window->close();
    };
    const std::string path = dir / "UpdateFile.sob";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(server.Url("/slow"), path), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(std::filesystem::exists(path));
}

// ---- The program's life -------------------------------------------------------

using QtProgramLife = RulesFixture;

TEST_F(QtProgramLife, QueuedQuitAndFailedStartEndTheQtRun) {
    struct Case {
        const char* name;
        int copies;
        bool network;
        std::vector<std::string> messages;
    };
    for (const Case& c :
         std::vector<Case>{{"second copy", 2, true, {}},
                           {"no network", 1, false, {"인터넷이 연결되어 있지 않아 종료합니다."}}}) {
        SCOPED_TRACE(c.name);
        boxes.asked.clear();
        copies = c.copies;
        networkUp = c.network;
        bool endedByGuard = false;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            endedByGuard = true;
            QCoreApplication::exit(0);
        });
        guard.start(10000);
        CBriskenApp app;
        EXPECT_EQ(
            app.InitInstance(boxes, Options(),
                             [](CBriskenDlg& r) { return std::make_unique<QtMainWindow>(r); }),
            0);
        EXPECT_FALSE(endedByGuard) << "the run did not end";
        EXPECT_EQ(boxes.Texts(), c.messages);
    }
}

// A shop's start after login with nobody at the PC: auto-connect on, a newer
// version whose download fails. The real message boxes, the real relay on a
// pseudo-terminal and an update server on 127.0.0.1.
class QtUnattendedStart : public RulesFixture {
protected:
    void TearDown() override {
        main.reset();
        rules.reset();
        DestroyUpdateDialog();
        ResetUpdateState();
        RulesFixture::TearDown();
    }
    std::unique_ptr<CBriskenDlg> rules;
    std::unique_ptr<QtMainWindow> main;
};

TEST_F(QtUnattendedStart, TerminalIsServedWhileTheFailureNoticeStandsUnanswered) {
    ResetUpdateState();
    auto cat = catsim::CatSimulator::CreatePty();
    ASSERT_TRUE(cat);
    TestHttpServer server;  // "/new" is not there: the download fails
    server.Set("/brisken/brisken_ver.php?app_name=Brisken",
               TestHttpServer::Ok(R"({"status":"ok","version":"2.0.0.7","url":")" +
                                  server.Url("/new") + R"("})"));
    UpdateOptions update;
    update.paths = DerivePathValues(dir / "start/brisken", "", dir.path());
    update.host = server.host();
    update.networkUp = [] { return true; };
    update.launch = [](const std::string&, const std::string&) { return -1; };
    WriteIni({.port = cat->DevicePath(), .autoConnect = true});
    StartOptions options = Options();
    options.relay = nullptr;
    options.checkUpdate = [&](IUpdateHost& host) { return CheckUpdate(host, update); };

    // Nobody comes: a box that held the start up is found by this and closed.
    QtMessageBoxes real;
    QString waitedFor;
    QTimer nobody;
    nobody.setSingleShot(true);
    QObject::connect(&nobody, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            waitedFor = modal->windowTitle();
            modal->hide();  // ends its loop
        }
    });
    nobody.start(10000);
    rules = std::make_unique<CBriskenDlg>(real, std::move(options));
    main = std::make_unique<QtMainWindow>(*rules);
    ASSERT_TRUE(rules->OnInitDialog(*main));
    EXPECT_TRUE(waitedFor.isEmpty()) << "the start waited for " << waitedFor.toStdString();

    QPointer<QMessageBox> notice;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box != nullptr && box->isVisible()) notice = box;
    }
    ASSERT_FALSE(notice.isNull()) << "no notice stands";
    EXPECT_EQ(notice->text(), QString::fromUtf8("업데이트 실패"));
    EXPECT_EQ(notice->windowTitle(), "brisken");
    EXPECT_EQ(notice->icon(), QMessageBox::Warning);
    EXPECT_EQ(notice->standardButtons(), QMessageBox::Ok);
    EXPECT_FALSE(notice->isModal());

    // Under it the start went on: tray icon, lists, the port open (off the
    // window's thread) and answering.
    EXPECT_TRUE(QTest::qWaitFor([&] { return rules->Connected(); }, 3000));
    EXPECT_TRUE(g_relay.serialOpen.load());
    EXPECT_FALSE(main->isVisible());
    ASSERT_NE(main->TrayIcon(), nullptr);
    EXPECT_EQ(Find<QComboBox>(main.get(), ids::kPortList)->currentText().toStdString(),
              cat->DevicePath());
    ASSERT_TRUE(cat->SendLoneCr());
    EXPECT_TRUE(cat->ExpectBurst(catsim::kACK, 5000));
    EXPECT_FALSE(notice.isNull()) << "still unanswered";

    notice->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return notice.isNull(); }, 3000)) << "answered, it goes";
}

}  // namespace
