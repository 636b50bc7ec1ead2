#include "alerts/Telephone.h"

#include "platform/EventLoop.h"
#include "platform/NumericText.h"

#include <QDeadlineTimer>
#include <QStringList>

namespace alerts {
namespace {

const QString kPortUnusable = QStringLiteral(
    "このポートは使用できません。ComPortプロパテイーを別のポートに設定してください。");

const QString kCallFailed = QStringLiteral("電話 %1 の呼び出しに失敗しました: %2");

// One look at the port: whatever is waiting is read, without blocking (the
// caller's wait runs the event loop). False once the device has gone (a USB
// modem unplugged): a hung-up tty reads as end of file, which the port
// reports as a read error.
bool readInto(QSerialPort& port, QByteArray& buffer) {
    if (port.bytesAvailable() > 0 || port.waitForReadyRead(0))
        buffer += port.readAll();
    return port.error() != QSerialPort::ReadError && port.error() != QSerialPort::ResourceError;
}

// The final results that end a dial without the call, as words and as the
// number ATV0 gives, with what the row says.
const struct {
    const char* words;
    char digit;
    ModemResult result;
    const char* text;
} kFailures[] = {
    {"BUSY", '7', ModemResult::Busy, "話し中です (BUSY)"},
    {"NO CARRIER", '3', ModemResult::NoCarrier, "回線がつながりませんでした (NO CARRIER)"},
    {"ERROR", '4', ModemResult::Error, "モデムがダイヤルのコマンドを受け付けませんでした (ERROR)"},
    {"NO DIALTONE", '6', ModemResult::NoDialTone,
     "ダイヤルトーンがありません。電話線を確認してください (NO DIALTONE)"},
    {"NO DIAL TONE", '6', ModemResult::NoDialTone,
     "ダイヤルトーンがありません。電話線を確認してください (NO DIALTONE)"},
    {"NO ANSWER", '8', ModemResult::NoAnswer, "相手が応答しませんでした (NO ANSWER)"},
};

QString resultText(ModemResult result) {
    for (const auto& f : kFailures)
        if (f.result == result)
            return QString::fromUtf8(f.text);
    return QString();
}

} // namespace

ModemResult modemResult(const QByteArray& answer) {
    if (answer.contains("OK"))
        return ModemResult::Ok;
    // A numeric result is a line of one digit ended by CR (the last piece
    // counts once its CR came); the echo of the dial command is never one.
    const QList<QByteArray> lines = answer.split('\r');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line == "0")
            return ModemResult::Ok;
        for (const auto& f : kFailures)
            if (line.size() == 1 && line[0] == f.digit)
                return f.result;
    }
    for (const auto& f : kFailures)
        if (answer.contains(f.words))
            return f.result;
    return ModemResult::None;
}

std::optional<SerialSettings> parseSerialSettings(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    SerialSettings s;
    bool ok = false;
    s.baudRate = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baudRate <= 0)
        return std::nullopt;
    const QString parity = parts[1].trimmed().toUpper();
    if (parity == QLatin1String("N"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("M"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("S"))
        s.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;
    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return std::nullopt;
    s.dataBits = static_cast<QSerialPort::DataBits>(bits);
    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return s;
}

QString serialDevice(const QString& comport) {
    const QString value = comport.trimmed();
    if (value.startsWith(QLatin1Char('/')))
        return value;
    const qint16 n = platform::toInt16(value);
    if (n < 1)
        return QString();
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}

TelephoneAlert::TelephoneAlert(events::EventLog& log, platform::Sleeper& sleeper,
                               const platform::Ending& ending)
    : m_log(log), m_sleeper(sleeper), m_ending(ending) {}

void TelephoneAlert::GoToTelephone(const QString& TEMP, const QString& PORT,
                                   const QString& C_Setting) {
    if (m_ending.requested())
        return;
    // A number typed with full-width digits, hyphens or blanks reaches the
    // modem as the digits it dials; one it cannot dial is never sent.
    const QString digits = platform::dialString(TEMP);
    if (digits.isEmpty()) {
        m_log.LOG_PRINT(
            QStringLiteral("TEL"),
            kCallFailed.arg(TEMP, QStringLiteral("ダイヤルできない文字が含まれています")), -1);
        return;
    }
    const QByteArray dial = "ATDT" + digits.toLatin1() + ";\r";
    const QString device = serialDevice(PORT);
    const auto settings = parseSerialSettings(C_Setting);

    QSerialPort port;
    bool opened = false;
    if (!device.isEmpty() && settings) {
        port.setPortName(device);
        opened = port.open(QIODevice::ReadWrite);
        // Speed or framing the device refuses is as unusable as no device.
        if (opened &&
            !(port.setBaudRate(settings->baudRate) && port.setParity(settings->parity) &&
              port.setDataBits(settings->dataBits) && port.setStopBits(settings->stopBits))) {
            port.close();
            opened = false;
        }
    }
    if (!opened) {
        m_log.LOG_PRINT(QStringLiteral("COM"), kPortUnusable, -1);
        return;
    }

    // Whatever an earlier call left in the line (a late answer to its ATH)
    // must not pass for this call's "OK".
    port.clear(QSerialPort::AllDirections);
    port.readAll();
    port.write(dial);
    port.waitForBytesWritten(1000);

    QByteArray answer;
    bool present = true;
    const platform::WaitResult waited =
        platform::waitFor(m_ending, QDeadlineTimer(m_answerWaitMs), [&] {
            present = readInto(port, answer);
            return !present || modemResult(answer) != ModemResult::None;
        });
    const ModemResult result = modemResult(answer);
    if (present && result == ModemResult::Ok)
        m_sleeper.sleepMs(kHoldMs);

    if (present) {
        port.readAll();
        port.write("ATH\r");
        port.waitForBytesWritten(1000);
        // At the end there is no next call to mislead: the answer gets only
        // a moment.
        QByteArray hangUp;
        const auto answered = [&] {
            present = readInto(port, hangUp);
            return !present || hangUp.contains("OK") || hangUp.contains("ERROR");
        };
        if (platform::waitFor(m_ending, QDeadlineTimer(m_hangUpAnswerMs), answered) ==
            platform::WaitResult::Ended)
            platform::waitFor(platform::Ending(), QDeadlineTimer(kEndingHangUpMs), answered);
    }
    port.close();
    if (!present) {
        m_log.LOG_PRINT(QStringLiteral("COM"), kPortUnusable, -1);
        return;
    }
    if (waited == platform::WaitResult::Ended || m_ending.requested() || result == ModemResult::Ok)
        return;
    m_log.LOG_PRINT(
        QStringLiteral("TEL"),
        kCallFailed.arg(TEMP, result == ModemResult::None
                                  ? QStringLiteral("モデムが %1 秒以内に応答しませんでした")
                                        .arg(m_answerWaitMs / 1000)
                                  : resultText(result)),
        -1);
}

} // namespace alerts
