#include "app/about_dialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "app/app_icon.h"
#include "config/gui/dialog_keys.h"
#include "update/server_url.h"

QPointer<CAboutDialog> g_pAboutDlg;

namespace {

CAboutDialog::UrlOpener& CurrentOpener() {
    static CAboutDialog::UrlOpener opener;
    return opener;
}

QLabel* MakeLabel(const QString& text, int id = 0) {
    auto* label = new QLabel(text);
    if (id != 0) label->setObjectName(QString::number(id));
    return label;
}

}  // namespace

CHelpLink::CHelpLink(const QString& text, int id, QWidget* parent) : QLabel(text, parent) {
    setObjectName(QString::number(id));
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    Restyle();
}

void CHelpLink::SetUrl(const QUrl& url) {
    m_url = url;
    setToolTip(url.toString());
}

void CHelpLink::MarkVisited() {
    m_visited = true;
    Restyle();
}

void CHelpLink::Restyle() {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, m_visited ? QColor(0x80, 0x00, 0x80) : QColor(0x00, 0x00, 0xFF));
    setPalette(pal);
}

void CHelpLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

CAboutDialog::CAboutDialog(QWidget* owner)
    : QDialog(owner,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Talmira"));
    setModal(false);
    setWindowIcon(AppIcon());

    PaintWhite(this);

    auto* icon = MakeLabel(QString(), IDC_ICON);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    icon->setFixedSize(32, 32);

    auto* title = MakeLabel(QString::fromUtf8("Talmira 카드 결제 게이트웨이"), IDC_TITLE);
    QFont titleFont(QString::fromUtf8("굴림체"));
    titleFont.setStyleHint(QFont::SansSerif);
    titleFont.setPixelSize(12);
    titleFont.setWeight(QFont::Normal);
    title->setFont(titleFont);

    auto* version = MakeLabel(QStringLiteral(BRISKEN_VERSION), IDC_VERSION);
    auto* copyright =
        MakeLabel(QStringLiteral("Copyright (C) 2025 Talmira. All rights reserved."), IDC_COPYRIGHT);

    auto* help = new QGroupBox(QString::fromUtf8("도움말"));
    help->setObjectName(QString::number(IDC_HELPGROUP));
    auto* helpLayout = new QHBoxLayout(help);
    const char* linkTexts[] = {"단말기 설정", "프로그램 설정", "설치/삭제"};
    for (int n = 1; n <= 3; ++n) {
        auto* link = new CHelpLink(QString::fromUtf8(linkTexts[n - 1]), IDC_HELP1 + n - 1);
        link->SetUrl(HelpUrl(n));
        connect(link, &CHelpLink::clicked, this, [this, link] { OpenLink(link); });
        helpLayout->addWidget(link);
    }

    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(MakeLabel(QStringLiteral("Version : ")));
    versionRow->addWidget(version, 1);
    auto* texts = new QVBoxLayout;
    texts->addWidget(title);
    texts->addLayout(versionRow);
    texts->addWidget(copyright);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(help);

    DiscardEnterEscape(this);
}

void CAboutDialog::SetUrlOpener(UrlOpener opener) { CurrentOpener() = std::move(opener); }

QUrl CAboutDialog::HelpUrl(int n) {
    return QUrl(QString::fromStdString(HelpPageUrl(BRISKEN_UPDATE_HOST, n)));
}

void CAboutDialog::OpenLink(CHelpLink* link) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Whatever the browser makes of the page is its own business.
    if (CurrentOpener())
        CurrentOpener()(link->Url());
    else
        QDesktopServices::openUrl(link->Url());
    QApplication::restoreOverrideCursor();
    link->MarkVisited();
}

void ShowAboutBox(QWidget* owner) {
    if (g_pAboutDlg.isNull()) g_pAboutDlg = new CAboutDialog(owner);
    g_pAboutDlg->show();
    g_pAboutDlg->raise();
    g_pAboutDlg->activateWindow();
}
