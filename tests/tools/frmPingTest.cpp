#include "tools/frmPing.h"

#include "monitor/frmTray.h"
#include "platform/AnsiText.h"
#include "probe/IcmpSocket.h"
#include "settings/Settings.h"
#include "support/FakePlatform.h"
#include "support/FakeRemoteAccess.h"
#include "support/FakeWindowSystem.h"
#include "support/Netns.h"
#include "support/TestFolder.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

using testsupport::EnterNetns;
using testsupport::FakeWindowSystem;
using testsupport::Netns;
using testsupport::TestFolder;

namespace {

class PingWindowTest : public ::testing::Test {
protected:
    TestFolder folder{false};
    AppState state{folder.folder()};
    FakeWindowSystem ui;

    static QStringList lines(frmPing& w) {
        QStringList out;
        auto* list = w.findChild<QListWidget*>(QStringLiteral("List1"));
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    static QLineEdit* box(frmPing& w, const char* name) {
        return w.findChild<QLineEdit*>(QLatin1String(name));
    }
    static QComboBox* host(frmPing& w) { return w.findChild<QComboBox*>(QStringLiteral("Text1")); }
    static void start(frmPing& w) {
        w.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    }
};

// The window runs in namespace A, linked to 10.99.1.1, which ignores echo
// requests, and to 10.99.2.1, which answers and has no reverse name.
class PingWindowNetns : public PingWindowTest {
protected:
    Netns netns;
    QString a;

    void SetUp() override {
        if (const QString why = netns.addEchoPeers(&a); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
    }

    // Types into a box as the operator does: select all, then the keys.
    static void type(QWidget* box, const QString& text) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
    }
    static void fill(frmPing& w, const QString& hostText, const char* timeOut,
                     const char* packets) {
        type(host(w)->lineEdit(), hostText);
        type(box(w, "txtTimeOut"), QLatin1String(timeOut));
        type(box(w, "txtPacket"), QLatin1String(packets));
    }
    static void clickStart(frmPing& w) {
        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    }
};

} // namespace

TEST_F(PingWindowTest, OpensWithItsTextsAndThePingList) {
    folder.write(QStringLiteral("PING.txt"),
                 platform::toAnsi(QStringLiteral(
                     "fileserver, mail.example.jp\r\n\"a,b\",ファイル\r\n\r\nlast")));
    frmPing w(state, ui);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("PING"));
    EXPECT_EQ(state.WindowOpen, 1);
    EXPECT_EQ(box(w, "txtTimeOut")->text(), QStringLiteral("5"));
    EXPECT_EQ(box(w, "txtPacket")->text(), QStringLiteral("5"));
    EXPECT_EQ(box(w, "txtChrPkt")->text(), QStringLiteral("32"));
    EXPECT_EQ(box(w, "txtTTL")->text(), QStringLiteral("255"));
    QStringList entries;
    for (int i = 0; i < host(w)->count(); ++i)
        entries << host(w)->itemText(i);
    EXPECT_EQ(entries, (QStringList{"fileserver", "mail.example.jp", "a,b",
                                    QStringLiteral("ファイル"), "last"}));
    w.reject();
    EXPECT_EQ(state.WindowOpen, 0);

    QFile::remove(folder.path(QStringLiteral("PING.txt")));
    frmPing empty(state, ui);
    EXPECT_EQ(host(empty)->count(), 0);
    EXPECT_TRUE(ui.messages.isEmpty());
}

