// screenshots: renders the program's windows into PNG files for the README,
// with simulated ports and a made-up transfer state. Nothing is connected,
// installed or written outside the target folder (run it under a temporary HOME).
//   screenshots OUTDIR
#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "app/brisken_dlg.h"
#include "app/progress_dlg.h"
#include "config/gui/setting_dlg.h"
#include "config/paths.h"
#include "config/settings.h"
#include "relay/display.h"

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
    options.networkUp = [] { return true; };
    options.installSelf = [](IUpdateHost&) {};
    options.checkUpdate = [](IUpdateHost&) { return 1; };
    options.portSource = &DemoPorts;
    options.screenRect = [] { return QRect(0, 0, 1920, 1080); };

    int failures = 0;
    CBriskenDlg main(options);
    main.Initialise();
    // What a shop's settings would show: a USB adapter at 115200, auto-connect on.
    g_comPort = 0;
    g_comPortPath = "/dev/ttyUSB0";
    g_comSpeed = "115200";
    g_showStatusBox = true;
    g_autoConnect = true;
    g_logEnabled = true;
    main.SyncSelectors();
    main.SetLinkText(LinkText(true, true));
    main.SetProgressText("VAN->PC");
    main.SetTransferState("", kNormalColour);
    main.show();
    QApplication::processEvents();
    failures += !Save(&main, out + "/main-window.png");

    main.ShowStatusWindow(true);
    main.SetProgressText("VAN->PC");
    QApplication::processEvents();
    if (CProgressDlg* status = main.StatusWindow()) {
        failures += !Save(status, out + "/status-window.png");
    }

    CSettingDlg::Services services;
    services.portSource = &DemoPorts;
    CSettingDlg settings(&main, &main, services);
    settings.show();
    QApplication::processEvents();
    failures += !Save(&settings, out + "/settings-dialog.png");
    settings.hide();

    ShowAboutBox(&main);
    QApplication::processEvents();
    if (g_pAboutDlg) failures += !Save(g_pAboutDlg.data(), out + "/about-box.png");

    main.ShutdownRelay();
    return failures == 0 ? 0 : 1;
}
