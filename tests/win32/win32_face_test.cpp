// The Win32 face is wired: each control is found by its ID with its text, a
// click or a menu command reaches its rule, a worker's display write reaches
// its control, and the status window's alpha follows its slider. The rules
// themselves are tested without a toolkit (tests/rules).
// The about box's header first (it keeps windows.h's IDC_ICON off the rules'
// name), then windows.h and what builds on it.
// clang-format off
#include "ui/win32/about_box.h"
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/progress_dlg.h"
#include "platform/windows/text.h"
#include "tests/rules/rules_fixture.h"
#include "ui/win32/main_window.h"
#include "ui/win32/setting_dialog.h"
#include "ui/win32/status_window.h"

namespace {

using win32face::controls::ItemText;
using win32face::controls::Text;

// Handles what is queued, until done() holds (at most 3 s).
bool PumpUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

std::string Caption(HWND hwnd) {
    wchar_t text[128] = {};
    GetWindowTextW(hwnd, text, 128);
    return platform::win::Utf8(text, wcslen(text));
}

void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct IdText {
    int id;
    const char* text;
};

void ExpectTexts(HWND dialog, std::initializer_list<IdText> expected) {
    for (const IdText& e : expected) {
        ASSERT_NE(GetDlgItem(dialog, e.id), nullptr) << e.id;
        EXPECT_EQ(Text(dialog, e.id), e.text) << e.id;
    }
}

class Win32Face : public RulesFixture {
protected:
    void Start() {
        rules = std::make_unique<CBriskenDlg>(boxes, Options());
        main = std::make_unique<Win32MainWindow>(*rules);
        ASSERT_NE(main->Handle(), nullptr);
        ASSERT_TRUE(rules->OnInitDialog(*main));
        main->ShowWindow(WindowShow::Show);
        ASSERT_TRUE(PumpUntil([&] { return Text(main->Handle(), ids::kLinkLine) == kNotLinked; }));
    }
    void TearDown() override {
        main.reset();
        rules.reset();
        RulesFixture::TearDown();
    }
    void Command(int id) {
        SendMessageW(main->Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
        PumpUntil([] { return true; });
    }

    std::unique_ptr<CBriskenDlg> rules;
    std::unique_ptr<Win32MainWindow> main;
};

TEST_F(Win32Face, MainWindowControlsCarryTheirTextsAndClicksReachTheRules) {
    WriteIni({.speed = "38.4K"});
    Start();
    HWND hwnd = main->Handle();
    EXPECT_EQ(Caption(hwnd), "Talmira");
    EXPECT_TRUE(IsWindowVisible(hwnd));
    ExpectTexts(hwnd, {{ids::kConnect, "연결"},
                       {ids::kDisconnect, "끊기"},
                       {ids::kSettings, "설정"},
                       {ids::kLinkLine, "CAT : 비연결 | VAN : 비연결"},
                       {ids::kProgressLine, ""},
                       {ids::kMainTransferText, ""},
                       {ids::kMainBar, std::string(48, ' ').c_str()}});
    EXPECT_EQ(ItemText(hwnd, ids::kPortList, 0), "선택안함");
    EXPECT_EQ(ItemText(hwnd, ids::kPortList, 1), "COM1");
    EXPECT_EQ(
        ItemText(hwnd, ids::kSpeedList, win32face::controls::Selection(hwnd, ids::kSpeedList)),
        "38400");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, ids::kDisconnect)));

    Click(hwnd, ids::kConnect);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"통신포트 선택에 문제가 있습니다."});
    win32face::controls::Select(hwnd, ids::kPortList, 2);
    Click(hwnd, ids::kConnect);
    EXPECT_EQ(relay.opened, std::vector<std::string>{"COM2 38400"});
    EXPECT_FALSE(IsWindowVisible(hwnd)) << "a successful connect hides the window";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, ids::kPortList)));

    // Without the show permission nothing shows the window.
    ::ShowWindow(hwnd, SW_SHOW);
    EXPECT_FALSE(IsWindowVisible(hwnd));

    std::thread worker([] { SetTransferState("Socket Error", kErrorColour); });
    worker.join();
    EXPECT_TRUE(PumpUntil([&] { return Text(hwnd, ids::kMainTransferText) == "Socket Error"; }));
    EXPECT_EQ(main->BarColour(), kErrorColour);
}

