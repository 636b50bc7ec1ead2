#include "tools/frmPing.h"

#include "platform/AnsiText.h"
#include "probe/IcmpSocket.h"
#include "support/FakeWindowSystem.h"
#include "support/TestFolder.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <gtest/gtest.h>

using testsupport::FakeWindowSystem;
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
