#pragma once
#include <string>

#include "app/dialog_controls.h"

// The about box as a face draws it: controls 1025 to 1034.
class IAboutView : public IDialogControls {
public:
    // A help link's address (shown as its tool tip) and its visited look.
    virtual void SetLinkUrl(int id, const std::string& url) = 0;
    virtual void MarkLinkVisited(int id) = 0;
    // Opens a page in the user's browser, under a wait cursor; what the browser
    // makes of it is its own business.
    virtual void OpenUrl(const std::string& url) = 0;
    // Show also brings the window to the front.
    virtual void ShowWindow(WindowShow how) = 0;
};

// The about box's rules: product name, version, copyright and three help
// links. One per run, modeless, owned by the main window; its close box only
// hides it. User-interface thread only.
class CAboutDialog {
public:
    // Control IDs.
    enum ControlId {
        IDC_ICON = 1025,
        IDC_TITLE = 1026,
        IDC_COPYRIGHT = 1027,
        IDC_HELP1 = 1028,
        IDC_HELP2 = 1029,
        IDC_HELP3 = 1030,
        IDC_HELPGROUP = 1031,
        IDC_VERSION = 1034,
    };

    // Takes its window and fills it: title, version, copyright, link addresses.
    void OnInitDialog(IAboutView& view);
    void Detach() { m_view = nullptr; }

    void Show();
    // A click on a help link opens its page, and the link shows as visited.
    void OnCommand(int id);
    // The close box hides the window.
    void OnClose();

    // The help page of link 1 to 3 on the update server (HelpPageUrl).
    static std::string HelpUrl(int n);

private:
    IAboutView* m_view = nullptr;
};

// The one about box of the run; null until the first "정보...", and null again
// once its owner, the main window, has gone.
extern CAboutDialog* g_pAboutDlg;
