#include <atomic>
#include <thread>

#include "tests/rules/rules_fixture.h"
#include "update/update_state.h"

namespace {

class DownloadWindow : public DownloadFixture {
protected:
    CUpdateDlg::MakeView Maker() {
        return [this](CUpdateDlg& rules) {
            return std::make_unique<FakeDownloadView>(rules, ui, record);
        };
    }
    std::string Path() const { return dir / "UpdateFile.sob"; }

    FakeDownloadRecord record;
};

TEST_F(DownloadWindow, NotStartableSaysUpdateErrorAndMakesNoWindow) {
    int downloads = 0;
    const DownloadFn download = [&](auto&&...) { return ++downloads; };
    EXPECT_EQ(RunUpdateDialog(Maker(), boxes, "", Path(), -1, download), -1);
    EXPECT_EQ(boxes.notices, std::vector<std::string>{"업데이트 오류"});
    EXPECT_EQ(boxes.asked[0].caption, "brisken");
    ASSERT_NE(g_pUpdateDlg, nullptr);
    EXPECT_EQ(record.windows, 0);
    EXPECT_EQ(downloads, 0);
}

TEST_F(DownloadWindow, ShowsTheProgressAndClosesItselfOnceDone) {
    struct Case {
        int64_t total;
        int max;  // a length beyond the bar's range is counted in larger units
    };
    for (const Case& c : {Case{200000, 200000}, Case{5000000000, 1250000000}}) {
        SCOPED_TRACE(c.total);
        DestroyUpdateDialog();
        int downloads = 0;
        const DownloadFn download = [&](const std::string& url, const std::string& path,
                                        const std::atomic<bool>&,
                                        const DownloadProgress& progress) {
            ++downloads;
            EXPECT_EQ(url, "http://127.0.0.1/new");
            EXPECT_EQ(path, Path());
            progress.onTotal(c.total);
            for (int part = 1; part <= 4; ++part) progress.onReceived(c.total / 4 * part);
            return 1;
        };
        EXPECT_EQ(RunUpdateDialog(Maker(), boxes, "http://127.0.0.1/new", Path(), 0, download), 1);
        EXPECT_TRUE(record.ended) << "the window closes itself";
        EXPECT_EQ(record.max, c.max);
        EXPECT_EQ(record.pos, c.max);
        EXPECT_TRUE(boxes.asked.empty());

        // One window per process.
        CUpdateDlg* first = g_pUpdateDlg;
        EXPECT_EQ(RunUpdateDialog(Maker(), boxes, "http://127.0.0.1/new", Path(), 0, download), 0);
        EXPECT_EQ(g_pUpdateDlg, first);
        EXPECT_EQ(downloads, 1);
    }
    EXPECT_EQ(record.windows, 2);
}

TEST_F(DownloadWindow, AnEarlyCloseStopsTheDownload) {
    std::atomic<bool> sawStop{false};
    const DownloadFn download = [&](const std::string&, const std::string&,
                                    const std::atomic<bool>& stop,
                                    const DownloadProgress& progress) {
        progress.onTotal(100000);
        progress.onReceived(1000);
        // A stalled server: only the stop ends the transfer (bounded for the test).
        for (int i = 0; i < 10000 && !stop; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawStop = stop.load();
        return 0;
    };
    record.onRun = [](CUpdateDlg& rules) { rules.OnClose(); };  // the system menu's close
    EXPECT_EQ(RunUpdateDialog(Maker(), boxes, "http://127.0.0.1/slow", Path(), 0, download), 0);
    EXPECT_TRUE(record.ended);
    EXPECT_TRUE(sawStop);
}

}  // namespace
