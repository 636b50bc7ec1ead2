#include "alerts/Telephone.h"

#include "platform/EventLoop.h"
#include "platform/NumericText.h"

#include <QDeadlineTimer>
#include <QStringList>

namespace alerts {
namespace {

const QString kPortUnusable = QStringLiteral(
    "このポートは使用できません。ComPortプロパテイーを別のポートに設定してください。");

// One poll of the port: the event loop runs, then whatever is waiting is
// read. The short wait keeps the loop from spinning a core. False once the
// device has gone (a USB modem unplugged): a hung-up tty reads as end of
// file, which the port reports as a read error, and every later wait would
// return at once.
bool pollInto(QSerialPort& port, QByteArray& buffer) {
    platform::yieldToEventLoop();
    if (port.bytesAvailable() > 0 || port.waitForReadyRead(10))
        buffer += port.readAll();
    return port.error() != QSerialPort::ReadError && port.error() != QSerialPort::ResourceError;
}

} // namespace

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

TelephoneAlert::TelephoneAlert(monitor::EventLog& log, platform::Sleeper& sleeper)
    : m_log(log), m_sleeper(sleeper) {}

void TelephoneAlert::GoToTelephone(const QString& TEMP, const QString& PORT,
                                   const QString& C_Setting) {
    const QByteArray dial = "ATDT" + TEMP.toLatin1() + ";\r";
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
    QDeadlineTimer deadline(m_answerWaitMs);
    bool present = true;
    while (!deadline.hasExpired() && !answer.contains("OK") && (present = pollInto(port, answer)))
        ;
    if (present && answer.contains("OK"))
        m_sleeper.sleepMs(kHoldMs);

    if (present) {
        port.readAll();
        port.write("ATH\r");
        port.waitForBytesWritten(1000);
        QByteArray hangUp;
        QDeadlineTimer hangUpDeadline(m_hangUpAnswerMs);
        while (!hangUpDeadline.hasExpired() && !hangUp.contains("OK") &&
               !hangUp.contains("ERROR") && (present = pollInto(port, hangUp)))
            ;
    }
    port.close();
    if (!present)
        m_log.LOG_PRINT(QStringLiteral("COM"), kPortUnusable, -1);
}

} // namespace alerts
