#include "logview/frmLog.h"

#include "logview/EventChart.h"
#include "logview/EventTime.h"
#include "logview/FlowLayout.h"
#include "platform/DialogKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyleOptionFrame>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// A field wide enough for its digits and one more in any font, and never
// narrower than its twips at 15 per pixel.
QLineEdit* dateField(QWidget* parent, const char* name, int twips, int digits) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    QStyleOptionFrame frame;
    frame.initFrom(e);
    frame.lineWidth = e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, e);
    const QFontMetrics fm = e->fontMetrics();
    const QSize text(fm.horizontalAdvance(QString(digits + 1, u'0')) + 4, fm.height());
    e->setFixedWidth(std::max(
        twips / 15, e->style()->sizeFromContents(QStyle::CT_LineEdit, &frame, text, e).width()));
    return e;
}

QString countText(qint64 n) {
    return QString::number(n) + QStringLiteral("件");
}

// Twips at the desktop's 15 per pixel: the narrowest each column gets.
constexpr int kServerColumn = 1700 / 15;
constexpr int kMessageColumn = 4000 / 15;

// The size the window opens with where the screen has room for it.
constexpr QSize kPreferredSize(760, 580);
// Room left on the screen for the window manager's title bar and borders,
// which a window does not know before it is shown.
constexpr QSize kFrameAllowance(16, 48);

// The widest date and time the list shows in this font.
QString widestDate(const QFontMetrics& fm) {
    QChar widest = u'0';
    for (char16_t d = u'1'; d <= u'9'; ++d)
        if (fm.horizontalAdvance(QChar(d)) > fm.horizontalAdvance(widest))
            widest = QChar(d);
    return QStringLiteral("0000/00/00 00:00:00").replace(u'0', widest);
}

void showDatabaseMissing(platform::WindowSystem& ui) {
    ui.messageBox(QStringLiteral("データベースが見つかりません。"), platform::MessageIcon::Critical,
                  platform::Modality::System);
}

} // namespace

frmLog::frmLog(AppState& state, platform::WindowSystem& ui, const platform::Clock& clock,
               QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui), m_clock(clock), m_model(this) {
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Log"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    // On a small screen or with large fonts every control stays reachable:
    // the window shrinks to the screen and its contents scroll.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* content = new QWidget(scroll);
    scroll->setWidget(content);

    auto* search = new QGroupBox(QStringLiteral("SEARCH CONFIG"), content);
    Y1 = dateField(search, "Y1", 840, 4);
    M1 = dateField(search, "M1", 540, 2);
    D1 = dateField(search, "D1", 540, 2);
    Y2 = dateField(search, "Y2", 840, 4);
    M2 = dateField(search, "M2", 540, 2);
    D2 = dateField(search, "D2", 540, 2);
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
    // A shared store holds every station's rows: all of them, or one.
    STATION = new QComboBox(search);
    STATION->setObjectName(QStringLiteral("STATION"));
    STATION->setEditable(true);
    const events::EventStore store = events::EventStore::of(m_state);
    STATION->addItems({QStringLiteral("ALL"), store.station});
    auto* stationLabel = new QLabel(QStringLiteral("局"), search);
    auto* searchGrid = new QGridLayout(search);
    searchGrid->addWidget(new QLabel(QStringLiteral("日付範囲"), search), 0, 0);
    searchGrid->addLayout(range, 0, 1);
    searchGrid->addWidget(new QLabel(QStringLiteral("区　　分"), search), 1, 0);
    searchGrid->addWidget(KBN, 1, 1, Qt::AlignLeft);
    searchGrid->addWidget(new QLabel(QStringLiteral("サーバー"), search), 2, 0);
    searchGrid->addWidget(SKBN, 2, 1, Qt::AlignLeft);
    searchGrid->addWidget(stationLabel, 3, 0);
    searchGrid->addWidget(STATION, 3, 1, Qt::AlignLeft);
    stationLabel->setVisible(store.shared());
    STATION->setVisible(store.shared());
    m_model.setStationsShown(store.shared());

    Label3 = new QLabel(content);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label5 = new QLabel(content);
    Label5->setObjectName(QStringLiteral("Label5"));
    auto* clear = new QPushButton(QStringLiteral("LOG CLEAR"), content);
    clear->setObjectName(QStringLiteral("Command2"));
    clear->setAutoDefault(false);
    auto* go = new QPushButton(QStringLiteral("GO!!!"), content);
    go->setObjectName(QStringLiteral("Command1"));
    go->setAutoDefault(false);
    auto* counts = new QHBoxLayout;
    counts->addWidget(new QLabel(QStringLiteral("正常件数"), content));
    counts->addWidget(Label3);
    counts->addSpacing(16);
    counts->addWidget(new QLabel(QStringLiteral("エラー件数"), content));
    counts->addWidget(Label5);
    counts->addStretch();
    counts->addWidget(clear);
    counts->addWidget(go);

    auto* report = new QGroupBox(QStringLiteral("LOG REPORT"), content);
    m_tabs = new QTabWidget(report);
    m_tabs->setObjectName(QStringLiteral("ReportTabs"));
    List1 = new QTreeView(m_tabs);
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
    m_tabs->addTab(List1, QStringLiteral("一覧"));

    m_chartPanel = new QWidget(m_tabs);
    m_chart = new logview::EventChart(m_chartPanel);
    m_chart->setObjectName(QStringLiteral("Chart"));
    m_legend = new QWidget(m_chartPanel);
    m_legend->setObjectName(QStringLiteral("ChartLegend"));
    m_legendLayout = new logview::FlowLayout(m_legend);
    auto* save = new QPushButton(QStringLiteral("画像を保存"), m_chartPanel);
    save->setObjectName(QStringLiteral("SaveChart"));
    save->setAutoDefault(false);
    auto* below = new QHBoxLayout;
    below->addWidget(m_legend, 1);
    below->addWidget(save, 0, Qt::AlignTop);
    auto* chartLayout = new QVBoxLayout(m_chartPanel);
    chartLayout->addWidget(m_chart, 1);
    chartLayout->addLayout(below);
    m_tabs->addTab(m_chartPanel, QStringLiteral("グラフ"));
    auto* reportLayout = new QVBoxLayout(report);
    reportLayout->addWidget(m_tabs);

    auto* layout = new QVBoxLayout(content);
    layout->addWidget(search);
    layout->addLayout(counts);
    layout->addWidget(report, 1);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    connect(go, &QPushButton::clicked, this, &frmLog::Command1_Click);
    connect(clear, &QPushButton::clicked, this, &frmLog::Command2_Click);
    connect(save, &QPushButton::clicked, this, &frmLog::saveChart);
    connect(&m_loader, &logview::ChartLoader::loaded, this, &frmLog::showChart);

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
    fitScreen();
}

