#pragma once
#include <windows.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/message_box.h"

// The program's message boxes with MessageBoxW. A question is owned by the
// window the user is working in; a notice stands in a thread of its own, so
// the user-interface thread goes on while it waits for its OK.
class Win32MessageBoxes : public msgbox::IMessageBoxes {
public:
    ~Win32MessageBoxes() override;
    msgbox::Answer Show(const msgbox::Request& request) override;
    void Notify(const msgbox::Request& request) override;

    // The flags MessageBoxW gets for a request.
    static UINT Flags(const msgbox::Request& request);

private:
    struct Notice {
        std::thread thread;
        std::atomic<DWORD> threadId{0};
        std::atomic<bool> done{false};
    };
    // Closes the notices still standing (their OK) and joins their threads.
    void CloseNotices();

    std::vector<std::unique_ptr<Notice>> m_notices;
};

// The command line after the program name and the blanks that follow it.
std::string CommandLineAfterProgram(const wchar_t* commandLine);
