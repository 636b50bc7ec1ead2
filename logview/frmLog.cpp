#include "logview/frmLog.h"

#include "logview/EventSearch.h"
#include "platform/DialogKeys.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

QLineEdit* dateField(QWidget* parent, const char* name, int width) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setFixedWidth(width);
    return e;
}

QString countText(int n) {
    return QString::number(n) + QStringLiteral("件");
}

// Twips at the desktop's 15 per pixel: the narrowest each column gets.
constexpr int kServerColumn = 1700 / 15;
constexpr int kMessageColumn = 4000 / 15;

// The widest date and time the list shows in this font.
QString widestDate(const QFontMetrics& fm) {
    QChar widest = u'0';
    for (char16_t d = u'1'; d <= u'9'; ++d)
        if (fm.horizontalAdvance(QChar(d)) > fm.horizontalAdvance(widest))
            widest = QChar(d);
    return QStringLiteral("0000/00/00 00:00:00").replace(u'0', widest);
}

} // namespace

frmLog::frmLog(AppState& state, platform::WindowSystem& ui, const platform::Clock& clock,
               QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui), m_clock(clock), m_model(this) {
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Log"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* search = new QGroupBox(QStringLiteral("SEARCH CONFIG"), this);
    Y1 = dateField(search, "Y1", 56);
    M1 = dateField(search, "M1", 36);
    D1 = dateField(search, "D1", 36);
    Y2 = dateField(search, "Y2", 56);
    M2 = dateField(search, "M2", 36);
    D2 = dateField(search, "D2", 36);
    auto* range = new QHBoxLayout;
    for (auto [field, unit] : {std::pair{Y1, "年"}, std::pair{M1, "月"}, std::pair{D1, "日"}}) {
        range->addWidget(field);
        range->addWidget(new QLabel(QString::fromUtf8(unit), search));
    }
    range->addWidget(new QLabel(QStringLiteral("～"), search));
    for (auto [field, unit] : {std::pair{Y2, "年"}, std::pair{M2, "月"}, std::pair{D2, "日"}}) {
        range->addWidget(field);
        range->addWidget(new QLabel(QString::fromUtf8(unit), search));
    }
    range->addStretch();
    KBN = new QComboBox(search);
    KBN->setObjectName(QStringLiteral("KBN"));
    SKBN = new QComboBox(search);
    SKBN->setObjectName(QStringLiteral("SKBN"));
    auto* searchGrid = new QGridLayout(search);
    searchGrid->addWidget(new QLabel(QStringLiteral("日付範囲"), search), 0, 0);
    searchGrid->addLayout(range, 0, 1);
    searchGrid->addWidget(new QLabel(QStringLiteral("区　　分"), search), 1, 0);
    searchGrid->addWidget(KBN, 1, 1, Qt::AlignLeft);
    searchGrid->addWidget(new QLabel(QStringLiteral("サーバー"), search), 2, 0);
    searchGrid->addWidget(SKBN, 2, 1, Qt::AlignLeft);

    Label3 = new QLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label5 = new QLabel(this);
    Label5->setObjectName(QStringLiteral("Label5"));
    auto* clear = new QPushButton(QStringLiteral("LOG CLEAR"), this);
    clear->setObjectName(QStringLiteral("Command2"));
    clear->setAutoDefault(false);
    auto* go = new QPushButton(QStringLiteral("GO!!!"), this);
    go->setObjectName(QStringLiteral("Command1"));
    go->setAutoDefault(false);
    auto* counts = new QHBoxLayout;
    counts->addWidget(new QLabel(QStringLiteral("正常件数"), this));
    counts->addWidget(Label3);
    counts->addSpacing(16);
    counts->addWidget(new QLabel(QStringLiteral("エラー件数"), this));
    counts->addWidget(Label5);
    counts->addStretch();
    counts->addWidget(clear);
    counts->addWidget(go);

    auto* report = new QGroupBox(QStringLiteral("LOG REPORT"), this);
    List1 = new QTreeView(report);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setRootIsDecorated(false);
    List1->setUniformRowHeights(true); // a million rows scroll without measuring each
    List1->setModel(&m_model);
    // Dates never lose their seconds, whatever the font; the server and
    // message columns grow to their longest text, scrolled sideways.
    List1->header()->resizeSection(0, cellWidth(widestDate(List1->fontMetrics())));
    List1->header()->resizeSection(1, kServerColumn);
    List1->header()->resizeSection(2, kMessageColumn);
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, &frmLog::fitColumns);
    auto* reportLayout = new QVBoxLayout(report);
    reportLayout->addWidget(List1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(search);
    layout->addLayout(counts);
    layout->addWidget(report, 1);
    resize(720, 520);

    connect(go, &QPushButton::clicked, this, &frmLog::Command1_Click);
    connect(clear, &QPushButton::clicked, this, &frmLog::Command2_Click);

    platform::operatorKeys(*this, platform::Escape::Ignored);

    // Form_Load
    m_state.WindowOpen = 1;
    KBN->addItems({QStringLiteral("ALL"), QStringLiteral("ERROR"), QStringLiteral("NOT ERROR")});
    SKBN->addItem(QStringLiteral("ALL"));
    const int count = m_state.serverCount();
    for (int i = 1; i <= count; ++i)
        SKBN->addItem(m_state.Servers[i].Name);
    SKBN->addItems({QStringLiteral("COM"), QStringLiteral("DIAL UP")});
    const QDate today = m_clock.now().date();
    for (QLineEdit* y : {Y1, Y2})
        y->setText(QString::number(today.year()));
    for (QLineEdit* m : {M1, M2})
        m->setText(QString::number(today.month()));
    for (QLineEdit* d : {D1, D2})
        d->setText(QString::number(today.day()));
    Label3->setText(countText(0));
    Label5->setText(countText(0));
}

