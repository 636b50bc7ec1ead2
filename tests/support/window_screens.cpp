// Shows the program's windows on a real display under a window manager,
// filled with Japanese sample data, as the program shows them (fitted into
// the screen and centred), and saves a picture of each into the folder
// given for a person to look at. It fails when a window shows a text cut
// short (a label, a button, a column header or a cell of a list narrower
// than its text in the window's own font), a title bar other than the
// window's caption, a frame or a control outside the screen's available
// area (scrolled into view first where the window scrolls; with
// --no-scrolling the window must not need to), a window manager that may
// maximize a window without a maximize box, or such a window that stays
// minimized (with --title-boxes). On a large screen the sizes the windows
// set for themselves must be kept.
#include "alerts/EmargMSG.h"
#include "logview/ChartData.h"
#include "logview/EventChart.h"
#include "logview/EventTime.h"
#include "logview/frmLog.h"
#include "settings/Config.h"
#include "settings/LIST.h"
#include "settings/Settings.h"
#include "settings/frmINPUT.h"
#include "settings/frmSMTP.h"
#include "support/FakePlatform.h"
#include "support/FakeRemoteAccess.h"
#include "tools/frmAbout.h"
#include "tools/frmPing.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <cstdio>

namespace {

// A button's text as drawn: "&S" shows as an underlined S, "&&" as "&".
QString withoutMnemonic(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        shown += text[i];
    }
    return shown;
}

// Every text of the window that its widget shows cut short, as
// "object: text (needs N px, has M)".
QStringList cutTexts(const QWidget& window) {
    QStringList cut;
    const auto check = [&cut](const QWidget* w, const QString& text, int needs, int has) {
        if (needs > has)
            cut << QStringLiteral("%1 %2: \"%3\" needs %4 px, has %5")
                       .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(),
                            text)
                       .arg(needs)
                       .arg(has);
    };
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window))
            continue;
        const QFontMetrics fm(w->font());
        const QStyle* style = w->style();
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            if (!label->text().isEmpty() && !label->wordWrap())
                check(w, label->text(), fm.horizontalAdvance(label->text()),
                      label->contentsRect().width() - 2 * label->margin());
        } else if (const auto* box = qobject_cast<const QCheckBox*>(w)) {
            check(w, box->text(), box->sizeHint().width(), box->width());
        } else if (const auto* button = qobject_cast<const QPushButton*>(w)) {
            const QString text = withoutMnemonic(button->text());
            check(w, text,
                  fm.horizontalAdvance(text) + style->pixelMetric(QStyle::PM_ButtonMargin) +
                      2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth),
                  button->width());
        } else if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
            check(w, group->title(), fm.horizontalAdvance(group->title()),
                  group->contentsRect().width());
        } else if (const auto* header = qobject_cast<const QHeaderView*>(w)) {
            for (int i = 0; i < header->count(); ++i) {
                const QString text =
                    header->model()->headerData(i, header->orientation()).toString();
                check(w, text,
                      fm.horizontalAdvance(text) + 2 * style->pixelMetric(QStyle::PM_HeaderMargin),
                      header->sectionSize(i));
            }
        } else if (const auto* view = qobject_cast<const QTreeView*>(w)) {
            const QAbstractItemModel* m = view->model();
            for (int row = 0; row < m->rowCount(); ++row)
                for (int column = 0; column < m->columnCount(); ++column) {
                    const QModelIndex cell = m->index(row, column);
                    check(w, cell.data().toString(), view->sizeHintForIndex(cell).width(),
                          view->columnWidth(column));
                }
        }
    }
    return cut;
}

// Runs an X tool and gives what it printed.
QString xTool(const QString& tool, const QStringList& args) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(5000))
        return QStringLiteral("(%1 did not answer)").arg(tool);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The title the X server holds for the window, as a window manager shows it.
QString titleBar(const QWidget& w) {
    return xTool(QStringLiteral("xdotool"),
                 {QStringLiteral("getwindowname"), QString::number(w.winId())});
}

// What the window manager lets the operator do with the window.
QString allowedActions(const QWidget& w) {
    return xTool(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(w.winId()),
                                           QStringLiteral("_NET_WM_ALLOWED_ACTIONS")});
}

bool isControl(const QWidget* w) {
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const QPlainTextEdit*>(w) ||
           (qobject_cast<const QLabel*>(w) && !static_cast<const QLabel*>(w)->text().isEmpty());
}

