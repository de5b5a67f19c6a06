#include "config/gui/setting_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <cctype>
#include <string>

#include "app/app_icon.h"
#include "app/main_window_control.h"
#include "app/message_box.h"
#include "config/gui/combo_port_list.h"
#include "config/gui/dialog_keys.h"
#include "config/settings.h"
#include "log/traffic_log.h"
#include "platform/system.h"
#include "update/update_check.h"

namespace {

// The speed list's items with the label the INI file keeps for each.
struct SpeedPair {
    const char* label;
    const char* rate;
};
constexpr SpeedPair kSpeeds[] = {
    {"9.6K", "9600"}, {"38.4K", "38400"}, {"56.0K", "57600"}, {"115.2K", "115200"}};

// Reads a port item's number the way the item "COMn" has always been read:
// the first three characters are dropped whatever they are, at most 7 bytes of
// the rest count, blanks and one sign may lead, digits run to the first other
// character, and no digits give 0.
int PortNumberOfItem(const std::string& item) {
    const std::string kept = item.size() > 3 ? item.substr(3, 7) : std::string();
    size_t i = 0;
    while (i < kept.size() && std::isspace(static_cast<unsigned char>(kept[i]))) ++i;
    bool negative = false;
    if (i < kept.size() && (kept[i] == '+' || kept[i] == '-')) negative = kept[i++] == '-';
    int value = 0;  // at most 7 digits: no overflow
    for (; i < kept.size() && std::isdigit(static_cast<unsigned char>(kept[i])); ++i)
        value = value * 10 + (kept[i] - '0');
    // The INI file holds only unsigned digits; a negative port is no port.
    return negative ? 0 : value;
}

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

CSettingDlg::CSettingDlg(QWidget* parent, IMainWindowControl& mainControl, Services services)
    : CSettingDlg(parent, &mainControl, std::move(services)) {}

CSettingDlg::CSettingDlg(QWidget* parent, IMainWindowControl* mainControl, Services services)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_mainControl(mainControl),
      m_services(std::move(services)) {
    if (m_services.portSource == nullptr) m_services.portSource = &SystemSerialPorts;
    if (!m_services.uninstall) m_services.uninstall = [] { UninstallSelf(); };
    BuildControls();
    InitDialog();
}

void CSettingDlg::BuildControls() {
    setWindowTitle(QStringLiteral("Talmira SETUP"));
    setWindowIcon(AppIcon());

    PaintWhite(this);

    auto* heading = new QLabel(QString::fromUtf8("일반설정"));
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    m_autoRunBox = MakeCheckBox("  WINDOWS와 함께 시작", IDC_AUTORUN);
    m_autoConnectBox = MakeCheckBox("  시작시 자동 연결", IDC_AUTOCONNECT);

    auto* startGroup = new QGroupBox(QStringLiteral("Start Option"));
    auto* startGrid = new QGridLayout(startGroup);
    m_portList = MakeList(IDC_PORTLIST);
    m_speedList = MakeList(IDC_SPEEDLIST);
    startGrid->addWidget(new QLabel(QString::fromUtf8("통신포트 ")), 0, 0);
    startGrid->addWidget(m_portList, 0, 1);
    startGrid->addWidget(new QLabel(QString::fromUtf8("통신속도 ")), 1, 0);
    startGrid->addWidget(m_speedList, 1, 1);
    startGrid->setColumnStretch(1, 1);

    m_statusBox = MakeCheckBox("  단말기 연결 후 상태창 표시", IDC_STATUSBOX);
    m_logBox = MakeCheckBox("  로그 파일 만들기", IDC_LOG);

    auto* logGroup = new QGroupBox(QString::fromUtf8("로그 생성 경로"));
    auto* logLayout = new QVBoxLayout(logGroup);
    m_logFolderButton = MakeButton("", IDC_LOGFOLDER);
    m_logFolderButton->setEnabled(false);
    m_logFolderButton->setStyleSheet(QStringLiteral("text-align: left; padding: 4px;"));
    logLayout->addWidget(m_logFolderButton);

    m_uninstallButton = MakeButton("프로그램 삭제", IDC_UNINSTALL);

    m_versionField = new QLineEdit;
    m_versionField->setObjectName(QString::number(IDC_VERSION));
    m_versionField->setReadOnly(true);
    m_versionField->setAlignment(Qt::AlignCenter);
    m_versionField->setFrame(true);
    QPalette fieldPal = m_versionField->palette();
    fieldPal.setColor(QPalette::Base, Qt::white);
    fieldPal.setColor(QPalette::Text, Qt::black);
    m_versionField->setPalette(fieldPal);
    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(new QLabel(QStringLiteral("Version")));
    versionRow->addWidget(m_versionField, 1);

    m_closeButton = MakeButton("닫기", IDC_CLOSE);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(line);
    layout->addWidget(m_autoRunBox);
    layout->addWidget(m_autoConnectBox);
    layout->addWidget(startGroup);
    layout->addWidget(m_statusBox);
    layout->addWidget(m_logBox);
    layout->addWidget(logGroup);
    layout->addWidget(m_uninstallButton);
    layout->addLayout(versionRow);
    layout->addWidget(m_closeButton);
    setMinimumWidth(320);

    // clicked and activated come from the user only, never from the
    // programmatic settings made while the dialog loads.
    connect(m_closeButton, &QPushButton::clicked, this, &CSettingDlg::OnCloseClicked);
    connect(m_autoRunBox, &QCheckBox::clicked, this, &CSettingDlg::OnAutoRunClicked);
    connect(m_autoConnectBox, &QCheckBox::clicked, this, &CSettingDlg::OnAutoConnectClicked);
    connect(m_statusBox, &QCheckBox::clicked, this, &CSettingDlg::OnStatusBoxClicked);
    connect(m_logBox, &QCheckBox::clicked, this, &CSettingDlg::OnLogClicked);
    connect(m_portList, &QComboBox::activated, this, &CSettingDlg::OnPortChanged);
    connect(m_speedList, &QComboBox::activated, this, &CSettingDlg::OnSpeedChanged);
    connect(m_uninstallButton, &QPushButton::clicked, this, &CSettingDlg::OnUninstallClicked);

    DiscardEnterEscape(this);
}

void CSettingDlg::InitDialog() {
    ComboPortList ports(*m_portList);
    EnumerateSerialPorts(ports, m_services.portSource);
    if (m_portList->count() > 0) m_portList->setCurrentIndex(0);

    for (const SpeedPair& speed : kSpeeds) m_speedList->addItem(QString::fromLatin1(speed.rate));

    // Showing the folder makes sure it is there.
    const std::string folder = TrafficLogFolder();
    if (!folder.empty() && (platform::PathExists(folder) || platform::MakeDirectory(folder)))
        m_logFolderButton->setText(QString::fromStdString(folder));

    LoadDialogControls();
    m_changed = false;
    m_versionField->setText(QStringLiteral(BRISKEN_VERSION));
}

void CSettingDlg::LoadDialogControls() {
    if (IsAutoRunRegistered()) m_autoRunBox->setChecked(true);
    if (g_logEnabled.load()) m_logBox->setChecked(true);
    m_portList->setEnabled(g_autoConnect);
    m_speedList->setEnabled(g_autoConnect);
    if (g_autoConnect) m_autoConnectBox->setChecked(true);
    if (g_showStatusBox) m_statusBox->setChecked(true);

    ComboPortList ports(*m_portList);
    SelectPortItem(ports);
    m_speedList->setCurrentIndex(SpeedIndex(g_comSpeed));
}

void CSettingDlg::PostClose() {
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

void CSettingDlg::OnCloseClicked() { PostClose(); }

void CSettingDlg::OnAutoRunClicked() {
    if (m_autoRunBox->isChecked())
        SetAutoRun(AutoRunCommand());
    else
        DeleteAutoRunValue();
}

void CSettingDlg::OnAutoConnectClicked() {
    if (m_autoConnectBox->isChecked()) {
        m_portList->setEnabled(true);
        m_speedList->setEnabled(true);
        SaveSetting("COMMON", "auto_run", "Y");
        // The port and speed on show become the ones used at start.
        OnPortChanged();
        OnSpeedChanged();
        g_autoConnect = true;
    } else {
        m_portList->setEnabled(false);
        m_speedList->setEnabled(false);
        SaveSetting("COMMON", "auto_run", "N");
        g_autoConnect = false;
    }
}

void CSettingDlg::OnStatusBoxClicked() {
    const bool show = m_statusBox->isChecked();
    SaveSetting("STATUSBOX", "show", show ? "show" : "hidden");
    g_showStatusBox = show;
}

void CSettingDlg::OnLogClicked() {
    const bool on = m_logBox->isChecked();
    SaveSetting("COMMON", "log", on ? "Y" : "N");
    g_logEnabled.store(on);
}

void CSettingDlg::OnPortChanged() {
    if (m_portList->currentIndex() < 0) return;
    const std::string item = m_portList->currentText().toStdString();

    // A device path is stored as it stands; any other item is "COM" and a number.
    std::string path;
    int number = 0;
    if (!item.empty() && item.front() == '/')
        path = item;
    else
        number = PortNumberOfItem(item);
    if (number == g_comPort && path == g_comPortPath) return;

    SaveSetting("COMPORT", "port", path.empty() ? std::to_string(number) : path);
    g_comPort = number;
    g_comPortPath = path;
    m_changed = true;
}

void CSettingDlg::OnSpeedChanged() {
    const std::string item = m_speedList->currentText().toStdString();
    SpeedPair pair = kSpeeds[0];
    for (const SpeedPair& speed : kSpeeds)
        if (item == speed.rate) pair = speed;
    if (g_comSpeed == pair.rate) return;

    SaveSetting("COMPORT", "speed", pair.label);
    g_comSpeed = pair.rate;
    m_changed = true;
}

void CSettingDlg::OnClose() {
    if (!m_changed) return;
    const msgbox::Answer answer = msgbox::Ask(
        this,
        QString::fromUtf8("변경된 단말기 접속 정보를 바로 적용하시겠습니까?\n"
                          "(미적용시 다음 실행시 부터 적용됩니다.)"),
        msgbox::Buttons::YesNo);
    m_applyNow = answer == msgbox::Answer::Yes ? 1 : 0;
}

void CSettingDlg::closeEvent(QCloseEvent* event) {
    // A close that reaches an already ended dialog asks nothing.
    if (isVisible()) OnClose();
    QDialog::closeEvent(event);
}

void CSettingDlg::OnUninstallClicked() {
    if (msgbox::Ask(this, QString::fromUtf8("정말로 삭제하시겠습니까?"), msgbox::Buttons::YesNo) !=
        msgbox::Answer::Yes)
        return;
    m_services.uninstall();
    // The quit is requested only after the dialog's own close has run (and
    // asked its apply question): a quit that ends every running loop at once
    // would otherwise end this dialog's loop with the close still queued. The
    // main window outlives this dialog, so the quit is never dropped with it.
    QPointer<CSettingDlg> self(this);
    IMainWindowControl* control = m_mainControl;
    QMetaObject::invokeMethod(
        qApp,
        [self, control] {
            if (self) self->close();
            if (control != nullptr) control->PostQuit();
        },
        Qt::QueuedConnection);
    if (m_mainControl != nullptr) m_mainControl->ClearConfirmExit();
    DeleteAutoRunValue();
}
