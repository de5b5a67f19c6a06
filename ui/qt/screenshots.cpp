// screenshots: renders the program's windows into PNG files for the README,
// with simulated ports and a made-up transfer state. Nothing is connected,
// installed or written outside the target folder (run it under a temporary HOME).
//   screenshots OUTDIR
#include <QApplication>
#include <QFont>
#include <QPixmap>
#include <cstdio>
#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "app/brisken_dlg.h"
#include "config/paths.h"
#include "config/settings.h"
#include "relay/display.h"
#include "ui/qt/about_box.h"
#include "ui/qt/main_window.h"
#include "ui/qt/message_boxes.h"
#include "ui/qt/setting_dialog.h"
#include "ui/qt/status_window.h"

namespace {

std::vector<std::string> DemoPorts() { return {"/dev/ttyS0", "/dev/ttyUSB0"}; }

bool Save(QWidget* w, const QString& path) {
    w->adjustSize();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshots OUTDIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    app.setFont(QFont(QStringLiteral("Noto Sans CJK KR"), 9));
    const QString out = QString::fromLocal8Bit(argv[1]);

    InitPathValues();

    StartOptions options;
    options.copyWaitMs = 0;
    options.countCopies = [](const std::string&) { return 1; };
    options.claimInstance = [] { return platform::InstanceClaim::Held; };
    options.networkUp = [] { return true; };
    options.installSelf = [](IUpdateHost&) {};
    options.checkUpdate = [](IUpdateHost&) { return 1; };
    options.portSource = &DemoPorts;
    options.settings.portSource = &DemoPorts;

    int failures = 0;
    QtMessageBoxes boxes;
    CBriskenDlg rules(boxes, options);
    QtMainWindow main(rules);
    rules.OnInitDialog(main);
    // What a shop's settings would show: a USB adapter at 115200, auto-connect on.
    g_comPort = 0;
    g_comPortPath = "/dev/ttyUSB0";
    g_comSpeed = "115200";
    g_showStatusBox = true;
    g_autoConnect = true;
    g_logEnabled = true;
    rules.SyncSelectors();
    rules.SetLinkText(LinkText(true, true));
    rules.SetProgressText("VAN->PC");
    rules.SetTransferState("", kNormalColour);
    main.show();
    QApplication::processEvents();
    failures += !Save(&main, out + "/main-window.png");

    rules.ShowStatusWindow(true);
    rules.SetProgressText("VAN->PC");
    QApplication::processEvents();
    if (QtStatusWindow* status = main.StatusWindow()) {
        failures += !Save(status, out + "/status-window.png");
    }

    CSettingDlg settings(&rules, boxes, options.settings);
    QtSettingDialog settingsView(settings, &main);
    settings.OnInitDialog(settingsView);
    settingsView.show();
    QApplication::processEvents();
    failures += !Save(&settingsView, out + "/settings-dialog.png");
    settingsView.hide();

    rules.ShowAboutBox();
    QApplication::processEvents();
    if (QtAboutBox* about = main.AboutBox()) failures += !Save(about, out + "/about-box.png");

    rules.ShutdownRelay();
    return failures == 0 ? 0 : 1;
}
