#include <QApplication>

#include "app/brisken_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    StartOptions options;
    options.commandLine = CommandLineAfterProgram(argc, argv);
    CBriskenApp theApp;
    return theApp.InitInstance(std::move(options));
}
