#include "logview/frmLog.h"

#include "logview/EventChart.h"
#include "logview/EventSearch.h"
#include "support/FakeWindowSystem.h"
#include "support/TestFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

using testsupport::FakeWindowSystem;
using testsupport::FixedClock;
using testsupport::TestFolder;

namespace {

class LogViewerTest : public ::testing::Test {
protected:
    TestFolder folder;
    AppState state{folder.folder()};
    FakeWindowSystem ui;
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30))};

    void SetUp() override {
        state.DatabasePath = state.AppFolder + QStringLiteral("PLW");
        state.SERVER_CNT = 2;
        state.Servers[1].Name = QStringLiteral("fileserver");
        state.Servers[2].Name = QStringLiteral("db'1");
        rows(
            {{"2026-10-07 23:59:59", "fileserver", "older than 60 days", 1},
             {"2026-10-08 00:00:00", "fileserver", "just 60 days", 1},
             {"2026-12-06 23:59:59", "COM", "このポートは使用できません。", -1},
             {"2026-12-07 00:00:00", "fileserver", "Reply from 10.0.0.1:fileserver: ok", 1},
             {"2026-12-07 09:00:00", "db'1", "Reply from 10.0.0.2: db'1: ICMP Request Timeout", -1},
             {"2026-12-07 09:30:00", "COM", "このポートは使用できません。", -1},
             {"2026-12-07 23:59:59", "fileserver", "odd error value", 0},
             {"2026-12-08 00:00:00", "fileserver", "tomorrow", 1}});
    }
    using Row = std::tuple<QString, QString, QString, int>; // AddDate, server, message, Error
    void rows(std::initializer_list<std::tuple<const char*, const char*, const char*, int>> list) {
        QList<Row> all;
        for (const auto& [date, server, message, error] : list)
            all.append({QString::fromUtf8(date), QString::fromUtf8(server),
                        QString::fromUtf8(message), error});
        insert(all);
    }
    void insert(const QList<Row>& list) {
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
            db.setDatabaseName(state.DatabasePath);
            ASSERT_TRUE(db.open());
            db.transaction();
            QSqlQuery q(db);
            q.prepare(QStringLiteral(
                "INSERT INTO Pulsewatch(AddDate,ServerName,Message,Error) VALUES(?,?,?,?)"));
            for (const auto& [date, server, message, error] : list) {
                q.addBindValue(date);
                q.addBindValue(server);
                q.addBindValue(message);
                q.addBindValue(error);
                ASSERT_TRUE(q.exec());
            }
            db.commit();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    }
    static bool chartLoaded(frmLog& w) {
        QSignalSpy loaded(&w.chartLoader(), &logview::ChartLoader::loaded);
        return w.chart().state() != logview::EventChart::State::Loading || loaded.wait(20000);
    }
    template <typename T> static T* get(frmLog& w, const char* name) {
        return w.findChild<T*>(QLatin1String(name));
    }
    static void set(frmLog& w, const char* field, const char* text) {
        get<QLineEdit>(w, field)->setText(QString::fromUtf8(text));
    }
    static void go(frmLog& w) { get<QPushButton>(w, "Command1")->click(); }
    static QStringList listed(frmLog& w) {
        QStringList out;
        auto& m = w.model();
        for (int i = 0; i < m.rowCount(); ++i)
            out << m.dateText(i) + QLatin1Char('|') + m.serverText(i) +
                       (m.data(m.index(i, 0), Qt::ForegroundRole).value<QBrush>().color() ==
                                QColor(255, 0, 0)
                            ? QStringLiteral("|red")
                            : QString());
        return out;
    }
    static QString counts(frmLog& w) {
        return get<QLabel>(w, "Label3")->text() + QLatin1Char('/') +
               get<QLabel>(w, "Label5")->text();
    }
};

} // namespace

