// brisken.exe: the Windows program. Start-up registers the common controls
// and runs the main window; its run is the program's life.
// windows.h first, the headers that build on it after it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "app/brisken_app.h"
#include "ui/win32/main_window.h"
#include "ui/win32/message_boxes.h"

int main() {
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof(classes);
    // The slider and the progress bar are of the Windows 95 classes; the
    // about box's help links are SysLink controls.
    classes.dwICC = ICC_WIN95_CLASSES | ICC_LINK_CLASS;
    InitCommonControlsEx(&classes);

    Win32MessageBoxes boxes;
    StartOptions options;
    options.commandLine = CommandLineAfterProgram(GetCommandLineW());
    CBriskenApp theApp;
    return theApp.InitInstance(boxes, std::move(options), [](CBriskenDlg& rules) {
        return std::make_unique<Win32MainWindow>(rules);
    });
}
