#include "settings/frmINPUT.h"

#include "platform/DialogKeys.h"
#include "settings/FieldCheck.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

#include <QFormLayout>
#include <QLineEdit>

#include <algorithm>

namespace {

const QString kNameLabel = QStringLiteral("検証サーバー名");
const QString kRemarkLabel = QStringLiteral("備　　　　　考");

} // namespace

frmINPUT::frmINPUT(AppState& state, platform::WindowSystem& ui, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui), m_name(new QLineEdit(this)),
      m_remark(new QLineEdit(this)) {
    setObjectName(QStringLiteral("frmINPUT"));
    // A blank, not an empty caption: the window system puts the program's
    // name into an empty one.
    setWindowTitle(QStringLiteral(" "));
    platform::setTitleBoxes(*this, platform::TitleBoxes::CloseOnly);
    m_name->setObjectName(QStringLiteral("Sname"));
    m_remark->setObjectName(QStringLiteral("dETC"));
    auto* form = new QFormLayout(this);
    form->addRow(kNameLabel, m_name);
    form->addRow(kRemarkLabel, m_remark);
    setMinimumWidth(420);
    platform::operatorKeys(*this, platform::Escape::Ignored);

    m_name->setText(m_state.EditName);
    m_remark->setText(m_state.EditRemark);
    // A settings read gives back at most kProfileBufferSize - 1 bytes, two
    // per character at most: a longer entry would come back cut. What the
    // file already holds is never cut here.
    for (QLineEdit* e : {m_name, m_remark})
        e->setMaxLength(std::max<int>((settings::kProfileBufferSize - 1) / 2,
                                      static_cast<int>(e->text().size())));
}

void frmINPUT::done(int result) {
    // Only what the operator changed is checked: a value as it came from the
    // file goes back unchanged.
    const platform::TextEncoding encoding =
        settings::profileEncoding(m_state.AppFolder + kServerListFile);
    const struct {
        QLineEdit* field;
        const QString& opened;
        const QString& label;
    } fields[] = {{m_name, m_state.EditName, kNameLabel},
                  {m_remark, m_state.EditRemark, kRemarkLabel}};
    for (const auto& f : fields) {
        const QString refusal =
            f.field->text() == f.opened
                ? QString()
                : settings::unsavableTextMessage(f.label, f.field->text(), encoding);
        if (!refusal.isEmpty()) {
            m_ui.messageBox(refusal, platform::MessageIcon::Critical);
            f.field->setFocus();
            return; // stays open: nothing is taken
        }
    }
    if (!m_name->text().isEmpty())
        m_state.EditName = m_name->text();
    if (!m_remark->text().isEmpty())
        m_state.EditRemark = m_remark->text();
    QDialog::done(result);
}