TEST_F(LogViewerTest, OpensWithTodayAndListsTodaysRows) {
    frmLog w(state, ui, clock);
    EXPECT_EQ(state.WindowOpen, 1);
    EXPECT_EQ(get<QLineEdit>(w, "Y1")->text(), QStringLiteral("2026"));
    EXPECT_EQ(get<QLineEdit>(w, "M2")->text(), QStringLiteral("12"));
    EXPECT_EQ(get<QLineEdit>(w, "D2")->text(), QStringLiteral("7"));
    auto* skbn = get<QComboBox>(w, "SKBN");
    QStringList servers;
    for (int i = 0; i < skbn->count(); ++i)
        servers << skbn->itemText(i);
    EXPECT_EQ(servers, (QStringList{"ALL", "fileserver", "db'1", "COM", "DIAL UP"}));
    EXPECT_EQ(get<QComboBox>(w, "KBN")->itemText(2), QStringLiteral("NOT ERROR"));
    EXPECT_EQ(counts(w), QStringLiteral("0件/0件"));

    go(w);
    EXPECT_EQ(listed(w), (QStringList{QStringLiteral("2026/12/07 0:00:00|fileserver"),
                                      QStringLiteral("2026/12/07 9:00:00|db'1|red"),
                                      QStringLiteral("2026/12/07 9:30:00|COM|red"),
                                      QStringLiteral("2026/12/07 23:59:59|fileserver|red")}));
    EXPECT_EQ(counts(w), QStringLiteral("1件/3件"));
    EXPECT_EQ(w.model().messageText(1),
              QStringLiteral("Reply from 10.0.0.2: db'1: ICMP Request Timeout"));
    w.reject();
    EXPECT_EQ(state.WindowOpen, 0);
}

TEST_F(LogViewerTest, KindServerAndOpenRanges) {
    frmLog w(state, ui, clock);
    set(w, "Y1", "");
    set(w, "D2", "");
    get<QComboBox>(w, "KBN")->setCurrentText(QStringLiteral("ERROR"));
    get<QComboBox>(w, "SKBN")->setCurrentText(QStringLiteral("COM"));
    go(w);
    EXPECT_EQ(listed(w), (QStringList{QStringLiteral("2026/12/06 23:59:59|COM|red"),
                                      QStringLiteral("2026/12/07 9:30:00|COM|red")}));
    EXPECT_EQ(counts(w), QStringLiteral("0件/2件"));

    get<QComboBox>(w, "KBN")->setCurrentText(QStringLiteral("ALL"));
    get<QComboBox>(w, "SKBN")->setCurrentText(QStringLiteral("db'1"));
    go(w);
    EXPECT_EQ(listed(w), QStringList{QStringLiteral("2026/12/07 9:00:00|db'1|red")});

    // Only a start: from that day on. Only an end: up to the end of that day.
    get<QComboBox>(w, "SKBN")->setCurrentText(QStringLiteral("fileserver"));
    set(w, "Y1", "2026");
    set(w, "M1", "12");
    set(w, "D1", "7");
    go(w);
    EXPECT_EQ(w.model().rowCount(), 3);
    set(w, "D1", "");
    set(w, "Y2", "2026");
    set(w, "M2", "10");
    set(w, "D2", "8");
    go(w);
    EXPECT_EQ(listed(w), (QStringList{QStringLiteral("2026/10/07 23:59:59|fileserver"),
                                      QStringLiteral("2026/10/08 0:00:00|fileserver")}));

    get<QComboBox>(w, "KBN")->setCurrentText(QStringLiteral("NOT ERROR"));
    set(w, "D2", "");
    go(w);
    EXPECT_EQ(counts(w), QStringLiteral("4件/0件"));
}

TEST_F(LogViewerTest, TypedDatesAreReadOrRefused) {
    frmLog w(state, ui, clock);
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    // Refused dates come after the database is gone: a query would fail loudly.
    const struct {
        const char *y1, *m1, *d1;
        bool refused;
    } cases[] = {
        {"２０２６", "１２", "７", false}, // full-width digits from an IME
        {"2026", "12", "x", true},
        {"2026", "2", "30", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.d1);
        for (auto [field, text] :
             {std::pair{"Y1", c.y1}, std::pair{"M1", c.m1}, std::pair{"D1", c.d1}}) {
            auto* e = get<QLineEdit>(w, field);
            e->clear();
            e->setFocus();
            QInputMethodEvent typed; // an IME commits what the operator typed
            typed.setCommitString(QString::fromUtf8(text));
            QApplication::sendEvent(e, &typed);
        }
        ui.messages.clear();
        go(w);
        if (!c.refused) {
            EXPECT_TRUE(ui.messages.isEmpty());
            EXPECT_EQ(w.model().rowCount(), 4);
            QFile::remove(state.DatabasePath);
            continue;
        }
        ASSERT_EQ(ui.messages.size(), 1);
        EXPECT_EQ(ui.messages[0].text, QStringLiteral("正しい日付を入力してください。"));
        EXPECT_EQ(ui.messages[0].modality, platform::Modality::System);
        EXPECT_EQ(get<QLineEdit>(w, "Y1")->text(), QString());
        EXPECT_EQ(get<QLineEdit>(w, "D1")->text(), QString());
        EXPECT_EQ(QApplication::focusWidget(), get<QLineEdit>(w, "Y1"));
        EXPECT_EQ(w.model().rowCount(), 4) << "the list stays as it was";
    }
}