TEST_F(Win32Face, TrayMenuHoldsTheCommandsAndEachReachesItsRule) {
    WriteIni({});
    Start();
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(win32face::kIdTrayMenu));
    ASSERT_NE(menu, nullptr);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(std::size(ids::kTrayMenu)));
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        const ids::MenuItem& item = ids::kTrayMenu[i];
        EXPECT_EQ(static_cast<int>(GetMenuItemID(popup, i)), item.id == 0 ? 0 : item.id) << i;
        wchar_t text[64] = {};
        GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
        EXPECT_EQ(platform::win::Utf8(text, wcslen(text)), item.text ? item.text : "") << i;
    }
    DestroyMenu(menu);

    Command(ids::kMenuShowStatus);
    ASSERT_NE(main->StatusWindow(), nullptr);
    EXPECT_TRUE(IsWindowVisible(main->StatusWindow()->Handle()));
    Command(ids::kMenuHideStatus);
    EXPECT_FALSE(IsWindowVisible(main->StatusWindow()->Handle()));
    Command(ids::kMenuAbout);
    ASSERT_NE(main->AboutBox(), nullptr);
    EXPECT_TRUE(IsWindowVisible(main->AboutBox()->Handle()));
    Command(ids::kMenuHide);
    EXPECT_FALSE(rules->ShowAllowed());
    EXPECT_TRUE(IsIconic(main->Handle()) || !IsWindowVisible(main->Handle()));
    // A double click on the tray icon restores the window.
    SendMessageW(main->Handle(), Win32MainWindow::kTrayNotify, Win32MainWindow::kTrayIconId,
                 WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(main->Handle()));
    EXPECT_FALSE(IsIconic(main->Handle()));
    boxes.answer = msgbox::Answer::No;
    Command(ids::kMenuExit);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"정말로 종료하시겠습니까?"});
    EXPECT_FALSE(rules->Destroyed());
}

TEST_F(Win32Face, TrayIconComesBackAfterEachTaskbarCreatedAndGoesAtExit) {
    WriteIni({});
    Start();
    HWND hwnd = main->Handle();
    ASSERT_TRUE(main->TrayIconAdded());
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = hwnd;
    icon.uID = Win32MainWindow::kTrayIconId;
    // The notification area holds the icon when a modify of it succeeds.
    const auto present = [&] {
        NOTIFYICONDATAW probe = icon;
        return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
    };
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    // Sent while the icon is still there (the scaling changed), then after
    // Explorer lost it (a restart).
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "after the icon was lost" : "while the icon is there");
        if (lost) {
            ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
        }
        SendMessageW(hwnd, taskbarCreated, 0, 0);
        EXPECT_TRUE(main->TrayIconAdded());
        EXPECT_TRUE(present());
    }
    main.reset();
    EXPECT_FALSE(present()) << "no icon is left after the exit";
}

TEST_F(Win32Face, StatusWindowSitsBottomRightAndItsAlphaFollowsTheSlider) {
    WriteIni({});
    Start();
    Command(ids::kMenuShowStatus);
    Win32StatusWindow* status = main->StatusWindow();
    ASSERT_NE(status, nullptr);
    HWND hwnd = status->Handle();
    EXPECT_EQ(Caption(hwnd), "Talmira STATUS");
    EXPECT_NE(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    ExpectTexts(hwnd, {{ids::kStatusLinkLine, "CAT : 비연결 | VAN : 비연결"},
                       {ids::kStatusTransferText, ""}});
    // Bottom-right in the work area, also after the taskbar grows below or
    // moves to the left (the work area set as Explorer sets it).
    RECT saved{}, screen{}, frame{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved, 0);
    GetWindowRect(GetDesktopWindow(), &screen);
    const RECT areas[] = {saved,
                          {screen.left, screen.top, screen.right, screen.bottom - 72},
                          {screen.left + 48, screen.top, screen.right, screen.bottom}};
    for (RECT area : areas) {
        ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &area, SPIF_SENDCHANGE));
        RECT now{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &now, 0);
        EXPECT_EQ(now.bottom, area.bottom);
        EXPECT_EQ(now.left, area.left);
        // What the change's broadcast brings to each top-level window.
        SendMessageW(hwnd, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
        EXPECT_TRUE(PumpUntil([&] {
            GetWindowRect(hwnd, &frame);
            return frame.right == area.right - 2 && frame.bottom == area.bottom - 5;
        })) << frame.right
            << "," << frame.bottom << " in " << area.right << "," << area.bottom;
        EXPECT_GE(frame.left, area.left);
        EXPECT_GE(frame.top, area.top);
    }
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &saved, SPIF_SENDCHANGE);

    HWND slider = GetDlgItem(hwnd, ids::kAlphaSlider);
    EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMIN, 0, 0), 100);
    EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMAX, 0, 0), 255);
    for (int pos : {100, 180, 255}) {
        SendMessageW(slider, TBM_SETPOS, TRUE, pos);
        SendMessageW(hwnd, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, pos),
                     reinterpret_cast<LPARAM>(slider));
        EXPECT_EQ(status->LayeredAlpha(), pos);
    }
    // The close box hides the window; the object stays.
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ(status->Handle(), hwnd);
}