// PING.txt as an editor writes it (UTF-8, with or without a byte-order
// mark) or as the desktop does (code page 932); a FIFO in its place is no
// list and never holds the window.
TEST_F(PingWindowTest, ThePingListInEitherEncodingAndNeverAFifo) {
    const QString text = QStringLiteral("ファイル鯖,①号機\r\nｻｰﾊﾞｰ");
    const QStringList names = {QStringLiteral("ファイル鯖"), QStringLiteral("①号機"),
                               QStringLiteral("ｻｰﾊﾞｰ")};
    const QString list = folder.path(QStringLiteral("PING.txt"));
    const auto entries = [&] {
        frmPing w(state, ui);
        QStringList got;
        for (int i = 0; i < host(w)->count(); ++i)
            got << host(w)->itemText(i);
        return got;
    };
    for (const QByteArray& bytes :
         {text.toUtf8(), "\xEF\xBB\xBF" + text.toUtf8(), platform::toAnsi(text)}) {
        folder.write(QStringLiteral("PING.txt"), bytes);
        EXPECT_EQ(entries(), names) << bytes.toHex().toStdString();
    }
    QFile::remove(list);
    ASSERT_EQ(::mkfifo(QFile::encodeName(list).constData(), 0600), 0);
    EXPECT_TRUE(
        testsupport::returnsWithin(2000, list, [&] { EXPECT_EQ(entries(), QStringList()); }));
}

TEST_F(PingWindowTest, TheThreeLineForms) {
    frmPing w(state, ui);
    w.cPING_Ping(0, QStringLiteral("Success"), QStringLiteral("srv"), QStringLiteral("10.0.0.1"),
                 32, 10, 128);
    w.cPING_Ping(11013, QStringLiteral("TTL Expired Transit"), QStringLiteral("srv"),
                 QStringLiteral("10.0.0.254"), 0, 0, 0);
    w.cPING_Ping(-1, QStringLiteral("ICMP Request Timeout"), QString(), QString(), 0, 0, 0);
    EXPECT_EQ(lines(w), (QStringList{"Reply from 10.0.0.1:srv: Bytes = 32 RTT = 10 ms TTL = 128",
                                     "Reply from 10.0.0.254: srv: TTL Expired Transit",
                                     "ICMP Request Timeout"}));
}

TEST_F(PingWindowTest, ThreeEchoesToLoopback) {
    probe::IcmpSocket s;
    if (!s.open(nullptr))
        GTEST_SKIP() << "no ICMP socket allowed here (needs net.ipv4.ping_group_range or root)";
    frmPing w(state, ui);
    host(w)->setEditText(QStringLiteral("localhost"));
    box(w, "txtTimeOut")->setText(QStringLiteral("1000"));
    box(w, "txtPacket")->setText(QStringLiteral("3"));
    box(w, "txtChrPkt")->setText(QStringLiteral("500")); // the probe holds it to 128
    start(w);
    start(w); // a second Start shows only its own lines
    const QStringList l = lines(w);
    ASSERT_EQ(l.size(), 3) << l.join(QLatin1Char('\n'));
    const QRegularExpression reply(QStringLiteral(
        "^Reply from 127\\.0\\.0\\.1:localhost: Bytes = 128 RTT = \\d+ ms TTL = 64$"));
    for (const QString& line : l)
        EXPECT_TRUE(reply.match(line).hasMatch()) << line;
    EXPECT_EQ(box(w, "Text2")->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(box(w, "txtChrPkt")->text(), QStringLiteral("128")) << "the boxes show what was used";
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(PingWindowTest, AnUnknownHostAndTextThatIsNoNumber) {
    frmPing w(state, ui);
    host(w)->setEditText(QStringLiteral("no-such-host.invalid"));
    start(w);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("コンピュータ名またはIPアドレスが不正です。"));
    EXPECT_EQ(ui.messages[0].modality, platform::Modality::System);

    ui.messages.clear();
    host(w)->setEditText(QStringLiteral("127.0.0.1"));
    box(w, "txtTimeOut")->setText(QStringLiteral("five"));
    start(w);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text,
              QStringLiteral("【TimeOut (ミリ秒)】には数値を入力してください。"));
    EXPECT_TRUE(lines(w).isEmpty());
    box(w, "txtTimeOut")->setText(QStringLiteral("5"));
    box(w, "txtTTL")->setText(QStringLiteral("99999"));
    start(w);
    EXPECT_EQ(ui.messages.last().text, QStringLiteral("【TTL】には数値を入力してください。"));
}

