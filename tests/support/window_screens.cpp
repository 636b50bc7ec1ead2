// Shows the program's windows on a real display, filled with Japanese
// sample data, and saves a picture of each into the folder given for a
// person to look at. It fails when a window shows a text cut short (a label,
// a button, a column header or a cell of a list narrower than its text in
// the window's own font) or a title bar other than the window's caption.
#include "alerts/EmargMSG.h"
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
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
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

// The title the X server holds for the window, as a window manager shows it.
QString titleBar(const QWidget& w) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("getwindowname"), QString::number(w.winId())});
    if (!xdotool.waitForFinished(5000))
        return QStringLiteral("(xdotool did not answer)");
    return QString::fromUtf8(xdotool.readAllStandardOutput()).chopped(1);
}

bool save(QWidget& w, const QString& file) {
    w.show();
    if (!QTest::qWaitForWindowExposed(&w, 5000))
        return false;
    QTest::qWait(200);
    bool ok = w.grab().save(file);
    for (const QString& cut : cutTexts(w)) {
        std::fprintf(stderr, "%s: cut short: %s\n", qPrintable(w.objectName()), qPrintable(cut));
        ok = false;
    }
    const QString title = titleBar(w);
    if (title.trimmed() != w.windowTitle().trimmed()) {
        std::fprintf(stderr, "%s: title bar \"%s\", caption \"%s\"\n", qPrintable(w.objectName()),
                     qPrintable(title), qPrintable(w.windowTitle()));
        ok = false;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_screens OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
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
    bool ok = true;
    Config config(state, ui, ras);
    ok = save(config, out.filePath(QStringLiteral("Config.png"))) && ok;
    LIST list(state, ui, nullptr, &config);
    ok = save(list, out.filePath(QStringLiteral("LIST.png"))) && ok;
    state.EditName = QStringLiteral("mail.example.jp");
    state.EditRemark = QStringLiteral("メールサーバー（本社）");
    frmINPUT input(state, ui, &list);
    ok = save(input, out.filePath(QStringLiteral("frmINPUT.png"))) && ok;
    input.hide();
    list.hide();
    frmSMTP smtp(state, ui, QStringLiteral("smtp.example.jp"), QStringLiteral("ops@example.jp"),
                 &config);
    ok = save(smtp, out.filePath(QStringLiteral("frmSMTP.png"))) && ok;
    smtp.hide();
    config.hide();

    platform::SystemClock clock;
    frmLog log(state, ui, clock);
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
    ok = save(log, out.filePath(QStringLiteral("frmLog.png"))) && ok;
    log.hide();

    frmPing ping(state, ui);
    ping.cPING_Ping(0, QStringLiteral("Success"), QStringLiteral("localhost"),
                    QStringLiteral("127.0.0.1"), 32, 0, 64);
    ping.cPING_Ping(-1, QStringLiteral("ICMP Request Timeout"), QString(), QString(), 0, 0, 0);
    ok = save(ping, out.filePath(QStringLiteral("frmPing.png"))) && ok;
    ping.hide();

    frmAbout about(state, ui, QStringLiteral(PW_VERSION));
    ok = save(about, out.filePath(QStringLiteral("frmAbout.png"))) && ok;
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
    ok = save(alarm, out.filePath(QStringLiteral("EmargMSG.png"))) && ok;
    return ok ? 0 : 1;
}
