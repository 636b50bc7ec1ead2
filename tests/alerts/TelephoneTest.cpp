#include "alerts/Telephone.h"

#include "support/FakePlatform.h"
#include "support/TestFolder.h"
#include "support/VirtualModem.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using alerts::parseSerialSettings;
using alerts::serialDevice;
using testsupport::eventRows;
using testsupport::RecordingSleeper;
using testsupport::TestFolder;
using testsupport::VirtualModem;
using Pieces = QList<VirtualModem::Piece>;

namespace {

const QString kComRow = QStringLiteral(
    "COM|このポートは使用できません。ComPortプロパテイーを別のポートに設定してください。|-1");

// A modem that answers every command at once with "OK".
Pieces answerOk(const QByteArray&) {
    return {{0, "\r\nOK\r\n"}};
}

class TelephoneTest : public ::testing::Test {
protected:
    TestFolder folder;
    AppState state{folder.folder()};
    testsupport::FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(3, 4, 5))};
    events::EventLog log{state, clock};
    RecordingSleeper sleeper;
    platform::Ending ending;
    alerts::TelephoneAlert phone{log, sleeper, ending};

    void SetUp() override {
        state.DatabasePath = state.AppFolder + QStringLiteral("PLW");
        // An answer that comes is waited for as long as a loaded machine may
        // need; a test whose modem never answers shortens the wait.
        phone.setAnswerWaitMs(30000);
        phone.setHangUpAnswerMs(300);
    }
    static constexpr int kNoAnswerMs = 1500;
};

#define SKIP_WITHOUT(modem)                                                                        \
    if (!(modem).failure().isEmpty())                                                              \
    GTEST_SKIP() << (modem).failure()

} // namespace

