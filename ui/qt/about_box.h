#pragma once
#include <QDialog>
#include <QLabel>
#include <QUrl>
#include <functional>

#include "app/about_dialog.h"
#include "ui/qt/qt_controls.h"

// A help link: underlined text that reports its clicks, drawn as visited once
// the rules say so.
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

// The about box in Qt: modeless, owned by the main window; its link clicks
// and close box forwarded to the rules.
class QtAboutBox : public QDialog, public QtControls<IAboutView> {
public:
    // Opens a page; the default hands it to the desktop's browser (tests put
    // their own here).
    using UrlOpener = std::function<void(const QUrl&)>;

    QtAboutBox(CAboutDialog& rules, QWidget* owner, UrlOpener opener = {});

    // IAboutView.
    void SetLinkUrl(int id, const std::string& url) override;
    void MarkLinkVisited(int id) override;
    void OpenUrl(const std::string& url) override;
    void ShowWindow(WindowShow how) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CHelpLink* Link(int id) const;

    CAboutDialog& m_rules;
    UrlOpener m_opener;
};
