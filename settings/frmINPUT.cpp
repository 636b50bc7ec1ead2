#include "settings/frmINPUT.h"

#include "platform/DialogKeys.h"

#include <QFormLayout>
#include <QLineEdit>

frmINPUT::frmINPUT(AppState& state, platform::WindowSystem& ui, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui), m_name(new QLineEdit(this)),
      m_remark(new QLineEdit(this)) {
    setObjectName(QStringLiteral("frmINPUT"));
    setWindowTitle(QString());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    m_name->setObjectName(QStringLiteral("Sname"));
    m_remark->setObjectName(QStringLiteral("dETC"));
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("検証サーバー名"), m_name);
    form->addRow(QStringLiteral("備　　　　　考"), m_remark);
    setMinimumWidth(420);
    platform::operatorKeys(*this, platform::Escape::Ignored);

    m_name->setText(m_state.EditName);
    m_remark->setText(m_state.EditRemark);
}

QString frmINPUT::nameProblem(const QString& name) {
    if (name.size() > 253)
        return QStringLiteral("【検証サーバー名】は253文字以内で入力してください。");
    for (const QChar c : name) {
        // Letters (internationalised names included), digits, "-", "." and
        // "_" make host names and dotted addresses; nothing else ever does.
        const bool ok = c.isLetterOrNumber() || c == u'-' || c == u'.' || c == u'_';
        if (!ok)
            return QStringLiteral("【検証サーバー名】にはホスト名かIPアドレスを入力してください。");
    }
    return QString();
}

void frmINPUT::done(int result) {
    const QString name = m_name->text();
    if (!name.isEmpty()) {
        const QString problem = nameProblem(name);
        if (!problem.isEmpty()) {
            m_ui.messageBox(problem, platform::MessageIcon::Critical);
            m_name->setFocus();
            return; // stays open: the name is not taken
        }
        m_state.EditName = name;
    }
    if (!m_remark->text().isEmpty())
        m_state.EditRemark = m_remark->text();
    QDialog::done(result);
}
