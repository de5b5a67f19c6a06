#include "ui/qt/about_box.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_keys.h"

namespace {

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
    pal.setColor(QPalette::WindowText,
                 m_visited ? QColor(0x80, 0x00, 0x80) : QColor(0x00, 0x00, 0xFF));
    setPalette(pal);
}

void CHelpLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

QtAboutBox::QtAboutBox(CAboutDialog& rules, QWidget* owner, UrlOpener opener)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      QtControls<IAboutView>(this),
      m_rules(rules),
      m_opener(std::move(opener)) {
    using Id = CAboutDialog::ControlId;
    setWindowTitle(QStringLiteral("Talmira"));
    setModal(false);
    setWindowIcon(AppIcon());

    PaintWhite(this);

    auto* icon = MakeLabel(QString(), Id::IDC_ICON);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    icon->setFixedSize(32, 32);

    auto* title = MakeLabel(QString(), Id::IDC_TITLE);
    QFont titleFont(QString::fromUtf8("굴림체"));
    titleFont.setStyleHint(QFont::SansSerif);
    titleFont.setPixelSize(12);
    titleFont.setWeight(QFont::Normal);
    title->setFont(titleFont);

    auto* help = new QGroupBox(QString::fromUtf8("도움말"));
    help->setObjectName(QString::number(Id::IDC_HELPGROUP));
    auto* helpLayout = new QHBoxLayout(help);
    const char* linkTexts[] = {"단말기 설정", "프로그램 설정", "설치/삭제"};
    for (int n = 0; n < 3; ++n) {
        const int id = Id::IDC_HELP1 + n;
        auto* link = new CHelpLink(QString::fromUtf8(linkTexts[n]), id);
        connect(link, &CHelpLink::clicked, this, [this, id] { m_rules.OnCommand(id); });
        helpLayout->addWidget(link);
    }

    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(MakeLabel(QStringLiteral("Version : ")));
    versionRow->addWidget(MakeLabel(QString(), Id::IDC_VERSION), 1);
    auto* texts = new QVBoxLayout;
    texts->addWidget(title);
    texts->addLayout(versionRow);
    texts->addWidget(MakeLabel(QString(), Id::IDC_COPYRIGHT));
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(help);

    DiscardEnterEscape(this);
}

void QtAboutBox::closeEvent(QCloseEvent* event) {
    event->ignore();
    m_rules.OnClose();
}

CHelpLink* QtAboutBox::Link(int id) const {
    return qobject_cast<CHelpLink*>(qtface::Control(this, id));
}

void QtAboutBox::SetLinkUrl(int id, const std::string& url) {
    if (CHelpLink* link = Link(id)) link->SetUrl(QUrl(qtface::Q(url)));
}

void QtAboutBox::MarkLinkVisited(int id) {
    if (CHelpLink* link = Link(id)) link->MarkVisited();
}

void QtAboutBox::OpenUrl(const std::string& url) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_opener)
        m_opener(QUrl(qtface::Q(url)));
    else
        QDesktopServices::openUrl(QUrl(qtface::Q(url)));
    QApplication::restoreOverrideCursor();
}

void QtAboutBox::ShowWindow(WindowShow how) {
    if (how == WindowShow::Hide) {
        hide();
        return;
    }
    show();
    raise();
    activateWindow();
}
