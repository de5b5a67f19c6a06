#include <QMenu>
#include <QSlider>
#include <QSystemTrayIcon>

#include "tests/app/app_fixture.h"

namespace {

using StatusAndTray = AppFixture;

TEST_F(StatusAndTray, TrayMenuHoldsTheSevenItemsInOrder) {
    WriteIni({});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    ASSERT_NE(w.TrayIcon(), nullptr);
    EXPECT_EQ(w.TrayIcon()->toolTip(), "Talmira");
    EXPECT_FALSE(w.TrayIcon()->icon().isNull());
    ASSERT_NE(w.TrayMenu(), nullptr);
    QStringList items;
    for (const QAction* a : w.TrayMenu()->actions()) {
        items << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + " " + a->text());
        EXPECT_TRUE(a->isEnabled());
        EXPECT_FALSE(a->isChecked());
    }
    EXPECT_EQ(items, QStringList({QStringLiteral("32776 화면 열기"), QStringLiteral("32779 화면 숨기기"),
                                  "-", QStringLiteral("32781 상태창 열기"),
                                  QStringLiteral("32783 상태창 숨기기"), "-",
                                  QStringLiteral("32777 정보..."), "-", QStringLiteral("32778 종료")}));
}

TEST_F(StatusAndTray, TrayMenuCommands) {
    WriteIni({});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    w.show();
    auto trigger = [&](int id) {
        QAction* a = w.TrayMenu()->findChild<QAction*>(QString::number(id));
        ASSERT_NE(a, nullptr) << id;
        a->trigger();
        QCoreApplication::processEvents();
    };

    trigger(ids::kMenuHide);
    EXPECT_FALSE(w.ShowAllowed());
    EXPECT_TRUE(w.isMinimized());
    w.show();  // nothing may show it now
    EXPECT_FALSE(w.ShowAllowed());

    trigger(ids::kMenuRestore);
    EXPECT_TRUE(w.ShowAllowed());
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());

    // A double click on the icon restores too.
    w.setVisible(false);
    emit w.TrayIcon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(w.isVisible());
    emit w.TrayIcon()->activated(QSystemTrayIcon::Trigger);  // a single click: nothing
    EXPECT_TRUE(w.isVisible());

    trigger(ids::kMenuShowStatus);  // shown even while the port is closed
    EXPECT_TRUE(w.StatusWindow()->isVisible());
    trigger(ids::kMenuHideStatus);
    EXPECT_FALSE(w.StatusWindow()->isVisible());

    trigger(ids::kMenuAbout);
    EXPECT_EQ(aboutShown, 1);

    // Exit asks whatever the exit confirmation says.
    w.ClearConfirmExit();
    answer = msgbox::Answer::No;
    trigger(ids::kMenuExit);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, QStringLiteral("정말로 종료하시겠습니까?"));
    EXPECT_FALSE(w.Destroyed());
    answer = msgbox::Answer::Yes;
    trigger(ids::kMenuExit);
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_TRUE(w.Destroyed());
    EXPECT_EQ(w.TrayIcon(), nullptr);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(StatusAndTray, StatusWindowFirstShowCopiesTheLinkLine) {
    WriteIni({});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    CProgressDlg* status = w.StatusWindow();
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(status->isVisible());
    EXPECT_EQ(g_relay.statusWindow.load(), status);
    ASSERT_TRUE(WaitText(&w, ids::kLinkLine, kNotLinked));
    w.ShowStatusWindow(true);
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->LinkText(), kNotLinked);
    EXPECT_EQ(Text(status, ids::kProgressLine), QString());
    EXPECT_EQ(Text(status, ids::kStatusTransferText), QString());
    EXPECT_EQ(status->windowTitle(), "Talmira STATUS");
    EXPECT_TRUE(status->windowFlags() & Qt::WindowStaysOnTopHint);

    // The close box hides; showing again keeps place and texts.
    const QPoint place = status->pos();
    status->close();
    EXPECT_FALSE(status->isVisible());
    w.ShowStatusWindow(true);
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->pos(), place);
    EXPECT_EQ(status->LinkText(), kNotLinked);
}

TEST_F(StatusAndTray, StatusWindowSitsInTheBottomRightCorner) {
    CProgressDlg status([] { return QRect(0, 0, 1920, 1080); });
    const QSize size = status.frameGeometry().size();
    EXPECT_EQ(status.pos(), QPoint(1918 - size.width(), 1045 - size.height()));
}

TEST_F(StatusAndTray, SliderSetsTheOpacity) {
    CProgressDlg status([] { return QRect(0, 0, 1920, 1080); });
    status.show();
    auto* slider = Find<QSlider>(&status, ids::kAlphaSlider);
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->minimum(), 100);
    EXPECT_EQ(slider->maximum(), 255);
    EXPECT_EQ(slider->value(), 255);
    EXPECT_EQ(status.Alpha(), 255);

    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_EQ(slider->value(), 254);
    QTest::keyClick(slider, Qt::Key_PageDown);
    EXPECT_EQ(slider->value(), 249);

    slider->setValue(slider->minimum());
    EXPECT_EQ(status.Alpha(), 100);
    EXPECT_NEAR(status.windowOpacity(), 100 / 255.0, 0.005);
    slider->setValue(slider->maximum());
    EXPECT_EQ(status.Alpha(), 255);
    EXPECT_DOUBLE_EQ(status.windowOpacity(), 1.0);
}

TEST_F(StatusAndTray, MinimisingWhileConnectedFollowsTheStatusSetting) {
    WriteIni({});
    CBriskenDlg w(Options());
    ASSERT_TRUE(w.Initialise());
    w.show();
    for (const bool showStatus : {true, false}) {
        SCOPED_TRACE(showStatus);
        g_showStatusBox = showStatus;
        g_relay.serialOpen = true;  // as while the port is open
        w.showMinimized();
        QCoreApplication::processEvents();
        EXPECT_FALSE(w.ShowAllowed());
        EXPECT_EQ(w.StatusWindow()->isVisible(), showStatus);
        w.RestoreMainWindow();
        EXPECT_TRUE(w.isVisible());
    }
    g_relay.serialOpen = false;
}

}  // namespace