// Every control of the window that lies outside the screen's available
// area or is cut off by a parent, as "object: where". Controls in a scroll
// area are scrolled into view first; with noScrolling a scroll area is a
// failure of its own.
QStringList outsideTheScreen(QWidget& window, bool noScrolling) {
    QStringList out;
    const QRect area = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    if (!area.contains(frame))
        out << QStringLiteral("the frame %1x%2+%3+%4 is not inside the screen area %5x%6+%7+%8")
                   .arg(frame.width())
                   .arg(frame.height())
                   .arg(frame.x())
                   .arg(frame.y())
                   .arg(area.width())
                   .arg(area.height())
                   .arg(area.x())
                   .arg(area.y());
    auto* scroll = window.findChild<QScrollArea*>(QStringLiteral("pw_scroll"));
    if (scroll && noScrolling)
        out << QStringLiteral("the window needs a scroll bar");
    for (QWidget* c : window.findChildren<QWidget*>()) {
        if (!c->isVisibleTo(&window) || !isControl(c))
            continue;
        bool part = false; // of a list, a combo box or a text box
        for (QWidget* p = c->parentWidget(); p && p != &window; p = p->parentWidget())
            part = part || qobject_cast<QAbstractItemView*>(p) || qobject_cast<QComboBox*>(p) ||
                   qobject_cast<QPlainTextEdit*>(p);
        if (part)
            continue;
        if (scroll && scroll->widget()->isAncestorOf(c)) {
            // The whole control, not only its text cursor as ensureWidgetVisible does.
            const QPoint centre = c->mapTo(scroll->widget(), c->rect().center());
            scroll->ensureVisible(centre.x(), centre.y(), c->width() / 2 + 1, c->height() / 2 + 1);
            QCoreApplication::processEvents();
        }
        const QRect own(c->mapToGlobal(QPoint(0, 0)), c->size());
        QRect seen = own;
        for (QWidget* p = c->parentWidget(); p; p = p->parentWidget())
            seen &= QRect(p->mapToGlobal(QPoint(0, 0)), p->size());
        if (seen != own || !area.contains(own))
            out << QStringLiteral("%1 %2 at %3x%4+%5+%6 shows only %7x%8")
                       .arg(QString::fromLatin1(c->metaObject()->className()), c->objectName())
                       .arg(own.width())
                       .arg(own.height())
                       .arg(own.x())
                       .arg(own.y())
                       .arg(seen.width())
                       .arg(seen.height());
    }
    return out;
}

// A window without minimize and maximize boxes: the window manager must not
// maximize it, and a minimize (which openbox offers for every dialog) must
// not keep it from the operator.
QStringList boxesMisbehave(QWidget& w) {
    QStringList out;
    const QString actions = allowedActions(w);
    if (actions.contains(QLatin1String("MAXIMIZE")) || actions.contains(QLatin1String("RESIZE")))
        out << QStringLiteral("the window manager may maximize it: ") + actions;
    xTool(QStringLiteral("xdotool"),
          {QStringLiteral("windowminimize"), QString::number(w.winId())});
    QTest::qWait(1000);
    const QString state =
        xTool(QStringLiteral("xprop"),
              {QStringLiteral("-id"), QString::number(w.winId()), QStringLiteral("WM_STATE")});
    if (w.isMinimized() || !state.contains(QLatin1String("Normal")))
        out << QStringLiteral("it stays minimized: ") + state.simplified();
    return out;
}

struct Checks {
    bool noScrolling = false; // every control inside the screen without scrolling
    bool titleBoxes = false;  // what the window manager makes of the title boxes
    bool large = false;       // a screen with room for every size a window sets
};

bool report(const QWidget& w, const QStringList& faults, const char* kind) {
    for (const QString& f : faults)
        std::fprintf(stderr, "%s: %s: %s\n", qPrintable(w.objectName()), kind, qPrintable(f));
    return faults.isEmpty();
}

// fit: whether the window is checked for fitting the screen; boxes: whether
// it has no minimize and maximize boxes.
bool save(QWidget& w, const QString& file, const Checks& checks, bool fit = true,
          bool boxes = false) {
    platform::centre(w); // as showModal and showModeless do
    w.show();
    if (!QTest::qWaitForWindowExposed(&w, 5000))
        return false;
    QTest::qWait(300);
    bool ok = report(w, cutTexts(w), "cut short");
    if (fit)
        ok = report(w, outsideTheScreen(w, checks.noScrolling), "outside the screen") && ok;
    ok = w.grab().save(file) && ok;
    xTool(QStringLiteral("import"),
          {QStringLiteral("-window"), QStringLiteral("root"),
           QString(file).replace(QLatin1String(".png"), QLatin1String("-screen.png"))});
    const QString title = titleBar(w);
    if (title.trimmed() != w.windowTitle().trimmed()) {
        std::fprintf(stderr, "%s: title bar \"%s\", caption \"%s\"\n", qPrintable(w.objectName()),
                     qPrintable(title), qPrintable(w.windowTitle()));
        ok = false;
    }
    if (boxes && checks.titleBoxes)
        ok = report(w, boxesMisbehave(w), "title boxes") && ok;
    return ok;
}

