#pragma once
#include <string>

#include "app/brisken_dlg.h"

// The application: sets up the run and runs the main window, whose run is the
// program's life. Needs a QApplication.
class CBriskenApp {
public:
    // Constructs the main window (path values, single-copy rule, settings,
    // "/uninstall"), runs it until it is destroyed, and returns the exit code.
    int InitInstance(StartOptions options);
};

// The command line after the program name: the arguments joined by blanks.
std::string CommandLineAfterProgram(int argc, char** argv);
