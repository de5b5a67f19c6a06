#include <QApplication>

#include "app/brisken_app.h"
#include "ui/qt/main_window.h"
#include "ui/qt/message_boxes.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    QtMessageBoxes boxes;
    StartOptions options;
    options.commandLine = CommandLineAfterProgram(argc, argv);
    CBriskenApp theApp;
    return theApp.InitInstance(boxes, std::move(options), [](CBriskenDlg& rules) {
        return std::make_unique<QtMainWindow>(rules);
    });
}