// On a screen with room for them, the sizes a window sets for itself stand.
bool keepsItsSizes(const QWidget& w, const char* child, QSize minimum) {
    const auto* c = w.findChild<QWidget*>(QLatin1String(child));
    if (c && c->width() >= minimum.width() && c->height() >= minimum.height())
        return true;
    std::fprintf(stderr, "%s: %s is smaller than %dx%d on a large screen\n",
                 qPrintable(w.objectName()), child, minimum.width(), minimum.height());
    return false;
}

// The log viewer's sample: rows of every kind in the list, and a day of
// three servers probed every five minutes in the chart, mail.example.jp
// down from 10:10 to 10:40.
void fillLogViewer(frmLog& log) {
    // Times with two-digit hours and a message longer than any window.
    log.model().append(u"2026-12-07 09:00:00", QStringLiteral("192.168.1.10"),
                       u"Reply from 192.168.1.10:fileserver: Bytes = 32 RTT = 1 ms TTL = 64", 1);
    log.model().append(u"2026-12-07 10:10:00", QStringLiteral("mail.example.jp"),
                       u"Reply from 10.0.0.5: mail.example.jp: ICMP Request Timeout", -1);
    log.model().append(
        u"2026-12-07 23:59:59", QStringLiteral("COM"),
        u"このポートは使用できません。ComPortプロパテイーを別のポートに設定してください。", -1);
    const QString longMessage =
        QStringLiteral("Reply from 10.0.0.9: db01: ") +
        QStringLiteral("応答がありません。").repeated(19).left(173); // 200 characters
    log.model().append(u"2026-12-07 23:59:59", QStringLiteral("db01"), longMessage, -1);
    log.model().endFill();

    const qint64 day = logview::civilSeconds(20261207000000ULL);
    logview::ChartBuilder chart(day, day + logview::kSecondsPerDay - 1);
    const char* names[] = {"192.168.1.10", "mail.example.jp", "db01"};
    for (qint64 t = day; t < day + logview::kSecondsPerDay; t += 300)
        for (int s = 0; s < 3; ++s) {
            const QString name = QLatin1String(names[s]);
            const bool down = s == 1 && t >= day + 10 * 3600 + 600 && t < day + 10 * 3600 + 2400;
            const int rtt = 2 + 8 * s + static_cast<int>((t / 300 * (s + 7)) % 11);
            chart.add(
                t, name,
                down ? QStringLiteral("Reply from 10.0.0.5: %1: ICMP Request Timeout").arg(name)
                     : QStringLiteral("Reply from 10.0.0.5:%1: Bytes = 32 RTT = %2 ms TTL = 64")
                           .arg(name)
                           .arg(rtt),
                down ? -1 : 1);
        }
    log.setChartData(chart.finish());
}

bool chartFits(frmLog& log) {
    bool ok = true;
    for (const QString& cut : log.chart().cutLabels()) {
        std::fprintf(stderr, "frmLog: chart text cut short: %s\n", qPrintable(cut));
        ok = false;
    }
    // The date fields hold their digits whole.
    for (const QLineEdit* e : log.findChildren<QLineEdit*>()) {
        const int needs = e->fontMetrics().horizontalAdvance(e->text()) + 4 +
                          2 * e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        if (needs > e->width()) {
            std::fprintf(stderr, "frmLog: %s: \"%s\" needs %d px, has %d\n",
                         qPrintable(e->objectName()), qPrintable(e->text()), needs, e->width());
            ok = false;
        }
    }
    return ok;
}

// The log viewer with its list, then with its chart.
bool saveLogViewer(AppState& state, platform::WindowSystem& ui, const platform::Clock& clock,
                   const QDir& out, const Checks& checks) {
    frmLog log(state, ui, clock);
    fillLogViewer(log);
    // Its fit is held to 150 % on 1024x768 (and checked further, controls
    // whole in sight, by its own small-screen test); below that its list
    // and chart scroll within themselves.
    const bool fit = checks.noScrolling || checks.large;
    bool ok = save(log, out.filePath(QStringLiteral("frmLog.png")), checks, fit);
    log.findChild<QTabWidget*>(QStringLiteral("ReportTabs"))->setCurrentIndex(1);
    ok = save(log, out.filePath(QStringLiteral("frmLog-chart.png")), checks, fit) && ok;
    ok = chartFits(log) && ok;
    log.hide();
    return ok;
}