int frmLog::cellWidth(const QString& text) const {
    QStyleOptionViewItem cell;
    cell.initFrom(List1);
    cell.font = List1->font();
    cell.fontMetrics = List1->fontMetrics();
    cell.features = QStyleOptionViewItem::HasDisplay;
    cell.text = text;
    return List1->style()->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), List1).width();
}

void frmLog::fitColumns() {
    int server = kServerColumn;
    for (const QString& name : m_model.serverNames())
        server = std::max(server, cellWidth(name));
    List1->header()->resizeSection(1, server);
    List1->header()->resizeSection(2,
                                   std::max(kMessageColumn, cellWidth(m_model.longestMessage())));
}

bool frmLog::dateOf(QLineEdit* y, QLineEdit* m, QLineEdit* d, std::optional<QDate>* date) {
    date->reset();
    if (y->text().isEmpty() || m->text().isEmpty() || d->text().isEmpty())
        return true; // that end of the range is open
    *date = logview::typedDate(y->text(), m->text(), d->text());
    if (*date)
        return true;
    m_ui.messageBox(QStringLiteral("正しい日付を入力してください。"),
                    platform::MessageIcon::Critical, platform::Modality::System);
    y->clear();
    m->clear();
    d->clear();
    y->setFocus();
    return false;
}

void frmLog::Command1_Click() {
    Label3->setText(countText(0));
    Label5->setText(countText(0));
    logview::SearchCriteria c;
    if (!dateOf(Y1, M1, D1, &c.from) || !dateOf(Y2, M2, D2, &c.to))
        return;
    if (KBN->currentText() == QLatin1String("ERROR"))
        c.error = -1;
    else if (KBN->currentText() == QLatin1String("NOT ERROR"))
        c.error = 1;
    if (SKBN->currentText() != QLatin1String("ALL"))
        c.server = SKBN->currentText();
    const logview::SearchResult r = logview::search(m_state.DatabasePath, c, m_model);
    if (!r.ok) {
        m_ui.messageBox(QStringLiteral("データベースが見つかりません。"),
                        platform::MessageIcon::Critical, platform::Modality::System);
        return;
    }
    Label3->setText(countText(r.normal));
    Label5->setText(countText(r.errors));
}

void frmLog::Command2_Click() {
    QString failure;
    if (!logview::purgeOlderThan60Days(m_state.DatabasePath, m_clock.now().date(), &failure))
        m_ui.messageBox(QStringLiteral("データベースエラー"), platform::MessageIcon::Critical,
                        platform::Modality::System);
}

void frmLog::done(int result) {
    m_state.WindowOpen = 0;
    QDialog::done(result);
}
