#pragma once

#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QDialog>

class QLineEdit;

/// One server's name and remark, for the list editor's Add and Edit. It
/// opens with the exchange values and, when closed, hands back each field
/// that is not empty.
class frmINPUT : public QDialog {
    Q_OBJECT
public:
    frmINPUT(AppState& state, platform::WindowSystem& ui, QWidget* parent = nullptr);

    void done(int result) override;

private:
    AppState& m_state;
    platform::WindowSystem& m_ui;
    QLineEdit* m_name;
    QLineEdit* m_remark;
};