frmLog::~frmLog() = default;

void frmLog::fitScreen() {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    QSize size = kPreferredSize;
    if (screen)
        size = size.boundedTo(screen->availableGeometry().size() - kFrameAllowance);
    // A fixed size: window managers then offer no maximize box (openbox
    // ignores the hint that asks for none on a resizable window).
    setFixedSize(size);
}

void frmLog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Openbox gives every dialog a minimize box whatever it asks for. A
    // minimized viewer could not be found again without a taskbar, and
    // monitoring waits for it to close: it comes straight back.
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                showNormal();
        });
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
    const events::EventStore store = events::EventStore::of(m_state);
    if (store.shared() && STATION->currentText().trimmed() != QLatin1String("ALL"))
        c.station = STATION->currentText().trimmed();

    // The first page at once; the rest as the list is scrolled.
    auto pages = std::make_unique<logview::EventPages>(store, c);
    QString failure;
    const bool read = pages->next(logview::EventListModel::kPageRows, m_model, &failure);
    m_model.endFill();
    if (!read) {
        showDatabaseMissing(m_ui);
        return;
    }
    m_pages = std::move(pages);
    if (!m_pages->atEnd())
        m_model.setMoreRows([this](int n) { return moreRows(n); });
    if (List1->isVisible())
        List1->viewport()->repaint(); // on screen before the counting

    const logview::SearchCounts counts = logview::countRows(store, c);
    // The chart reads after the counting, which it would only slow down.
    m_chart->setState(logview::EventChart::State::Loading);
    fillLegend();
    m_loader.start(store, c.datesOnly());
    if (!counts.ok) {
        showDatabaseMissing(m_ui);
        return;
    }
    Label3->setText(countText(counts.normal));
    Label5->setText(countText(counts.errors));
}

bool frmLog::moreRows(int n) {
    QString failure;
    if (!m_pages->next(n, m_model, &failure)) {
        // Said once the view's scrolling that asked for the rows is over.
        QTimer::singleShot(0, this, [this] { showDatabaseMissing(m_ui); });
        return false;
    }
    return !m_pages->atEnd();
}

void frmLog::showChart() {
    logview::ChartLoad load = m_loader.takeResult();
    if (load.ok) {
        setChartData(std::move(load.data));
    } else {
        m_chart->setState(logview::EventChart::State::Failed);
        fillLegend();
    }
}

void frmLog::setChartData(logview::ChartData data) {
    QStringList order;
    for (int i = 1; i <= m_state.serverCount(); ++i)
        order << m_state.Servers[i].Name;
    data.orderServers(order);
    m_chart->setData(std::move(data));
    fillLegend();
}

void frmLog::fillLegend() {
    while (QLayoutItem* item = m_legendLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (m_chart->state() != logview::EventChart::State::Ready)
        return;
    const int swatch = fontMetrics().height() * 2 / 3;
    int index = 0;
    for (const logview::ServerChart& s : m_chart->data().servers) {
        auto* entry = new QCheckBox(s.name, m_legend);
        QPixmap colour(swatch, swatch);
        colour.fill(logview::EventChart::colourOf(index++));
        entry->setIcon(QIcon(colour));
        entry->setIconSize(colour.size());
        entry->setChecked(m_chart->serverShown(s.name));
        connect(entry, &QCheckBox::toggled, m_chart,
                [chart = m_chart, name = s.name](bool on) { chart->setServerShown(name, on); });
        m_legendLayout->addWidget(entry);
    }
}

void frmLog::saveChart() {
    const logview::ChartData& data = m_chart->data();
    const auto day = [](qint64 s) { return QString::number(logview::packedOf(s) / 1000000); };
    const QString name =
        m_chart->state() == logview::EventChart::State::Ready
            ? QStringLiteral("Pulsewatch-%1-%2.png").arg(day(data.from), day(data.to))
            : QStringLiteral("Pulsewatch.png");
    QString path = m_ui.getSaveFileName(this, QDir(m_state.AppFolder).filePath(name),
                                        QStringLiteral("PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".png");
    if (!m_chartPanel->grab().save(path, "PNG"))
        m_ui.messageBox(QStringLiteral("グラフの画像を保存できませんでした。\n") + path,
                        platform::MessageIcon::Critical);
}

void frmLog::Command2_Click() {
    QString failure;
    if (!logview::purgeOlderThan60Days(events::EventStore::of(m_state), m_clock.now().date(),
                                       &failure))
        m_ui.messageBox(QStringLiteral("データベースエラー"), platform::MessageIcon::Critical,
                        platform::Modality::System);
}

void frmLog::done(int result) {
    m_loader.cancel();
    m_state.WindowOpen = 0;
    QDialog::done(result);
}
