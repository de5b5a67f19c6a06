#pragma once

// Numeric IDs of the main and status windows' controls and of the tray menu's
// commands. Every face addresses a control by its ID (the Qt face also uses it
// as the control's objectName, so tests can find it).
namespace ids {

// Main window.
inline constexpr int kPortList = 1000;
inline constexpr int kSpeedList = 1001;
inline constexpr int kConnect = 1002;
inline constexpr int kDisconnect = 1003;
inline constexpr int kSettings = 1004;
inline constexpr int kLinkLine = 1005;
inline constexpr int kProgressLine = 1006;  // both windows
inline constexpr int kMainBar = 1007;
inline constexpr int kMainTransferText = 1021;

// Status window.
inline constexpr int kAlphaSlider = 1016;
inline constexpr int kStatusLinkLine = 1017;
inline constexpr int kStatusBar = 1018;
inline constexpr int kStatusTransferText = 1022;

// Tray menu.
inline constexpr int kMenuRestore = 32776;
inline constexpr int kMenuAbout = 32777;
inline constexpr int kMenuExit = 32778;
inline constexpr int kMenuHide = 32779;
inline constexpr int kMenuShowStatus = 32781;
inline constexpr int kMenuHideStatus = 32783;

// The tray menu, top to bottom; an id of 0 is a separator.
struct MenuItem {
    int id;
    const char* text;
};
inline constexpr MenuItem kTrayMenu[] = {
    {kMenuRestore, "화면 열기"},
    {kMenuHide, "화면 숨기기"},
    {0, nullptr},
    {kMenuShowStatus, "상태창 열기"},
    {kMenuHideStatus, "상태창 숨기기"},
    {0, nullptr},
    {kMenuAbout, "정보..."},
    {0, nullptr},
    {kMenuExit, "종료"},
};

// Main window timers.
inline constexpr int kTrayRetryTimer = 1;  // the notification area was not there yet

// The tray icon's tip and every window question's caption.
inline constexpr const char* kProductName = "Talmira";

}  // namespace ids
