#pragma once
#include <QDialog>

#include "app/setting_dlg.h"
#include "ui/qt/qt_controls.h"

// The settings dialog in Qt: its clicks, the user's list choices and its close
// requests forwarded to the rules.
class QtSettingDialog : public QDialog, public QtControls<ISettingView> {
public:
    QtSettingDialog(CSettingDlg& rules, QWidget* parent);

    // ISettingView.
    void PostClose() override;
    void EndDialog() override;
    void RunModal() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();

    CSettingDlg& m_rules;
};