TEST_F(Win32Face, SettingsDialogWritesTheIniWhenABoxIsClicked) {
    WriteIni({});
    LoadSettings(IniPath());
    CSettingDlg dialog(nullptr, boxes, Services());
    Win32SettingDialog view(dialog, nullptr);
    ASSERT_NE(view.Handle(), nullptr);
    dialog.OnInitDialog(view);
    HWND hwnd = view.Handle();
    EXPECT_EQ(Caption(hwnd), "Talmira SETUP");
    ExpectTexts(hwnd, {{CSettingDlg::IDC_AUTORUN, "  WINDOWS와 함께 시작"},
                       {CSettingDlg::IDC_AUTOCONNECT, "  시작시 자동 연결"},
                       {CSettingDlg::IDC_STATUSBOX, "  단말기 연결 후 상태창 표시"},
                       {CSettingDlg::IDC_LOG, "  로그 파일 만들기"},
                       {CSettingDlg::IDC_UNINSTALL, "프로그램 삭제"},
                       {CSettingDlg::IDC_CLOSE, "닫기"},
                       {CSettingDlg::IDC_VERSION, "2.0.0.6"}});
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, CSettingDlg::IDC_PORTLIST)));

    Click(hwnd, CSettingDlg::IDC_LOG);
    EXPECT_NE(ReadFile(IniPath()).find("log=Y"), std::string::npos);
    Click(hwnd, CSettingDlg::IDC_AUTORUN);
    EXPECT_TRUE(autoRun.has_value());
    // A selection by the user reaches the rules: auto-connect first enables the lists.
    Click(hwnd, CSettingDlg::IDC_AUTOCONNECT);
    win32face::controls::Select(hwnd, CSettingDlg::IDC_PORTLIST, 4);
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(CSettingDlg::IDC_PORTLIST, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwnd, CSettingDlg::IDC_PORTLIST)));
    EXPECT_NE(ReadFile(IniPath()).find("port=5"), std::string::npos);
}

TEST_F(Win32Face, AboutBoxLinksOpenTheirHelpPages) {
    WriteIni({});
    Start();
    Command(ids::kMenuAbout);
    Win32AboutBox* about = main->AboutBox();
    ASSERT_NE(about, nullptr);
    std::vector<std::string> opened;
    about->SetOpener([&](const std::string& url) { opened.push_back(url); });
    HWND hwnd = about->Handle();
    ExpectTexts(hwnd, {{1026, "Talmira 카드 결제 게이트웨이"}, {1034, "2.0.0.6"}});
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(about->LinkUrl(CAboutDialog::IDC_HELP1 + n - 1), CAboutDialog::HelpUrl(n)) << n;
    NMLINK click{};
    click.hdr.hwndFrom = GetDlgItem(hwnd, CAboutDialog::IDC_HELP2);
    click.hdr.idFrom = CAboutDialog::IDC_HELP2;
    click.hdr.code = NM_CLICK;
    SendMessageW(hwnd, WM_NOTIFY, CAboutDialog::IDC_HELP2, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(opened, std::vector<std::string>{CAboutDialog::HelpUrl(2)});
    EXPECT_TRUE(about->LinkVisited(CAboutDialog::IDC_HELP2));
}

}  // namespace