TEST_F(LogViewerTest, DatesAndMessagesShowWholeInAnyFont) {
    const QString longMessage = QStringLiteral("Reply from 10.0.0.2: db'1: ") +
                                QString(173, QChar(u'長')); // 200 characters
    rows({{"2026-12-07 10:10:00", "fileserver", "after ten", 1},
          {"2026-12-07 12:00:00", "db'1", longMessage.toUtf8().constData(), -1}});
    const struct Restore {
        QFont font = QApplication::font();
        ~Restore() { QApplication::setFont(font); }
    } normal;
    for (int points : {0, 18}) {
        SCOPED_TRACE(points);
        if (points) {
            QFont big = normal.font;
            big.setPointSize(points);
            QApplication::setFont(big);
        }
        frmLog w(state, ui, clock);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        go(w);
        auto* view = get<QTreeView>(w, "List1");
        ASSERT_EQ(w.model().rowCount(), 6);
        for (int row = 0; row < w.model().rowCount(); ++row)
            for (int column = 0; column < 3; ++column) {
                const QModelIndex cell = w.model().index(row, column);
                EXPECT_LE(view->sizeHintForIndex(cell).width(), view->columnWidth(column))
                    << cell.data().toString();
            }
        const QModelIndex message = w.model().index(4, 2); // 12:00, in time order
        EXPECT_TRUE(message.data(Qt::ToolTipRole).toString().contains(longMessage));
    }
}

TEST_F(LogViewerTest, AMissingDatabaseIsSaidAndLeavesTheList) {
    frmLog w(state, ui, clock);
    go(w);
    QFile::remove(state.DatabasePath);
    go(w);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("データベースが見つかりません。"));
    EXPECT_EQ(w.model().rowCount(), 4);
    EXPECT_EQ(counts(w), QStringLiteral("0件/0件"));
    EXPECT_FALSE(QFile::exists(state.DatabasePath)) << "the viewer made a database";

    get<QPushButton>(w, "Command2")->click();
    ASSERT_EQ(ui.messages.size(), 2);
    EXPECT_EQ(ui.messages[1].text, QStringLiteral("データベースエラー"));
}

TEST_F(LogViewerTest, LogClearRemovesExactlyTheRowsOlderThan60Days) {
    frmLog w(state, ui, clock);
    get<QPushButton>(w, "Command2")->click();
    get<QPushButton>(w, "Command2")->click(); // nothing old left: nothing happens
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(w.model().rowCount(), 0) << "the list is not refreshed";
    set(w, "Y1", "");
    set(w, "Y2", "");
    go(w);
    ASSERT_EQ(w.model().rowCount(), 7);
    EXPECT_EQ(w.model().dateText(0), QStringLiteral("2026/10/08 0:00:00"));
}

// 600 rows in one second straddle the first page's end; a row that waited
// in memory and was written last with its own earlier time shows at that
// time.
TEST_F(LogViewerTest, TheListFetchesPageByPageAndTheDatabaseCounts) {
    QList<Row> many;
    for (int i = 0; i < 1234; ++i)
        many.append({QStringLiteral("2026-12-07 10:%1:%2")
                         .arg(i < 600 ? 0 : i / 60, 2, 10, QLatin1Char('0'))
                         .arg(i < 600 ? 0 : i % 60, 2, 10, QLatin1Char('0')),
                     QStringLiteral("fileserver"), QStringLiteral("row %1").arg(i),
                     i % 10 == 0 ? -1 : 1});
    many.append({QStringLiteral("2026-12-07 09:59:59"), QStringLiteral("db'1"),
                 QStringLiteral("waited"), -1});
    insert(many);
    frmLog w(state, ui, clock);
    go(w);
    auto& m = w.model();
    EXPECT_EQ(m.rowCount(), logview::EventListModel::kPageRows);
    EXPECT_EQ(counts(w), QStringLiteral("1111件/128件")) << "counted before the rows are read";
    for (int pages = 0; m.canFetchMore(QModelIndex()) && pages < 10; ++pages)
        m.fetchMore(QModelIndex());
    EXPECT_FALSE(m.canFetchMore(QModelIndex()));
    ASSERT_EQ(m.rowCount(), 1239);
    QSet<QString> seen;
    const auto time = [&m](int i) {
        return QDateTime::fromString(m.dateText(i), QStringLiteral("yyyy/MM/dd H:mm:ss"));
    };
    for (int i = 0; i < m.rowCount(); ++i) {
        seen.insert(m.messageText(i));
        if (i > 0) {
            EXPECT_LE(time(i - 1), time(i)) << i;
        }
    }
    EXPECT_EQ(seen.size(), 1239) << "no row twice, none left out";
    EXPECT_EQ(m.messageText(3), QStringLiteral("waited"));
    EXPECT_TRUE(ui.messages.isEmpty());
}

