#pragma once
#include <functional>
#include <string>
#include <vector>

#include "update/update_check.h"

// Records what the self-management asks of the main window.
class FakeUpdateHost : public IUpdateHost {
public:
    std::vector<std::string> events;
    std::function<int(const std::string&, const std::string&, int)> download =
        [](const std::string&, const std::string&, int) { return 0; };

    void SetShowAllowed(bool allowed) override { events.push_back(allowed ? "show:1" : "show:0"); }
    void ClearConfirmExit() override { events.push_back("clear"); }
    void PostQuit() override { events.push_back("quit"); }
    void ShowAppMessage(const std::string& text) override { events.push_back("message:" + text); }
    int RunDownloadWindow(const std::string& url, const std::string& path, int startResult) override {
        events.push_back("download:" + url + "|" + path + "|" + std::to_string(startResult));
        return download(url, path, startResult);
    }
};

// Bytes that pass for an executable of this platform.
std::string FakeExecutable(size_t size = 300);
