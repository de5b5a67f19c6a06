#pragma once

// What the settings dialog's uninstall needs of the main window.
class IMainWindowControl {
public:
    virtual ~IMainWindowControl() = default;
    // The main window's close stops asking "정말로 종료하시겠습니까?".
    virtual void ClearConfirmExit() = 0;
    // Queues the end of the main window's run (the program ends without asking).
    virtual void PostQuit() = 0;
};