// On a small screen at a large scale under a window manager: the viewer's
// frame inside the screen, every control of both tabs whole in sight,
// texts whole, and a close box as the frame's only button. A picture of
// the whole screen is saved as frmLog-NAME.png.
bool logViewerOnSmallScreen(AppState& state, platform::WindowSystem& ui, const QDir& out,
                            const QString& name) {
    platform::SystemClock clock;
    frmLog log(state, ui, clock);
    fillLogViewer(log);
    platform::centre(log);
    log.show();
    if (!QTest::qWaitForWindowExposed(&log, 5000))
        return false;
    QTest::qWait(500); // the window manager's frame
    bool ok = true;
    const auto fail = [&ok, &name](const QString& why) {
        std::fprintf(stderr, "frmLog (%s): %s\n", qPrintable(name), qPrintable(why));
        ok = false;
    };
    const QRect screen = log.screen()->availableGeometry();
    const auto text = [](const QRect& r) {
        return QStringLiteral("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
    };
    if (!screen.contains(log.frameGeometry()))
        fail(QStringLiteral("frame %1 outside the screen %2")
                 .arg(text(log.frameGeometry()), text(screen)));
    auto* tabs = log.findChild<QTabWidget*>(QStringLiteral("ReportTabs"));
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        QTest::qWait(100);
        for (QWidget* w : log.findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                                 qobject_cast<QComboBox*>(w) || qobject_cast<QTreeView*>(w) ||
                                 qobject_cast<QTabBar*>(w) || qobject_cast<logview::EventChart*>(w);
            if (control && w->isVisibleTo(&log) && w->visibleRegion().boundingRect() != w->rect())
                fail(QStringLiteral("%1 %2 %3 not whole in sight: %4 of it shown")
                         .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(),
                              text(w->rect()), text(w->visibleRegion().boundingRect())));
        }
        for (const QString& cut : cutTexts(log))
            fail(QStringLiteral("cut short: ") + cut);
        if (!chartFits(log))
            ok = false;
    }
    // Openbox offers a minimize box on every dialog whatever the window
    // asks; the viewer must come back from it on its own, and still with
    // no maximize box.
    QProcess minimize;
    minimize.start(QStringLiteral("xdotool"),
                   {QStringLiteral("windowminimize"), QString::number(log.winId())});
    minimize.waitForFinished(5000);
    QTest::qWait(1000);
    if (log.isMinimized() || !log.isVisible())
        fail(QStringLiteral("stays minimized"));
    const QString actions = allowedActions(log);
    if (!actions.contains(QLatin1String("_NET_WM_ACTION_CLOSE")) ||
        actions.contains(QLatin1String("MAXIMIZE")) || actions.contains(QLatin1String("RESIZE")))
        fail(QStringLiteral("the frame offers ") + actions.trimmed());
    tabs->setCurrentIndex(1);
    QTest::qWait(100);
    QProcess import;
    import.start(QStringLiteral("import"),
                 {QStringLiteral("-window"), QStringLiteral("root"),
                  out.filePath(QStringLiteral("frmLog-%1.png").arg(name))});
    if (!import.waitForFinished(10000))
        fail(QStringLiteral("no picture of the screen"));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_screens OUTPUT_DIR [--no-scrolling] [--title-boxes]\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    Checks checks;
    for (int i = 2; i < argc; ++i) {
        checks.noScrolling = checks.noScrolling || QByteArray(argv[i]) == "--no-scrolling";
        checks.titleBoxes = checks.titleBoxes || QByteArray(argv[i]) == "--title-boxes";
    }
    checks.large = QGuiApplication::primaryScreen()->availableGeometry().width() >= 1600;
    QTemporaryDir dir;
    AppState state(dir.path());
    const auto put = [&](const char* key, const QString& value, const QString& file) {
        WriteIniKey(state, kSettingsSection, QLatin1String(key), value, file);
    };
    put("SERVER_CNT", QStringLiteral("3"), kServerListFile);
    put("SERVER_NAME1", QStringLiteral("192.168.1.10"), kServerListFile);
    put("SERVER_ETC1", QStringLiteral("ファイルサーバー"), kServerListFile);
    put("SERVER_CHECK1", QStringLiteral("1"), kServerListFile);
    put("SERVER_NAME2", QStringLiteral("mail.example.jp"), kServerListFile);
    put("SERVER_ETC2", QStringLiteral("メールサーバー（本社）"), kServerListFile);
    put("SERVER_CHECK2", QStringLiteral("-1"), kServerListFile);
    put("SERVER_NAME3", QStringLiteral("db01"), kServerListFile);
    put("SERVER_CHECK3", QStringLiteral("1"), kServerListFile);
    put("EMARGE_SERVER", QStringLiteral("smtp.example.jp"), kGeneralFile);
    put("EMARGE_MAIL", QStringLiteral("ops@example.jp"), kGeneralFile);
    put("EMARGE_SOUND", state.AppFolder + QStringLiteral("alarm.wav"), kGeneralFile);
    put("USED_LAN", QStringLiteral("0"), kGeneralFile);
    put("DIAL_ENTRY", QStringLiteral("isp"), kGeneralFile);
    put("DIAL_USER", QStringLiteral("operator"), kGeneralFile);
    put("TEL1", QStringLiteral("03"), kGeneralFile);
    put("TEL2", QStringLiteral("1234"), kGeneralFile);
    put("TEL3", QStringLiteral("5678"), kGeneralFile);
    put("mINTERVAL", QStringLiteral("5"), kGeneralFile);
    put("RETRY", QStringLiteral("2"), kGeneralFile);
    put("EMARGE_SECURITY", QStringLiteral("1"), kGeneralFile);
    put("EMARGE_USER", QStringLiteral("alerts@example.jp"), kGeneralFile);
    put("EMARGE_PWD", QStringLiteral("secret"), kGeneralFile);

    testsupport::FakeRemoteAccess ras;
    ras.entries = {QStringLiteral("isp"), QStringLiteral("backup")};
    platform::QtWindowSystem ui;
    if (argc > 3 && QLatin1String(argv[2]) == QLatin1String("frmLog"))
        return logViewerOnSmallScreen(state, ui, out, QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    bool ok = true;
    Config config(state, ui, ras);
    ok = save(config, out.filePath(QStringLiteral("Config.png")), checks, true, true) && ok;
    LIST list(state, ui, nullptr, &config);
    ok = save(list, out.filePath(QStringLiteral("LIST.png")), checks, true, true) && ok;
    // The columns' 3000 and 3500 twips.
    ok = (!checks.large || keepsItsSizes(list, "List1", {3000 / 15 + 3500 / 15, 0})) && ok;
    state.EditName = QStringLiteral("mail.example.jp");
    state.EditRemark = QStringLiteral("メールサーバー（本社）");
    frmINPUT input(state, ui, &list);
    ok = save(input, out.filePath(QStringLiteral("frmINPUT.png")), checks, true, true) && ok;
    input.hide();
    list.hide();
    frmSMTP smtp(state, ui, QStringLiteral("smtp.example.jp"), QStringLiteral("ops@example.jp"),
                 &config);
    ok = save(smtp, out.filePath(QStringLiteral("frmSMTP.png")), checks, true, true) && ok;
    smtp.hide();
    config.hide();

    platform::SystemClock clock;
    ok = saveLogViewer(state, ui, clock, out, checks) && ok;

    frmPing ping(state, ui);
    ping.cPING_Ping(0, QStringLiteral("Success"), QStringLiteral("localhost"),
                    QStringLiteral("127.0.0.1"), 32, 0, 64);
    ping.cPING_Ping(-1, QStringLiteral("ICMP Request Timeout"), QString(), QString(), 0, 0, 0);
    ok = save(ping, out.filePath(QStringLiteral("frmPing.png")), checks, true, true) && ok;
    ping.hide();

    frmAbout about(state, ui, QStringLiteral(PW_VERSION));
    ok = save(about, out.filePath(QStringLiteral("frmAbout.png")), checks) && ok;
    about.hide();

    state.Servers[2].Status = -1;
    state.Servers[2].Message =
        QStringLiteral("Reply from 10.0.0.5: mail.example.jp: ICMP Request Timeout");
    state.Servers[2].Check = 1;
    state.Servers[3].Status = -1;
    state.Servers[3].Check = 1;
    testsupport::FakeSoundPlayer sound;
    events::EventLog events(state, clock);
    EmargMSG alarm(state, sound, events);
    ok = save(alarm, out.filePath(QStringLiteral("EmargMSG.png")), checks) && ok;
    ok = (!checks.large || keepsItsSizes(alarm, "Image1", {182, 227})) && ok;
    return ok ? 0 : 1;
}
