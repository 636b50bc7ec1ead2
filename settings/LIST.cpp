#include "settings/LIST.h"

#include "platform/DialogKeys.h"
#include "settings/Settings.h"
#include "settings/frmINPUT.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Twips at the desktop's 15 per pixel.
constexpr int kNameColumn = 3000 / 15;
constexpr int kRemarkColumn = 3500 / 15;

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

} // namespace

LIST::LIST(AppState& state, platform::WindowSystem& ui, QLabel* sCnt, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui), m_sCnt(sCnt) {
    setObjectName(QStringLiteral("LIST"));
    setWindowTitle(QStringLiteral("SERVER_LIST"));
    platform::setTitleBoxes(*this, platform::TitleBoxes::CloseOnly);

    auto* frame = new QGroupBox(QStringLiteral("Server_List"), this);
    m_list = new QTreeWidget(frame);
    m_list->setObjectName(QStringLiteral("List1"));
    m_list->setRootIsDecorated(false);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({QStringLiteral("検証サーバー"), QStringLiteral("備考")});
    m_list->header()->resizeSection(0, kNameColumn);
    m_list->header()->resizeSection(1, kRemarkColumn);
    m_list->setMinimumWidth(kNameColumn + kRemarkColumn + 8);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // Edit and Delete act on the highlighted row, however it came to be
    // highlighted: by a click or by the arrow keys.
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
        List1_ItemClick(selected.isEmpty() ? nullptr : selected.first());
    });

    auto* del = button(frame, "Command3", QStringLiteral("Delete"));
    auto* add = button(frame, "Command1", QStringLiteral("Add"));
    auto* edit = button(frame, "Command2", QStringLiteral("Edit"));
    connect(add, &QPushButton::clicked, this, &LIST::Command1_Click);
    connect(edit, &QPushButton::clicked, this, &LIST::Command2_Click);
    connect(del, &QPushButton::clicked, this, &LIST::Command3_Click);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(del);
    buttons->addWidget(add);
    buttons->addWidget(edit);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(m_list);
    frameLayout->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(new QLabel(
        QStringLiteral("★チェックボックスをチェックしたら巡回停止（サーバー単位）"), this));

    platform::operatorKeys(*this, platform::Escape::Ignored);

    // A selection held from an earlier opening would name a row of another
    // list: start without one.
    clearExchange();
    const int count = m_state.serverCount();
    for (int i = 1; i <= count; ++i) {
        const ServerEntry& s = m_state.Servers[i];
        addRow(s.Name, s.Remark, s.Check == -1);
    }
}

void LIST::addRow(const QString& name, const QString& remark, bool paused) {
    auto* item = new QTreeWidgetItem(m_list, {name, remark});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, paused ? Qt::Checked : Qt::Unchecked);
}

void LIST::clearExchange() {
    m_list->clearSelection(); // nothing highlighted, nothing held
    m_state.EditIndex = 0;
    m_state.EditName.clear();
    m_state.EditRemark.clear();
}

void LIST::List1_ItemClick(QTreeWidgetItem* item) {
    if (!item) {
        clearExchange();
        return;
    }
    m_state.EditIndex = static_cast<qint16>(m_list->indexOfTopLevelItem(item) + 1);
    m_state.EditName = item->text(0);
    m_state.EditRemark = item->text(1);
}

void LIST::showInput() {
    frmINPUT input(m_state, m_ui, this);
    m_ui.showModal(input);
}

void LIST::Command1_Click() {
    if (m_list->topLevelItemCount() >= kMaxRows) {
        m_ui.messageBox(QStringLiteral("検証サーバー登録件数は ") + QString::number(kMaxRows) +
                            QStringLiteral("件迄です。"),
                        platform::MessageIcon::Critical, platform::Modality::System);
        return;
    }
    showInput();
    if (m_state.EditName.isEmpty())
        return;
    addRow(m_state.EditName, m_state.EditRemark, false);
    clearExchange();
}

void LIST::Command2_Click() {
    if (m_state.EditName.isEmpty()) {
        m_ui.messageBox(QStringLiteral("編集する【検証サーバー】を選択してください。"),
                        platform::MessageIcon::Information, platform::Modality::System);
        return;
    }
    showInput();
    if (m_state.EditName.isEmpty())
        return;
    if (QTreeWidgetItem* item = m_list->topLevelItem(m_state.EditIndex - 1)) {
        item->setText(0, m_state.EditName);
        item->setText(1, m_state.EditRemark);
    }
    clearExchange();
}

void LIST::Command3_Click() {
    if (m_state.EditName.isEmpty()) {
        m_ui.messageBox(QStringLiteral("削除する【検証サーバー】を選択してください。"),
                        platform::MessageIcon::Information, platform::Modality::System);
        return;
    }
    delete m_list->takeTopLevelItem(m_state.EditIndex - 1);
    clearExchange();
}

void LIST::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    const int count = std::min(m_list->topLevelItemCount(), kMaxRows);
    m_state.SERVER_CNT = static_cast<qint16>(count);
    for (int i = 1; i <= count; ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i - 1);
        ServerEntry& s = m_state.Servers[i];
        s.Name = item->text(0);
        s.Remark = item->text(1);
        s.Check = item->checkState(0) == Qt::Checked ? -1 : 1;
    }
    const SaveFailure failure = WriteServerList(m_state);
    if (m_sCnt)
        m_sCnt->setText(QString::number(count) + QStringLiteral(" 件"));
    if (failure.failed())
        m_ui.messageBox(saveFailureMessage(failure), platform::MessageIcon::Critical);
}

void LIST::done(int result) {
    Form_Unload();
    QDialog::done(result);
}
