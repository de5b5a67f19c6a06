#include "ui/qt/setting_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_keys.h"

namespace {

QCheckBox* MakeCheckBox(const char* text, int id) {
    auto* box = new QCheckBox(QString::fromUtf8(text));
    box->setObjectName(QString::number(id));
    return box;
}

QComboBox* MakeList(int id) {
    auto* list = new QComboBox;
    list->setObjectName(QString::number(id));
    list->setEditable(false);
    list->setInsertPolicy(QComboBox::NoInsert);
    return list;
}

QPushButton* MakeButton(const char* text, int id) {
    auto* button = new QPushButton(QString::fromUtf8(text));
    button->setObjectName(QString::number(id));
    // Enter never clicks a button in this dialog.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

QtSettingDialog::QtSettingDialog(CSettingDlg& rules, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      QtControls<ISettingView>(this),
      m_rules(rules) {
    BuildControls();
}

void QtSettingDialog::BuildControls() {
    using Id = CSettingDlg::ControlId;
    setWindowTitle(QStringLiteral("Talmira SETUP"));
    setWindowIcon(AppIcon());

    PaintWhite(this);

    auto* heading = new QLabel(QString::fromUtf8("일반설정"));
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    QCheckBox* autoRunBox = MakeCheckBox("  WINDOWS와 함께 시작", Id::IDC_AUTORUN);
    QCheckBox* autoConnectBox = MakeCheckBox("  시작시 자동 연결", Id::IDC_AUTOCONNECT);

    auto* startGroup = new QGroupBox(QStringLiteral("Start Option"));
    auto* startGrid = new QGridLayout(startGroup);
    QComboBox* portList = MakeList(Id::IDC_PORTLIST);
    QComboBox* speedList = MakeList(Id::IDC_SPEEDLIST);
    startGrid->addWidget(new QLabel(QString::fromUtf8("통신포트 ")), 0, 0);
    startGrid->addWidget(portList, 0, 1);
    startGrid->addWidget(new QLabel(QString::fromUtf8("통신속도 ")), 1, 0);
    startGrid->addWidget(speedList, 1, 1);
    startGrid->setColumnStretch(1, 1);

    QCheckBox* statusBox = MakeCheckBox("  단말기 연결 후 상태창 표시", Id::IDC_STATUSBOX);
    QCheckBox* logBox = MakeCheckBox("  로그 파일 만들기", Id::IDC_LOG);

    auto* logGroup = new QGroupBox(QString::fromUtf8("로그 생성 경로"));
    auto* logLayout = new QVBoxLayout(logGroup);
    QPushButton* logFolderButton = MakeButton("", Id::IDC_LOGFOLDER);
    logFolderButton->setEnabled(false);
    logFolderButton->setStyleSheet(QStringLiteral("text-align: left; padding: 4px;"));
    logLayout->addWidget(logFolderButton);

    QPushButton* uninstallButton = MakeButton("프로그램 삭제", Id::IDC_UNINSTALL);

    auto* versionField = new QLineEdit;
    versionField->setObjectName(QString::number(Id::IDC_VERSION));
    versionField->setReadOnly(true);
    versionField->setAlignment(Qt::AlignCenter);
    versionField->setFrame(true);
    QPalette fieldPal = versionField->palette();
    fieldPal.setColor(QPalette::Base, Qt::white);
    fieldPal.setColor(QPalette::Text, Qt::black);
    versionField->setPalette(fieldPal);
    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(new QLabel(QStringLiteral("Version")));
    versionRow->addWidget(versionField, 1);

    QPushButton* closeButton = MakeButton("닫기", Id::IDC_CLOSE);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(line);
    layout->addWidget(autoRunBox);
    layout->addWidget(autoConnectBox);
    layout->addWidget(startGroup);
    layout->addWidget(statusBox);
    layout->addWidget(logBox);
    layout->addWidget(logGroup);
    layout->addWidget(uninstallButton);
    layout->addLayout(versionRow);
    layout->addWidget(closeButton);
    setMinimumWidth(320);

    // clicked and activated come from the user only, never from the
    // programmatic settings the rules make.
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             closeButton, autoRunBox, autoConnectBox, statusBox, logBox, uninstallButton}) {
        connect(button, &QAbstractButton::clicked, this,
                [this, id = button->objectName().toInt()] { m_rules.OnCommand(id); });
    }
    for (QComboBox* list : {portList, speedList}) {
        connect(list, &QComboBox::activated, this,
                [this, id = list->objectName().toInt()] { m_rules.OnSelChange(id); });
    }

    DiscardEnterEscape(this);
}

void QtSettingDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    m_rules.OnClose();
}

void QtSettingDialog::PostClose() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void QtSettingDialog::EndDialog() { done(QDialog::Rejected); }

void QtSettingDialog::RunModal() { exec(); }
