#include "app/brisken_app.h"

#include <QApplication>

int CBriskenApp::InitInstance(StartOptions options) {
    // The program lives in the tray: hiding or closing windows never ends it;
    // the main window's destruction does.
    QApplication::setQuitOnLastWindowClosed(false);
    CBriskenDlg mainWindow(std::move(options));
    return mainWindow.Run();
}

std::string CommandLineAfterProgram(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}
