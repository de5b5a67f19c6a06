// win32_start_bench: how long brisken.exe takes from its start until it is in
// the tray with its window up, as an installed copy (no relocation, no update
// server reached). Each run starts the program, waits (at most 30 s) for the
// visible main window of that process (the tray icon is added just before it
// in the same initialisation), then ends the process by its pid. Prints every
// run and the median. It uses %HOMEDRIVE%\QAVEX and the desktop shortcut of
// the prefix it runs in, and removes what it put there.
//   win32_start_bench.exe BRISKEN_EXE [RUNS]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/windows/text.h"

namespace {

namespace fs = std::filesystem;

struct MainWindowSearch {
    DWORD pid;
    bool found;
};

// WINAPI, as EnumWindows calls it (a lambda's pointer is not, on 32-bit Windows).
BOOL CALLBACK MatchMainWindow(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<MainWindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    wchar_t text[16] = {};
    GetWindowTextW(hwnd, text, 16);
    if (owner == s->pid && IsWindowVisible(hwnd) && lstrcmpW(text, L"Talmira") == 0) {
        s->found = true;
        return FALSE;
    }
    return TRUE;
}

bool VisibleMainWindow(DWORD pid) {
    MainWindowSearch search{pid, false};
    EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: win32_start_bench BRISKEN_EXE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    wchar_t drive[32] = {};
    GetEnvironmentVariableW(L"HOMEDRIVE", drive, 32);
    const std::string installDir = platform::win::Utf8(drive, wcslen(drive)) + "\\QAVEX";
    const std::string exe = installDir + "\\brisken.exe";
    const std::string shortcut = platform::DesktopDir() + "\\brisken.lnk";
    fs::create_directories(installDir);
    fs::copy_file(argv[1], exe, fs::copy_options::overwrite_existing);
    std::ofstream(installDir + "\\brisken.ini") << "[COMMON]\r\nauto_run=N\r\n";
    const bool hadShortcut = fs::exists(shortcut);
    if (!hadShortcut) std::ofstream(shortcut) << "link";

    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        std::wstring line = L"\"" + platform::win::Wide(exe) + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        const auto start = std::chrono::steady_clock::now();
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            platform::win::Wide(installDir).c_str(), &si, &pi)) {
            std::fprintf(stderr, "cannot start %s\n", exe.c_str());
            return 1;
        }
        bool up = false;
        while (!up && std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
            up = VisibleMainWindow(pi.dwProcessId);
            if (!up) Sleep(5);
        }
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        if (!up) {
            std::fprintf(stderr, "run %d: no window within 30 s\n", i + 1);
            return 1;
        }
        std::printf("run %d: %.0f ms\n", i + 1, ms);
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("start to tray, median of %d: %.0f ms (includes the 500 ms copy wait)\n", runs,
                times[times.size() / 2]);

    std::error_code ec;
    fs::remove_all(installDir, ec);
    if (!hadShortcut) fs::remove(shortcut, ec);
    return 0;
}