TEST_F(PingWindowNetns, ADottedAddressWithoutAReverseNameStaysInTheHostBox) {
    EnterNetns inA(a);
    ASSERT_TRUE(inA.ok());
    frmPing w(state, ui);
    fill(w, QStringLiteral("10.99.2.1"), "2000", "1");
    for (int i = 0; i < 2; ++i) { // the second Start finds the address still there
        clickStart(w);
        EXPECT_EQ(host(w)->currentText(), QStringLiteral("10.99.2.1"));
        EXPECT_EQ(box(w, "Text2")->text(), QStringLiteral("10.99.2.1"));
        const QStringList l = lines(w);
        ASSERT_EQ(l.size(), 1);
        EXPECT_TRUE(l[0].startsWith(QStringLiteral("Reply from 10.99.2.1:: Bytes = 32 RTT = ")))
            << l[0].toStdString();
    }
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(PingWindowNetns, TheTypedTimeOutIsWaitedAsTyped) {
    EnterNetns inA(a);
    ASSERT_TRUE(inA.ok());
    frmPing w(state, ui);
    fill(w, QStringLiteral("10.99.1.1"), "50", "3");
    QElapsedTimer t;
    t.start();
    clickStart(w);
    // Three waits of 50 ms; at least 500 ms each would take 1.5 s.
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_EQ(lines(w), QStringList(3, QStringLiteral("ICMP Request Timeout")));
    EXPECT_EQ(box(w, "txtTimeOut")->text(), QStringLiteral("50"));
}

// Opened from the tray, which stops Timer1 while the window is open: closing
// it in the middle of a 3 x 3 s echo returns to the tray, and Timer1 runs
// again, at once.
TEST_F(PingWindowNetns, ClosingTheWindowEndsALongEchoAndMonitoringResumesAtOnce) {
    WriteIniKey(state, kSettingsSection, QStringLiteral("SERVER_CNT"), QStringLiteral("1"),
                kServerListFile);
    WriteIniKey(state, kSettingsSection, QStringLiteral("SERVER_NAME1"),
                QStringLiteral("127.0.0.1"), kServerListFile);
    testsupport::FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30))};
    testsupport::FakeSoundPlayer sound;
    testsupport::RecordingSleeper sleeper;
    platform::Ending ending;
    platform::Services services{ui, clock, sound, sleeper, ending};
    testsupport::FakeRemoteAccess ras;
    monitor::ToolWindows tools;
    tools.set(monitor::Tool::Ping, [this](QWidget*) { return new frmPing(state, ui); });
    frmTray tray(state, services, tools, ras);
    ASSERT_TRUE(tray.Form_Load());

    QElapsedTimer t;
    qint64 closedAt = -1;
    bool timerStoppedDuringEcho = false;
    ui.onModal = [&](QDialog& d) {
        auto& w = static_cast<frmPing&>(d);
        fill(w, QStringLiteral("10.99.1.1"), "3000", "3");
        QTimer::singleShot(0, &d, [&w] { clickStart(w); });
        QTimer::singleShot(300, &d, [&] {
            timerStoppedDuringEcho = !tray.Timer1()->isActive();
            closedAt = t.elapsed();
            d.close();
        });
        t.start();
        d.exec();
    };
    EnterNetns inA(a);
    ASSERT_TRUE(inA.ok());
    tray.mnPing_Click();
    const qint64 returnedAt = t.elapsed();

    EXPECT_TRUE(timerStoppedDuringEcho);
    ASSERT_GE(closedAt, 0);
    EXPECT_LT(closedAt, 1000) << "the echo yields while it waits";
    EXPECT_LT(returnedAt - closedAt, 500);
    EXPECT_TRUE(tray.Timer1()->isActive());
    EXPECT_EQ(state.WindowOpen, 0);
}
