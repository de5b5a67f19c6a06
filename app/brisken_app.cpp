#include "app/brisken_app.h"

int CBriskenApp::InitInstance(msgbox::IMessageBoxes& boxes, StartOptions options,
                              const MakeMainWindow& makeView) {
    CBriskenDlg mainWindow(boxes, std::move(options));
    const std::unique_ptr<IMainWindowView> view = makeView(mainWindow);
    return mainWindow.DoModal(*view);
}

std::string CommandLineAfterProgram(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}
