#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "app/message_box.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/update/fake_update_host.h"
#include "update/gui/update_dlg.h"
#include "update/update_state.h"

namespace {

namespace fs = std::filesystem;

// The main window's side of the check, as the real one does it.
class WindowHost : public FakeUpdateHost {
public:
    void ShowAppMessage(const std::string& text) override {
        msgbox::ShowAppMessage(QString::fromStdString(text));
    }
    int RunDownloadWindow(const std::string& url, const std::string& path, int start) override {
        return RunUpdateDialog(url, path, start);
    }
};

class UpdateDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetUpdateState();
        msgbox::SetAnswerer([this](const msgbox::Request& r) {
            boxes.push_back(r.text.toStdString());
            return msgbox::Answer::Ok;
        });
    }
    void TearDown() override {
        DestroyUpdateDialog();
        msgbox::SetAnswerer({});
        ResetUpdateState();
    }
    QProgressBar* Bar() const {
        return g_pUpdateDlg->findChild<QProgressBar*>(QStringLiteral("IDC_PROGRESS_1035"));
    }

    std::vector<std::string> boxes;
    TempDir dir;
    TestHttpServer server;
};

TEST_F(UpdateDlgTest, EmptyUrlSaysUpdateErrorThenUpdateFailed) {
    fs::create_directory(dir / "QAVEX");
    server.Set("/brisken/brisken_ver.php?app_name=Brisken",
               TestHttpServer::Ok(R"({"status":"ok","version":"2.0.0.7","url":""})"));
    UpdateOptions options;
    options.paths = DerivePathValues(dir / "start/brisken", "", dir.path());
    options.host = server.host();
    options.networkUp = [] { return true; };
    options.launch = [](const std::string&, const std::string&) { return -1; };
    WindowHost host;
    EXPECT_EQ(CheckUpdate(host, options), 1);
    const std::vector<std::string> expected = {"업데이트 오류", "업데이트 실패"};
    EXPECT_EQ(boxes, expected);
    ASSERT_NE(g_pUpdateDlg, nullptr);
    EXPECT_FALSE(g_pUpdateDlg->isVisible());
}

TEST_F(UpdateDlgTest, DownloadsWithProgressAndClosesItself) {
    const std::string exe = FakeExecutable(200000);
    server.Set("/new", TestHttpServer::Ok(exe));
    const std::string path = dir / "UpdateFile.sob";
    EXPECT_EQ(RunUpdateDialog(server.Url("/new"), path, 0), 1);
    EXPECT_EQ(ReadFile(path), exe);
    QApplication::processEvents();
    ASSERT_NE(Bar(), nullptr);
    EXPECT_EQ(Bar()->maximum(), 200000);
    EXPECT_EQ(Bar()->value(), 200000);
    EXPECT_TRUE(g_pUpdateDlg->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(g_pUpdateDlg->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(boxes.empty());

    // One window per process.
    CUpdateDlg* first = g_pUpdateDlg;
    EXPECT_EQ(RunUpdateDialog(server.Url("/new"), dir / "again", 0), 0);
    EXPECT_EQ(g_pUpdateDlg, first);
    EXPECT_FALSE(fs::exists(dir / "again"));
}

TEST_F(UpdateDlgTest, EscAndEnterDoNotCloseButAnEarlyCloseStops) {
    const std::string exe = FakeExecutable(100000);
    server.Set("/slow", {TestHttpServer::Answer(200, exe.substr(0, 1000), exe.size()).raw, 60000});
    bool stillOpen = false;
    QTimer::singleShot(300, [&] {
        QTest::keyClick(g_pUpdateDlg, Qt::Key_Escape);
        QTest::keyClick(g_pUpdateDlg, Qt::Key_Return);
        QTest::keyClick(g_pUpdateDlg, Qt::Key_Enter);
        QApplication::processEvents();
        stillOpen = g_pUpdateDlg->isVisible();
        g_pUpdateDlg->close();
    });
    const std::string path = dir / "UpdateFile.sob";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(RunUpdateDialog(server.Url("/slow"), path, 0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace

int main(int argc, char** argv) {
    // Headless always, test discovery included.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