TEST(SerialSettings, TheFourFieldsAndWhatIsRefused) {
    const auto s = parseSerialSettings(QStringLiteral("19200,E,7,1.5"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->baudRate, 19200);
    EXPECT_EQ(s->parity, QSerialPort::EvenParity);
    EXPECT_EQ(s->dataBits, QSerialPort::Data7);
    EXPECT_EQ(s->stopBits, QSerialPort::OneAndHalfStop);
    EXPECT_TRUE(parseSerialSettings(QStringLiteral("9600,n,8,1")));
    EXPECT_EQ(parseSerialSettings(QStringLiteral("9600,S,8,2"))->parity, QSerialPort::SpaceParity);
    for (const char* bad : {"", "9600", "9600,N,8", "fast,N,8,1", "0,N,8,1", "9600,X,8,1",
                            "9600,N,9,1", "9600,N,8,3", "9600,N,8,1,1"})
        EXPECT_FALSE(parseSerialSettings(QLatin1String(bad))) << bad;

    EXPECT_EQ(serialDevice(QStringLiteral("1")), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(serialDevice(QStringLiteral(" 3")), QStringLiteral("/dev/ttyS2"));
    EXPECT_EQ(serialDevice(QStringLiteral("/dev/ttyACM0")), QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(serialDevice(QStringLiteral("0")), QString());
    EXPECT_EQ(serialDevice(QStringLiteral("COM1")), QString());
}

TEST_F(TelephoneTest, DialsHoldsAfterOkAndHangsUp) {
    VirtualModem modem(answerOk);
    SKIP_WITHOUT(modem);
    phone.GoToTelephone(QStringLiteral("03") + QStringLiteral("1234") + QStringLiteral("5678"),
                        modem.programSide(), QStringLiteral("9600,N,8,1"));
    const QByteArray sent = "ATDT0312345678;\rATH\r";
    EXPECT_EQ(modem.received(sent.size()), sent);
    EXPECT_EQ(sleeper.waits, QList<int>{alerts::TelephoneAlert::kHoldMs});
    EXPECT_EQ(eventRows(state.DatabasePath), QStringList());
}

// The number as typed in the settings reaches the modem as digits; one the
// modem cannot dial is not sent at all and leaves its row.
TEST_F(TelephoneTest, TheNumberIsDialledAsDigitsOrNotAtAll) {
    VirtualModem modem(answerOk);
    SKIP_WITHOUT(modem);
    phone.GoToTelephone(QStringLiteral("０３-1234-5678"), modem.programSide(),
                        QStringLiteral("9600,N,8,1"));
    phone.GoToTelephone(QStringLiteral("03;ATH"), modem.programSide(),
                        QStringLiteral("9600,N,8,1"));
    const QByteArray sent = "ATDT0312345678;\rATH\r";
    EXPECT_EQ(modem.received(sent.size()), sent);
    EXPECT_EQ(
        eventRows(state.DatabasePath),
        QStringList{QStringLiteral(
            "TEL|電話 03;ATH の呼び出しに失敗しました: ダイヤルできない文字が含まれています|-1")});
}

TEST_F(TelephoneTest, AnOkInPiecesIsFound) {
    VirtualModem modem([](const QByteArray& command) -> Pieces {
        if (command.startsWith("ATDT"))
            return {{0, "\r\nO"}, {150, "K"}, {150, "\r\n"}};
        return {{0, "OK\r\n"}};
    });
    SKIP_WITHOUT(modem);
    phone.GoToTelephone(QStringLiteral("117"), modem.programSide(), QStringLiteral("9600,N,8,1"));
    EXPECT_EQ(sleeper.waits, QList<int>{alerts::TelephoneAlert::kHoldMs});
    const QByteArray sent = "ATDT117;\rATH\r";
    EXPECT_EQ(modem.received(sent.size()), sent);
}

// A final result other than OK ends the call at once; a silent modem is
// given up after the answer wait. Either way the modem is hung up, the line
// is not held and one row says why the telephone did not ring.
TEST_F(TelephoneTest, AModemThatDoesNotConnectIsHungUpAtOnceWithARow) {
    const QString failed = QStringLiteral("TEL|電話 117 の呼び出しに失敗しました: ");
    const struct {
        QByteArray answer;
        QString row;
    } cases[] = {
        {"\r\nBUSY\r\n", failed + QStringLiteral("話し中です (BUSY)|-1")},
        {"\r\nNO CARRIER\r\n",
         failed + QStringLiteral("回線がつながりませんでした (NO CARRIER)|-1")},
        {"\r\nERROR\r\n",
         failed + QStringLiteral("モデムがダイヤルのコマンドを受け付けませんでした (ERROR)|-1")},
        {"\r\nNO DIALTONE\r\n",
         failed + QStringLiteral(
                      "ダイヤルトーンがありません。電話線を確認してください (NO DIALTONE)|-1")},
        {"\r\nNO ANSWER\r\n", failed + QStringLiteral("相手が応答しませんでした (NO ANSWER)|-1")},
        {"ATDT117;\r7\r", failed + QStringLiteral("話し中です (BUSY)|-1")}, // echo, then ATV0
        {{}, failed + QStringLiteral("モデムが 1 秒以内に応答しませんでした|-1")},
    };
    QStringList rows;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.isEmpty() ? "silent modem" : c.answer.toStdString());
        sleeper.waits.clear();
        VirtualModem modem([answer = c.answer](const QByteArray& command) -> Pieces {
            if (command.startsWith("ATDT") && !answer.isEmpty())
                return {{0, answer}};
            return {};
        });
        SKIP_WITHOUT(modem);
        phone.setAnswerWaitMs(c.answer.isEmpty() ? kNoAnswerMs : 30000);
        QElapsedTimer t;
        t.start();
        phone.GoToTelephone(QStringLiteral("117"), modem.programSide(),
                            QStringLiteral("9600,N,8,1"));
        EXPECT_LT(t.elapsed(), c.answer.isEmpty() ? 10000 : 5000);
        EXPECT_EQ(sleeper.waits, QList<int>());
        const QByteArray sent = "ATDT117;\rATH\r";
        EXPECT_EQ(modem.received(sent.size()), sent);
        rows << c.row;
        EXPECT_EQ(eventRows(state.DatabasePath), rows);
    }
}

// The end of the program reaches the call in each of its waits: the modem
// is hung up at once, nothing more is sent and no row is written.
TEST_F(TelephoneTest, TheProgramsEndHangsUpTheCallAtOnce) {
    for (const bool answers : {false, true}) {
        SCOPED_TRACE(answers ? "during the hold" : "while the modem dials");
        platform::Ending end;
        platform::EventLoopSleeper pause(end);
        alerts::TelephoneAlert call{log, pause, end};
        call.setAnswerWaitMs(30000);
        VirtualModem modem([answers](const QByteArray& command) -> Pieces {
            if (command.startsWith("ATDT") && answers)
                return {{0, "\r\nOK\r\n"}};
            return {};
        });
        SKIP_WITHOUT(modem);
        QTimer::singleShot(800, [&end] { end.request(); });
        QElapsedTimer t;
        t.start();
        call.GoToTelephone(QStringLiteral("117"), modem.programSide(),
                           QStringLiteral("9600,N,8,1"));
        EXPECT_LT(t.elapsed(), 2500);
        const QByteArray sent = "ATDT117;\rATH\r";
        EXPECT_EQ(modem.received(sent.size()), sent);
        // A call asked for after the end is not made at all.
        call.GoToTelephone(QStringLiteral("118"), modem.programSide(),
                           QStringLiteral("9600,N,8,1"));
        QThread::msleep(200);
        EXPECT_EQ(modem.received(), sent) << "the modem was sent more after the hang-up";
        EXPECT_EQ(eventRows(state.DatabasePath), QStringList());
    }
}

TEST_F(TelephoneTest, ALateAnswerFromTheLastCallIsNotThisCallsOk) {
    VirtualModem modem([](const QByteArray&) -> Pieces { return {}; });
    SKIP_WITHOUT(modem);
    phone.setAnswerWaitMs(kNoAnswerMs);
    phone.GoToTelephone(QStringLiteral("1"), modem.programSide(), QStringLiteral("9600,N,8,1"));
    // The answer to the first call's ATH comes after its port has closed.
    ASSERT_TRUE(modem.leaveInLine("\r\nOK\r\n"));
    phone.GoToTelephone(QStringLiteral("2"), modem.programSide(), QStringLiteral("9600,N,8,1"));
    EXPECT_EQ(sleeper.waits, QList<int>()) << "a stale OK was taken for an answer";
    const QByteArray sent = "ATDT1;\rATH\rATDT2;\rATH\r";
    EXPECT_EQ(modem.received(sent.size()), sent);
}

TEST_F(TelephoneTest, AnUnusablePortIsOneComRowAndNothingSent) {
    VirtualModem modem(answerOk);
    SKIP_WITHOUT(modem);
    const QString cases[][2] = {
        {folder.path(QStringLiteral("no-such-tty")), QStringLiteral("9600,N,8,1")},
        {QStringLiteral("0"), QStringLiteral("9600,N,8,1")},
        {modem.programSide(), QStringLiteral("9600;N;8;1")},
    };
    QStringList expected;
    for (const auto& c : cases) {
        phone.GoToTelephone(QStringLiteral("117"), c[0], c[1]);
        expected << kComRow;
        EXPECT_EQ(eventRows(state.DatabasePath), expected) << c[0] << " " << c[1];
    }
    QThread::msleep(100);
    EXPECT_EQ(modem.received(), QByteArray());
    EXPECT_EQ(sleeper.waits, QList<int>());
}

TEST_F(TelephoneTest, AVanishedPortEndsTheCallAtOnceWithOneComRow) {
    VirtualModem modem([](const QByteArray& command) -> Pieces {
        if (command.startsWith("ATDT"))
            return {{100, {}, true}};
        return {};
    });
    SKIP_WITHOUT(modem);
    phone.setAnswerWaitMs(30000);
    phone.setHangUpAnswerMs(30000);
    phone.GoToTelephone(QStringLiteral("117"), modem.programSide(), QStringLiteral("9600,N,8,1"));
    const auto end = std::chrono::steady_clock::now();
    ASSERT_TRUE(modem.unpluggedAt());
    EXPECT_LT(end - *modem.unpluggedAt(), std::chrono::milliseconds(1000))
        << "the wait went on after the device had gone";
    EXPECT_EQ(eventRows(state.DatabasePath), QStringList{kComRow});
    EXPECT_EQ(sleeper.waits, QList<int>());
}
