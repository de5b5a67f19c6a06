#include "app/about_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QTest>
#include <memory>

using ::testing::ElementsAre;

namespace {

class AboutDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAboutDialog::SetUrlOpener([this](const QUrl& url) {
            m_opened.push_back(url.toString().toStdString());
            return true;
        });
        m_owner = std::make_unique<QWidget>();
        m_owner->show();
    }
    void TearDown() override {
        m_owner.reset();
        CAboutDialog::SetUrlOpener({});
    }

    template <class T>
    static T* Control(int id) {
        T* w = g_pAboutDlg->findChild<T*>(QString::number(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }

    std::unique_ptr<QWidget> m_owner;
    std::vector<std::string> m_opened;
};

TEST_F(AboutDialogTest, InfoTwiceGivesOneBoxAndCloseOnlyHidesIt) {
    ShowAboutBox(m_owner.get());
    ASSERT_FALSE(g_pAboutDlg.isNull());
    CAboutDialog* first = g_pAboutDlg.data();
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());

    ShowAboutBox(m_owner.get());
    EXPECT_EQ(g_pAboutDlg.data(), first);
    EXPECT_EQ(m_owner->findChildren<CAboutDialog*>().size(), 1);

    first->close();
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(g_pAboutDlg.data(), first) << "the close box only hides";
    ShowAboutBox(m_owner.get());
    EXPECT_EQ(g_pAboutDlg.data(), first);
    EXPECT_TRUE(first->isVisible());

    // It dies with its owner and leaves no dangling reference behind.
    m_owner.reset();
    EXPECT_TRUE(g_pAboutDlg.isNull());
}

TEST_F(AboutDialogTest, ShowsVersionTitleAndHelpLinks) {
    ShowAboutBox(m_owner.get());
    EXPECT_EQ(Control<QLabel>(CAboutDialog::IDC_VERSION)->text(), QStringLiteral("2.0.0.6"));
    EXPECT_FALSE(Control<QLabel>(CAboutDialog::IDC_TITLE)->text().isEmpty());
    EXPECT_FALSE(Control<QLabel>(CAboutDialog::IDC_COPYRIGHT)->text().isEmpty());
    EXPECT_FALSE(Control<QLabel>(CAboutDialog::IDC_ICON)->pixmap().isNull());
    EXPECT_EQ(Control<QGroupBox>(CAboutDialog::IDC_HELPGROUP)->title(), QString::fromUtf8("도움말"));

    struct Link {
        int id;
        const char* text;
        QString url;
    };
    const QString base = QStringLiteral("http://" BRISKEN_UPDATE_HOST "/brisken/");
    const Link links[] = {
        {CAboutDialog::IDC_HELP1, "단말기 설정", base + "help1.html"},
        {CAboutDialog::IDC_HELP2, "프로그램 설정", base + "help2.html"},
        {CAboutDialog::IDC_HELP3, "설치/삭제", base + "help3.html"},
    };
    for (const Link& l : links) {
        auto* link = Control<CHelpLink>(l.id);
        EXPECT_EQ(link->text(), QString::fromUtf8(l.text));
        EXPECT_EQ(link->Url().toString(), l.url);
    }
}

TEST_F(AboutDialogTest, ClickingALinkOpensItsPageAndMarksItVisited) {
    ShowAboutBox(m_owner.get());
    auto* second = Control<CHelpLink>(CAboutDialog::IDC_HELP2);
    auto* third = Control<CHelpLink>(CAboutDialog::IDC_HELP3);
    EXPECT_FALSE(second->Visited());
    QTest::mouseClick(second, Qt::LeftButton);
    EXPECT_THAT(m_opened, ElementsAre("http://" BRISKEN_UPDATE_HOST "/brisken/help2.html"));
    EXPECT_TRUE(second->Visited());
    EXPECT_FALSE(third->Visited());
    EXPECT_NE(second->palette().color(QPalette::WindowText),
              third->palette().color(QPalette::WindowText));
}

TEST_F(AboutDialogTest, EnterAndEscapeDoNothing) {
    ShowAboutBox(m_owner.get());
    QWidget* targets[] = {g_pAboutDlg.data(), Control<CHelpLink>(CAboutDialog::IDC_HELP1)};
    for (QWidget* target : targets) {
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(target, key);
            QCoreApplication::processEvents();
            EXPECT_TRUE(g_pAboutDlg->isVisible()) << key;
        }
    }
    EXPECT_TRUE(m_opened.empty());
}

}  // namespace
