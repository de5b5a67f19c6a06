#include "app/about_dialog.h"

#include "brisken_version.h"
#include "update/server_url.h"

CAboutDialog* g_pAboutDlg = nullptr;

namespace {

constexpr int kHelpLinks[] = {CAboutDialog::IDC_HELP1, CAboutDialog::IDC_HELP2,
                              CAboutDialog::IDC_HELP3};

}  // namespace

void CAboutDialog::OnInitDialog(IAboutView& view) {
    m_view = &view;
    m_view->SetText(IDC_TITLE, "Talmira 카드 결제 게이트웨이");
    m_view->SetText(IDC_VERSION, BRISKEN_VERSION);
    m_view->SetText(IDC_COPYRIGHT, "Copyright (C) 2025 Talmira. All rights reserved.");
    for (int n = 1; n <= 3; ++n) m_view->SetLinkUrl(kHelpLinks[n - 1], HelpUrl(n));
}

void CAboutDialog::Show() {
    if (m_view != nullptr) m_view->ShowWindow(WindowShow::Show);
}

void CAboutDialog::OnCommand(int id) {
    if (m_view == nullptr) return;
    for (int n = 1; n <= 3; ++n) {
        if (kHelpLinks[n - 1] != id) continue;
        m_view->OpenUrl(HelpUrl(n));
        m_view->MarkLinkVisited(id);
    }
}

void CAboutDialog::OnClose() {
    if (m_view != nullptr) m_view->ShowWindow(WindowShow::Hide);
}

std::string CAboutDialog::HelpUrl(int n) {
    return HelpPageUrl(BRISKEN_UPDATE_HOST, n);
}
