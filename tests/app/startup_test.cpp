#include <QTimer>
#include <filesystem>

#include "app/brisken_app.h"
#include "config/paths.h"
#include "tests/app/app_fixture.h"

namespace {

using StartUp = AppFixture;

// Runs the program's life with a guard: a run that has not ended after
// guardMs is ended by the test and reported.
int RunGuarded(StartOptions options, bool* endedByGuard, int guardMs = 10000) {
    *endedByGuard = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [endedByGuard] {
        *endedByGuard = true;
        QCoreApplication::exit(0);
    });
    guard.start(guardMs);
    CBriskenApp app;
    return app.InitInstance(std::move(options));
}

TEST_F(StartUp, DerivesPathValuesAndCountsCopiesOfTheExecutable) {
    WriteIni({.speed = "56.0K"});
    CBriskenDlg w(Options());
    EXPECT_EQ(g_paths.exeName, "brisken");
    EXPECT_EQ(g_paths.exeBase, "brisken");
    EXPECT_EQ(g_paths.iniPath, IniPath());
    EXPECT_EQ(countedName, "brisken");
    EXPECT_EQ(g_comSpeed, "57600");  // the only copy loaded its settings
    EXPECT_FALSE(w.QuitQueued());
}

TEST_F(StartUp, SecondCopyEndsWithoutTouchingTheIni) {
    copies = 2;
    StartOptions options = Options();
    bool initialised = false;
    options.installSelf = [&](IUpdateHost&) { initialised = true; };
    bool guard = false;
    EXPECT_EQ(RunGuarded(std::move(options), &guard), 0);
    EXPECT_FALSE(guard) << "the second copy did not end";
    EXPECT_TRUE(initialised);  // the initialisation ran before the quit was taken
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
    EXPECT_TRUE(asked.empty());  // nothing asked, no message
    EXPECT_EQ(g_comSpeed, "");
    EXPECT_FALSE(g_autoConnect);
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
        ASSERT_EQ(SetAutoRun(AutoRunCommand()), 1);
        ASSERT_TRUE(IsAutoRunRegistered());
        StartOptions options = Options();
        options.commandLine = c.commandLine;
        CBriskenDlg w(std::move(options));
        EXPECT_EQ(IsAutoRunRegistered(), !c.removes);
        EXPECT_EQ(w.QuitQueued(), c.removes);
        DeleteAutoRunValue();
    }
}

TEST_F(StartUp, UninstallRunEndsAfterTheInitialisation) {
    WriteIni({});
    ASSERT_EQ(SetAutoRun(AutoRunCommand()), 1);
    StartOptions options = Options();
    options.commandLine = "/UNINSTALL";
    bool guard = false;
    EXPECT_EQ(RunGuarded(std::move(options), &guard), 0);
    EXPECT_FALSE(guard) << "the run did not end";
    EXPECT_FALSE(IsAutoRunRegistered());
    EXPECT_TRUE(installRan);
    EXPECT_TRUE(asked.empty());
}

TEST_F(StartUp, FailedStartEndsWithoutAsking) {
    WriteIni({});
    networkUp = false;
    bool guard = false;
    EXPECT_EQ(RunGuarded(Options(), &guard), 0);
    EXPECT_FALSE(guard);
    EXPECT_EQ(AskedTexts(),
              std::vector<QString>{QStringLiteral("인터넷이 연결되어 있지 않아 종료합니다.")});
}

TEST_F(StartUp, QuitRequestedWithinTheRunEndsIt) {
    WriteIni({});
    StartOptions options = Options();
    // The settings dialog's uninstall: clear the confirmation and queue the quit.
    applyNow = 0;
    CBriskenDlg* window = nullptr;
    options.runSettingsDialog = [&](QWidget*, IMainWindowControl* main) {
        main->ClearConfirmExit();
        main->PostQuit();
        return 0;
    };
    bool guard = false;
    QTimer::singleShot(0, [&] {
        window = qobject_cast<CBriskenDlg*>(QApplication::activeWindow());
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* w = qobject_cast<CBriskenDlg*>(top)) window = w;
        }
        if (window) window->OnSettingsButton();
    });
    EXPECT_EQ(RunGuarded(std::move(options), &guard), 0);
    EXPECT_NE(window, nullptr);
    EXPECT_FALSE(guard);
    EXPECT_TRUE(asked.empty());
}

}  // namespace
