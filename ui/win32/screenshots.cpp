// screenshots.exe: draws the program's windows with made-up ports and texts
// and writes each as a BMP file for the README (tools/windows-screenshots.sh
// turns them into PNG). Nothing is connected, installed or written outside
// the target folder.
//   screenshots.exe OUTDIR
// windows.h first, the headers that build on it after it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/brisken_dlg.h"
#include "config/paths.h"
#include "config/settings.h"
#include "relay/display.h"
#include "ui/win32/about_box.h"
#include "ui/win32/download_window.h"
#include "ui/win32/main_window.h"
#include "ui/win32/message_boxes.h"
#include "ui/win32/setting_dialog.h"
#include "ui/win32/status_window.h"

namespace {

std::vector<std::string> DemoPorts() { return {"COM3", "COM7"}; }

// Handles what is queued for a while, so every window has painted.
void Settle(int ms) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(ms);
    while (GetTickCount() < until) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// The window as the screen shows it, frame included, as a 24-bit BMP.
bool Save(HWND hwnd, const std::string& path) {
    SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    Settle(400);
    RECT r{};
    GetWindowRect(hwnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;  // bottom-up rows, as BMP files keep them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const int stride = (w * 3 + 3) & ~3;
    std::vector<char> pixels(static_cast<size_t>(stride) * h);
    const int rows = GetDIBits(mem, bmp, 0, h, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    const bool ok = rows == h && out.good();
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshots OUTDIR\n");
        return 2;
    }
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_WIN95_CLASSES | ICC_LINK_CLASS};
    InitCommonControlsEx(&classes);
    const std::string out = argv[1];

    StartOptions options;
    options.exePath = out + "\\brisken.exe";  // its settings and log folder stay in OUTDIR
    options.copyWaitMs = 0;
    options.countCopies = [](const std::string&) { return 1; };
    options.claimInstance = [] { return platform::InstanceClaim::Held; };
    options.networkUp = [] { return true; };
    options.installSelf = [](IUpdateHost&) {};
    options.checkUpdate = [](IUpdateHost&) { return 1; };
    options.portSource = &DemoPorts;
    options.settings.portSource = &DemoPorts;
    options.settings.isAutoRunRegistered = [] { return true; };

    int failures = 0;
    Win32MessageBoxes boxes;
    CBriskenDlg rules(boxes, options);
    Win32MainWindow main(rules);
    rules.OnInitDialog(main);
    // What a shop's settings would show: COM7 at 115200, auto-connect on.
    g_comPort = 7;
    g_comSpeed = "115200";
    g_showStatusBox = true;
    g_autoConnect = true;
    g_logEnabled = true;
    rules.SyncSelectors();
    rules.SetLinkText(LinkText(true, true));
    rules.SetProgressText("VAN->PC");
    rules.SetTransferState("", kNormalColour);
    main.ShowWindow(WindowShow::Show);
    Settle(300);
    failures += !Save(main.Handle(), out + "\\main-window.bmp");

    rules.ShowStatusWindow(true);
    rules.SetProgressText("VAN->PC");
    Settle(300);
    if (Win32StatusWindow* status = main.StatusWindow())
        failures += !Save(status->Handle(), out + "\\status-window.bmp");

    {
        CSettingDlg settings(&rules, boxes, options.settings);
        Win32SettingDialog view(settings, main.Handle());
        settings.OnInitDialog(view);
        failures += !Save(view.Handle(), out + "\\settings-dialog.bmp");
        ShowWindow(view.Handle(), SW_HIDE);
    }

    rules.ShowAboutBox();
    if (Win32AboutBox* about = main.AboutBox())
        failures += !Save(about->Handle(), out + "\\about-box.bmp");

    {
        CUpdateDlg update([](CUpdateDlg&) { return nullptr; }, boxes);
        Win32DownloadWindow view(update);
        view.SetProgressRange(100);
        view.SetProgressPos(60);
        failures += !Save(view.Handle(), out + "\\download-window.bmp");
    }

    rules.ShutdownRelay();
    return failures == 0 ? 0 : 1;
}