// The chart follows the dates alone: a search for errors of COM still
// draws every server, in the list's order, with a legend that hides one.
TEST_F(LogViewerTest, TheChartShowsTheSearchsDaysWithALegendAndSavesAsPng) {
    rows({{"2026-12-07 09:10:00", "db'1",
           "Reply from 10.0.0.2:db'1: Bytes = 32 RTT = 7 ms TTL = 64", 1}});
    frmLog w(state, ui, clock);
    EXPECT_EQ(w.chart().state(), logview::EventChart::State::Idle);
    get<QComboBox>(w, "KBN")->setCurrentText(QStringLiteral("ERROR"));
    get<QComboBox>(w, "SKBN")->setCurrentText(QStringLiteral("COM"));
    go(w);
    ASSERT_TRUE(chartLoaded(w));
    const logview::ChartData& d = w.chart().data();
    ASSERT_EQ(d.servers.size(), 2u);
    EXPECT_EQ(d.servers[0].name, QStringLiteral("fileserver"));
    EXPECT_EQ(d.servers[1].name, QStringLiteral("db'1"));
    ASSERT_EQ(d.servers[1].down.size(), 1u);
    EXPECT_EQ(d.servers[1].down[0].to - d.servers[1].down[0].from, 600) << "9:00 to 9:10";
    EXPECT_EQ(d.servers[1].maxRtt, 7);
    const auto legend = get<QWidget>(w, "ChartLegend")->findChildren<QCheckBox*>();
    ASSERT_EQ(legend.size(), 2);
    legend[1]->click();
    EXPECT_FALSE(w.chart().serverShown(QStringLiteral("db'1")));

    const QString png = folder.path(QStringLiteral("chart"));
    ui.nextFileNames = {png, folder.path(QStringLiteral("no-such-folder/chart.png"))};
    get<QPushButton>(w, "SaveChart")->click();
    EXPECT_EQ(ui.saveSuggestions.value(0),
              folder.path(QStringLiteral("Pulsewatch-20261207-20261207.png")));
    EXPECT_FALSE(QImage(png + QStringLiteral(".png"), "PNG").isNull());
    EXPECT_TRUE(ui.messages.isEmpty());
    get<QPushButton>(w, "SaveChart")->click();
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(
        ui.messages[0].text.startsWith(QStringLiteral("グラフの画像を保存できませんでした。")));
}

TEST_F(LogViewerTest, AMinimizedViewerComesBack) {
    frmLog w(state, ui, clock);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.setWindowState(Qt::WindowMinimized);
    for (int i = 0; i < 100 && w.isMinimized(); ++i)
        QTest::qWait(20);
    EXPECT_FALSE(w.isMinimized());
}

TEST(SearchStatement, EveryValueIsBound) {
    logview::SearchCriteria c;
    c.error = -1;
    c.server = QStringLiteral("COM");
    EXPECT_EQ(logview::pageStatement(c, false, 500),
              QStringLiteral("SELECT ID,AddDate,ServerName,Message,Error FROM Pulsewatch WHERE "
                             "Error=:error AND ServerName=:server ORDER BY AddDate,ID LIMIT 500"));
    EXPECT_EQ(logview::typedDate(QStringLiteral("26"), QStringLiteral("12"), QStringLiteral("7")),
              QDate(2026, 12, 7));
    EXPECT_FALSE(
        logview::typedDate(QStringLiteral("2026"), QStringLiteral("13"), QStringLiteral("1")));
}
