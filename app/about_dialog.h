#pragma once
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QUrl>
#include <functional>

// A help link: underlined text that opens its URL when clicked and is drawn as
// visited afterwards.
class CHelpLink : public QLabel {
    Q_OBJECT

public:
    CHelpLink(const QString& text, int id, QWidget* parent = nullptr);
    void SetUrl(const QUrl& url);
    QUrl Url() const { return m_url; }
    bool Visited() const { return m_visited; }
    void MarkVisited();

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Restyle();
    QUrl m_url;
    bool m_visited = false;
};

// The about box: product name, version, copyright and three help links. One
// per run, modeless, owned by the main window; its close box only hides it.
// User-interface thread only.
class CAboutDialog : public QDialog {
    Q_OBJECT

public:
    // Control IDs; each is the objectName of its control.
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

    explicit CAboutDialog(QWidget* owner);

    // Opens a help page; returns whether it could. The default hands the URL
    // to the desktop's browser; tests put their own here (empty restores).
    using UrlOpener = std::function<bool(const QUrl&)>;
    static void SetUrlOpener(UrlOpener opener);

    // The help page of link 1 to 3 on the update server (HelpPageUrl).
    static QUrl HelpUrl(int n);

private:
    void OpenLink(CHelpLink* link);
};

// The one about box of the run; null until the first ShowAboutBox, and null
// again once its owner has destroyed it.
extern QPointer<CAboutDialog> g_pAboutDlg;

// The tray menu's "정보...": creates the about box on first use (owned by
// owner) and shows it.
void ShowAboutBox(QWidget* owner);
