#pragma once
#include <functional>
#include <memory>
#include <string>

#include "app/brisken_dlg.h"

// The application: constructs the main window and runs it modally; that run is
// the program's life.
class CBriskenApp {
public:
    // Builds the face's main window for the rules (after their construction).
    using MakeMainWindow = std::function<std::unique_ptr<IMainWindowView>(CBriskenDlg& rules)>;

    // Constructs the main window's rules (path values, single-copy rule,
    // settings, "/uninstall"), lets makeView build its window, runs it until it
    // is destroyed or a quit is taken, and returns the exit code.
    int InitInstance(msgbox::IMessageBoxes& boxes, StartOptions options,
                     const MakeMainWindow& makeView);
};

// The command line after the program name: the arguments joined by blanks.
std::string CommandLineAfterProgram(int argc, char** argv);
